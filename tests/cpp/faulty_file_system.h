// Files that fail on request: the Nth call of one kind fails with an errno,
// or, for a write, writes only half of its bytes (and the next write fails
// with the errno, unless it is 0). Every call is counted and recorded.
#pragma once

#include <cerrno>
#include <optional>
#include <utility>
#include <string_view>
#include <vector>

#include "base/file_system.h"

namespace quintrel::base {

enum class Op : uint8_t { Open, Read, Write, Sync, SyncDir, Rename, Remove, Truncate, Lock, MakeDir };
inline constexpr std::string_view kOpNames[] = {"open",   "read",   "write",    "fsync", "directory sync",
                                                "rename", "unlink", "truncate", "flock", "mkdir"};

struct Fault {
  Op op = Op::Write;
  int nth = 1;       // 1 for the first call of `op` after arming
  int code = EIO;    // the errno; 0 with `short_write`: the short write alone
  bool short_write = false;
};

class FaultyFileSystem final : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& inner) : inner_(inner) {}

  void arm(Fault f) {
    fault_ = f;
    seen_ = 0;
    struck_ = false;
    pending_.reset();
  }
  void disarm() { fault_.reset(), pending_.reset(); }
  // Whether the armed fault has struck.
  bool struck() const { return struck_; }
  std::vector<Op>& calls() { return calls_; }

  IoResult<int> open(const std::string& path, OpenMode mode) override {
    return pass(Op::Open, [&] { return inner_.open(path, mode); });
  }
  IoResult<void> close(int file) override { return inner_.close(file); }
  IoResult<size_t> read_at(int file, uint64_t offset, std::span<char> out) override {
    return pass(Op::Read, [&] { return inner_.read_at(file, offset, out); });
  }
  IoResult<size_t> write(int file, std::string_view data) override {
    calls_.push_back(Op::Write);
    if (pending_) return std::unexpected(os_error(*std::exchange(pending_, std::nullopt)));
    if (!fault_ || fault_->op != Op::Write || ++seen_ != fault_->nth) return inner_.write(file, data);
    struck_ = true;
    if (!fault_->short_write) return std::unexpected(os_error(fault_->code));
    if (fault_->code != 0) pending_ = fault_->code;
    return inner_.write(file, data.substr(0, data.size() / 2));
  }
  IoResult<uint64_t> seek_end(int file) override { return inner_.seek_end(file); }
  IoResult<uint64_t> size(int file) override { return inner_.size(file); }
  IoResult<void> sync(int file) override { return pass(Op::Sync, [&] { return inner_.sync(file); }); }
  IoResult<void> truncate(int file, uint64_t size) override {
    return pass(Op::Truncate, [&] { return inner_.truncate(file, size); });
  }
  IoResult<void> lock(int file) override { return pass(Op::Lock, [&] { return inner_.lock(file); }); }
  IoResult<void> make_dir(const std::string& path) override {
    return pass(Op::MakeDir, [&] { return inner_.make_dir(path); });
  }
  IoResult<void> sync_dir(const std::string& path) override {
    return pass(Op::SyncDir, [&] { return inner_.sync_dir(path); });
  }
  IoResult<void> rename(const std::string& from, const std::string& to) override {
    return pass(Op::Rename, [&] { return inner_.rename(from, to); });
  }
  IoResult<void> remove(const std::string& path) override {
    return pass(Op::Remove, [&] { return inner_.remove(path); });
  }
  IoResult<PathType> stat(const std::string& path) override { return inner_.stat(path); }

 private:
  // Records the call, then fails it if it is the armed one.
  template <class F>
  auto pass(Op op, F&& call) -> decltype(call()) {
    calls_.push_back(op);
    if (!fault_ || fault_->op != op || ++seen_ != fault_->nth) return call();
    struck_ = true;
    return std::unexpected(os_error(fault_->code));
  }

  FileSystem& inner_;
  std::optional<Fault> fault_;
  int seen_ = 0;
  bool struck_ = false;
  std::optional<int> pending_;  // the errno of the write after a short one
  std::vector<Op> calls_;
};

}  // namespace quintrel::base
