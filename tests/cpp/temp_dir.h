// A new directory under the system's temporary directory, removed with
// everything in it when the test is done.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace quintrel::fixture {

struct TempDir {
  std::string path;
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quintrel-test-XXXXXX").string();
    path = ::mkdtemp(tmpl.data());
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
};

}  // namespace quintrel::fixture
