// Operating-system errors and owned descriptors: the small file layer that
// the manifest walk and the log share.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace quintrel::base {

// Why a file operation failed: an operating-system error, whose text is
// "<system message> (os error N)", or a failure this system names itself
// (bad data, a bad argument), whose text is its own.
struct IoError {
  enum class Kind : uint8_t { Os, InvalidData, InvalidInput, Other };
  Kind kind = Kind::Os;
  int os_code = 0;  // errno of an operating-system failure, else 0
  std::string message;
  bool operator==(const IoError&) const = default;
};

template <class T>
using IoResult = std::expected<T, IoError>;

// The refusal of a path the system's calls would cut at its NUL character.
inline constexpr std::string_view kNulInPathText = "path contains a NUL character";

IoError os_error(int code);
IoError io_error(IoError::Kind kind, std::string_view text);
inline IoError invalid_data(std::string_view text) { return io_error(IoError::Kind::InvalidData, text); }

// An owned file descriptor, closed when destroyed.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset();

 private:
  int fd_ = -1;
};

// An owned directory stream, closed when destroyed.
class DirStream {
 public:
  // Takes ownership of `fd` on success; on failure the caller keeps it.
  static IoResult<DirStream> from_fd(int fd);
  DirStream(DirStream&& o) noexcept : dir_(std::exchange(o.dir_, nullptr)) {}
  DirStream& operator=(DirStream&& o) noexcept {
    if (this != &o) std::swap(dir_, o.dir_);
    return *this;
  }
  DirStream(const DirStream&) = delete;
  DirStream& operator=(const DirStream&) = delete;
  ~DirStream();
  // The next entry, or none at the end.
  IoResult<const dirent*> next();

 private:
  explicit DirStream(DIR* dir) : dir_(dir) {}
  DIR* dir_ = nullptr;
};

}  // namespace quintrel::base
