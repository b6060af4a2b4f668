#include "base/file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quintrel::base {

IoError os_error(int code) {
  char buf[256];
  // The GNU form returns the text, which need not be in buf.
  const char* text = strerror_r(code, buf, sizeof buf);
  return IoError{IoError::Kind::Os, code, std::string(text) + " (os error " + std::to_string(code) + ")"};
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
