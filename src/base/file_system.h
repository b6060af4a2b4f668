// The file operations of the log behind one interface, so that the same log
// code runs on the operating system's files, in memory (test fixtures and
// benchmarks that build large logs), or with any one call failing (tests).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/file.h"

namespace quintrel::base {

// Every file is created with permission bits 0o666 before the umask, and is
// never inherited by a child process.
enum class OpenMode : uint8_t {
  WriteKeep,      // write only; created if absent, never truncated
  ReadWriteKeep,  // read and write; created if absent, never truncated
  CreateNew,      // write only; always created: fails (EEXIST) when anything,
                  // a link included, stands at the name, so no link is followed
};

enum class PathType : uint8_t { Directory, Other };

// Calls take and return plain handles (descriptors for the operating system's
// files); File owns one. Failures are operating-system errors: errno values
// with their system texts.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual IoResult<int> open(const std::string& path, OpenMode mode) = 0;
  virtual IoResult<void> close(int file) = 0;
  // Up to out.size() bytes from `offset`; fewer only at the end of the file.
  virtual IoResult<size_t> read_at(int file, uint64_t offset, std::span<char> out) = 0;
  // Writes at the file's position and advances it; may write only a part.
  virtual IoResult<size_t> write(int file, std::string_view data) = 0;
  // Moves the position to the end; returns it.
  virtual IoResult<uint64_t> seek_end(int file) = 0;
  virtual IoResult<uint64_t> size(int file) = 0;
  // A full flush of data and metadata to the device (F_FULLFSYNC on Apple
  // platforms, fsync elsewhere).
  virtual IoResult<void> sync(int file) = 0;
  virtual IoResult<void> truncate(int file, uint64_t size) = 0;
  // An exclusive, non-blocking advisory lock on the whole file (flock); fails
  // with EWOULDBLOCK while another open file holds it.
  virtual IoResult<void> lock(int file) = 0;

  // Creates one directory (0o777 before the umask); EEXIST if the name is taken.
  virtual IoResult<void> make_dir(const std::string& path) = 0;
  // Opens the directory read-only, syncs it fully and closes it.
  virtual IoResult<void> sync_dir(const std::string& path) = 0;
  // Replaces `to` in one atomic step.
  virtual IoResult<void> rename(const std::string& from, const std::string& to) = 0;
  virtual IoResult<void> remove(const std::string& path) = 0;
  // What is at `path`, following links.
  virtual IoResult<PathType> stat(const std::string& path) = 0;
};

// The operating system's files.
FileSystem& posix_file_system();

// An open file of a FileSystem, closed when destroyed.
class File {
 public:
  File() = default;
  File(FileSystem& fs, int handle) : fs_(&fs), handle_(handle) {}
  File(File&& o) noexcept : fs_(std::exchange(o.fs_, nullptr)), handle_(o.handle_) {}
  File& operator=(File&& o) noexcept {
    if (this != &o) {
      (void)close();
      fs_ = std::exchange(o.fs_, nullptr);
      handle_ = o.handle_;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { (void)close(); }

  static IoResult<File> open(FileSystem& fs, const std::string& path, OpenMode mode);

  bool is_open() const { return fs_ != nullptr; }
  int handle() const { return handle_; }
  FileSystem& fs() const { return *fs_; }
  IoResult<void> close();
  // Writes every byte, going on after a partial write.
  IoResult<void> write_all(std::string_view data);

 private:
  FileSystem* fs_ = nullptr;
  int handle_ = -1;
};

// `dir`/`name`; an empty `dir` is the current directory.
std::string join_path(std::string_view dir, std::string_view name);
// The directory holding `path` ("." for a bare name, "/" for a name under the
// root), or "" when `path` names the root or nothing.
std::string parent_path(std::string_view path);

}  // namespace quintrel::base
