#include "base/file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quintrel::base {

namespace {

template <class F>
auto retry(F f) {
  decltype(f()) r;
  do r = f();
  while (r < 0 && errno == EINTR);
  return r;
}

IoResult<void> check(int rc) {
  if (rc < 0) return std::unexpected(os_error(errno));
  return {};
}

// A full flush of a file's or a directory's data and metadata to the device.
// On Apple platforms fsync leaves the data in the drive's cache; only
// F_FULLFSYNC makes the drive write it. Where a file system refuses that as
// unsupported, fsync is the most it offers.
int full_sync(int fd) {
#ifdef __APPLE__
  int rc = retry([&] { return ::fcntl(fd, F_FULLFSYNC); });
  if (rc == 0 || (errno != ENOTSUP && errno != EOPNOTSUPP)) return rc;
#endif
  return retry([&] { return ::fsync(fd); });
}

class PosixFileSystem final : public FileSystem {
 public:
  IoResult<int> open(const std::string& path, OpenMode mode) override {
    int flags = O_CLOEXEC | O_CREAT;
    switch (mode) {
      case OpenMode::WriteKeep: flags |= O_WRONLY; break;
      case OpenMode::ReadWriteKeep: flags |= O_RDWR; break;
      case OpenMode::CreateNew: flags |= O_WRONLY | O_EXCL; break;
    }
    int fd = retry([&] { return ::open(path.c_str(), flags, 0666); });
    if (fd < 0) return std::unexpected(os_error(errno));
    return fd;
  }
  IoResult<void> close(int file) override {
    // The descriptor is gone whatever close reports; EINTR must not retry.
    return check(::close(file));
  }
  IoResult<size_t> read_at(int file, uint64_t offset, std::span<char> out) override {
    size_t done = 0;
    while (done < out.size()) {
      ssize_t got = retry([&] {
        return ::pread(file, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      });
      if (got < 0) return std::unexpected(os_error(errno));
      if (got == 0) break;
      done += static_cast<size_t>(got);
    }
    return done;
  }
  IoResult<size_t> write(int file, std::string_view data) override {
    ssize_t put = retry([&] { return ::write(file, data.data(), data.size()); });
    if (put < 0) return std::unexpected(os_error(errno));
    return static_cast<size_t>(put);
  }
  IoResult<uint64_t> seek_end(int file) override {
    off_t at = ::lseek(file, 0, SEEK_END);
    if (at < 0) return std::unexpected(os_error(errno));
    return static_cast<uint64_t>(at);
  }
  IoResult<uint64_t> size(int file) override {
    struct stat st;
    if (::fstat(file, &st) != 0) return std::unexpected(os_error(errno));
    return static_cast<uint64_t>(st.st_size);
  }
  IoResult<void> sync(int file) override { return check(full_sync(file)); }
  IoResult<void> truncate(int file, uint64_t size) override {
    return check(retry([&] { return ::ftruncate(file, static_cast<off_t>(size)); }));
  }
  IoResult<void> lock(int file) override { return check(retry([&] { return ::flock(file, LOCK_EX | LOCK_NB); })); }
  IoResult<void> make_dir(const std::string& path) override { return check(::mkdir(path.c_str(), 0777)); }
  IoResult<void> sync_dir(const std::string& path) override {
    int raw = retry([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (raw < 0) return std::unexpected(os_error(errno));
    Fd fd(raw);
    return check(full_sync(fd.get()));
  }
  IoResult<void> rename(const std::string& from, const std::string& to) override {
    return check(::rename(from.c_str(), to.c_str()));
  }
  IoResult<void> remove(const std::string& path) override { return check(::unlink(path.c_str())); }
  IoResult<PathType> stat(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::unexpected(os_error(errno));
    return S_ISDIR(st.st_mode) ? PathType::Directory : PathType::Other;
  }
};

}  // namespace

FileSystem& posix_file_system() {
  static PosixFileSystem fs;
  return fs;
}

IoResult<File> File::open(FileSystem& fs, const std::string& path, OpenMode mode) {
  auto handle = fs.open(path, mode);
  if (!handle) return std::unexpected(std::move(handle.error()));
  return File(fs, *handle);
}

IoResult<void> File::close() {
  if (!fs_) return {};
  return std::exchange(fs_, nullptr)->close(handle_);
}

IoResult<void> File::write_all(std::string_view data) {
  while (!data.empty()) {
    auto put = fs_->write(handle_, data);
    if (!put) return std::unexpected(std::move(put.error()));
    // A device that takes nothing would otherwise be asked forever.
    if (*put == 0) return std::unexpected(os_error(EIO));
    data.remove_prefix(*put);
  }
  return {};
}

std::string join_path(std::string_view dir, std::string_view name) {
  if (dir.empty()) return std::string(name);
  std::string out(dir);
  if (out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

std::string parent_path(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path.empty() || path == "/") return "";
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  while (slash > 0 && path[slash - 1] == '/') --slash;
  return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

}  // namespace quintrel::base
