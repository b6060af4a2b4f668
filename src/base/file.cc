#include "base/file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quintrel::base {

namespace {

// strerror_r comes in two forms. The GNU one, which glibc gives g++, returns
// the text, which need not be in buf; the POSIX one, the only one macOS has,
// writes the text into buf and returns an error number.
[[maybe_unused]] const char* strerror_r_text(const char* text, const char*) { return text; }
[[maybe_unused]] const char* strerror_r_text(int, const char* buf) { return buf; }

// The system's text for an errno value.
std::string system_text(int code) {
  char buf[256] = "Unknown error";
  return strerror_r_text(strerror_r(code, buf, sizeof buf), buf);
}

}  // namespace

IoError os_error(int code) {
  return IoError{IoError::Kind::Os, code, system_text(code) + " (os error " + std::to_string(code) + ")"};
}

IoError io_error(IoError::Kind kind, std::string_view text) { return IoError{kind, 0, std::string(text)}; }

void Fd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

IoResult<DirStream> DirStream::from_fd(int fd) {
  DIR* dir = ::fdopendir(fd);
  if (!dir) return std::unexpected(os_error(errno));
  return DirStream(dir);
}

DirStream::~DirStream() {
  if (dir_) ::closedir(dir_);
}

IoResult<const dirent*> DirStream::next() {
  errno = 0;
  const dirent* d = ::readdir(dir_);
  if (!d && errno != 0) return std::unexpected(os_error(errno));
  return d;
}

}  // namespace quintrel::base
