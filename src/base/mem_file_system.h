// Files in memory, for logs built by tests and benchmarks without touching a
// disk. It keeps apart what a sync made durable, so that crash() can show
// what a power loss would leave: file contents as of their last sync, and
// directory entries as of their directory's last sync.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/file_system.h"

namespace quintrel::base {

class MemFileSystem final : public FileSystem {
 public:
  MemFileSystem();
  ~MemFileSystem() override;
  MemFileSystem(const MemFileSystem&) = delete;
  MemFileSystem& operator=(const MemFileSystem&) = delete;

  IoResult<int> open(const std::string& path, OpenMode mode) override;
  IoResult<void> close(int file) override;
  IoResult<size_t> read_at(int file, uint64_t offset, std::span<char> out) override;
  IoResult<size_t> write(int file, std::string_view data) override;
  IoResult<uint64_t> seek_end(int file) override;
  IoResult<uint64_t> size(int file) override;
  IoResult<void> sync(int file) override;
  IoResult<void> truncate(int file, uint64_t size) override;
  IoResult<void> lock(int file) override;
  IoResult<void> make_dir(const std::string& path) override;
  IoResult<void> sync_dir(const std::string& path) override;
  IoResult<void> rename(const std::string& from, const std::string& to) override;
  IoResult<void> remove(const std::string& path) override;
  IoResult<PathType> stat(const std::string& path) override;

  // Forgets every open file and everything no sync made durable.
  void crash();

  // The current content of a regular file, or none.
  std::optional<std::string> contents(const std::string& path) const;
  // Writes a regular file whole, durably, creating it if absent (its
  // directory must exist).
  void put(const std::string& path, std::string data);
  // The names in a directory, in byte order.
  std::vector<std::string> list(const std::string& path) const;

 private:
  struct Node;
  struct Handle;
  using NodePtr = std::shared_ptr<Node>;

  // The directory holding `path` and the last component; ENOENT or ENOTDIR
  // when the directory is missing.
  IoResult<std::pair<NodePtr, std::string>> parent_of(const std::string& path) const;
  IoResult<NodePtr> lookup(const std::string& path) const;
  IoResult<Handle*> handle(int file);

  NodePtr root_;
  std::map<int, Handle> handles_;
  int next_handle_ = 3;
};

}  // namespace quintrel::base
