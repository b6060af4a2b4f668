// The file layer: path helpers, and the in-memory files' model of what a
// power loss keeps, against which the log's durability is tested.
#include <gtest/gtest.h>

#include "base/mem_file_system.h"

namespace quintrel::base {
namespace {

TEST(FileSystem, Paths) {
  const std::pair<std::string, std::string> parents[] = {
      {"a/b", "a"}, {"a/b/", "a"}, {"a//b", "a"}, {"/a", "/"}, {"a", "."}, {"/", ""}, {"", ""}, {"//a//", "/"}};
  for (const auto& [path, parent] : parents) EXPECT_EQ(parent_path(path), parent) << path;
  EXPECT_EQ(join_path("", ".lock"), ".lock");
  EXPECT_EQ(join_path("d/", ".lock"), "d/.lock");
  EXPECT_EQ(join_path("d", ".lock"), "d/.lock");
}

TEST(FileSystem, MemoryKeepsOnlyWhatWasSynced) {
  MemFileSystem fs;
  ASSERT_TRUE(fs.make_dir("d"));
  ASSERT_TRUE(fs.sync_dir("/"));
  {
    File f = File::open(fs, "d/f", OpenMode::ReadWriteKeep).value();
    ASSERT_TRUE(f.write_all("hello"));
    ASSERT_TRUE(fs.sync(f.handle()));
    ASSERT_TRUE(fs.sync_dir("d"));
    ASSERT_TRUE(f.write_all(" world"));  // never synced
    File g = File::open(fs, "d/g", OpenMode::CreateNew).value();
    EXPECT_EQ(fs.open("d/g", OpenMode::CreateNew).error().os_code, EEXIST);
    ASSERT_TRUE(g.write_all("x"));
    ASSERT_TRUE(fs.sync(g.handle()));  // its entry is never synced
    EXPECT_EQ(fs.lock(f.handle()), IoResult<void>());
    File again = File::open(fs, "d/f", OpenMode::WriteKeep).value();
    EXPECT_EQ(fs.lock(again.handle()).error().os_code, EWOULDBLOCK);
  }
  EXPECT_EQ(fs.contents("d/f"), "hello world");
  fs.crash();
  EXPECT_EQ(fs.contents("d/f"), "hello");
  EXPECT_EQ(fs.list("d"), std::vector<std::string>{"f"});

  // A rename is durable once its directory is synced.
  fs.put("d/t", "new");
  ASSERT_TRUE(fs.rename("d/t", "d/f"));
  fs.crash();
  EXPECT_EQ(fs.contents("d/f"), "hello");
  ASSERT_TRUE(fs.rename("d/t", "d/f"));
  ASSERT_TRUE(fs.sync_dir("d"));
  fs.crash();
  EXPECT_EQ(fs.contents("d/f"), "new");
  EXPECT_EQ(fs.stat("d/t").error().message, "No such file or directory (os error 2)");
  EXPECT_EQ(fs.open("d/f/x", OpenMode::WriteKeep).error().os_code, ENOTDIR);
}

}  // namespace
}  // namespace quintrel::base
