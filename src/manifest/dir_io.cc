#include "manifest/dir_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quintrel::manifest {

namespace {

int open_retry(int dir_fd, const char* name, int flags) {
  int fd;
  do fd = ::openat(dir_fd, name, flags);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// Whether two stats show the same modification time, to the nanosecond.
// Apple's stat names it st_mtimespec.
bool same_modification_time(const struct stat& a, const struct stat& b) {
#ifdef __APPLE__
  const timespec &x = a.st_mtimespec, &y = b.st_mtimespec;
#else
  const timespec &x = a.st_mtim, &y = b.st_mtim;
#endif
  return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
}

}  // namespace

std::expected<Fd, ManifestError> open_root(const std::string& path) {
  // The system's calls would stop at the NUL and walk another directory.
  if (path.find('\0') != std::string::npos)
    return std::unexpected(base::io_error(base::IoError::Kind::InvalidInput, base::kNulInPathText));
  int fd = open_retry(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(os_error(errno));
  return Fd(fd);
}

std::expected<Fd, ManifestError> open_dir_at(int dir_fd, const char* name) {
  int fd = open_retry(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // With one component and no-follow, these mean the entry is no longer a directory.
    if (errno == ELOOP || errno == ENOTDIR) return std::unexpected(invalid_data(kChangedTypeText));
    return std::unexpected(os_error(errno));
  }
  return Fd(fd);
}

std::expected<std::pair<dev_t, ino_t>, ManifestError> identity(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return std::unexpected(os_error(errno));
  return std::pair{st.st_dev, st.st_ino};
}

std::expected<std::vector<DirEntry>, ManifestError> list_dir(int dir_fd) {
  // The stream takes the descriptor it is given; the caller keeps its own.
  int dup_fd = ::fcntl(dir_fd, F_DUPFD_CLOEXEC, 0);
  if (dup_fd < 0) return std::unexpected(os_error(errno));
  auto dir = base::DirStream::from_fd(dup_fd);
  if (!dir) {
    ::close(dup_fd);
    return std::unexpected(dir.error());
  }
  std::vector<DirEntry> out;
  for (;;) {
    auto next = dir->next();
    if (!next) return std::unexpected(next.error());
    const dirent* d = *next;
    if (!d) return out;
    const char* n = d->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    EntryType type;
    switch (d->d_type) {
      case DT_DIR: type = EntryType::Directory; break;
      case DT_REG: type = EntryType::File; break;
      case DT_LNK: type = EntryType::Symlink; break;
      case DT_UNKNOWN: type = EntryType::Unknown; break;
      default: type = EntryType::Other; break;
    }
    out.push_back(DirEntry{n, type});
  }
}

std::expected<EntryType, ManifestError> entry_type_at(int dir_fd, const char* name) {
  struct stat st;
  if (::fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return std::unexpected(os_error(errno));
  if (S_ISDIR(st.st_mode)) return EntryType::Directory;
  if (S_ISREG(st.st_mode)) return EntryType::File;
  if (S_ISLNK(st.st_mode)) return EntryType::Symlink;
  return EntryType::Other;
}

std::expected<FileHash, ManifestError> hash_file_at(int dir_fd, const char* name, std::string_view path,
                                                    std::vector<char>& buffer) {
  // Non-blocking so that a FIFO put in the file's place cannot stall the open.
  int raw = open_retry(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) {
    // A link refuses no-follow with ELOOP, a socket refuses any open with ENXIO.
    if (errno == ELOOP || errno == ENXIO) return std::unexpected(invalid_data(kChangedTypeText));
    return std::unexpected(os_error(errno));
  }
  Fd fd(raw);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return std::unexpected(os_error(errno));
  if (!S_ISREG(st.st_mode)) return std::unexpected(invalid_data(kChangedTypeText));
  base::Sha256 h;
  // Reading to end of file would let a writer that keeps appending keep the walk reading.
  auto left = static_cast<uint64_t>(st.st_size);
  while (left > 0) {
    ssize_t got = ::read(fd.get(), buffer.data(), std::min<uint64_t>(buffer.size(), left));
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    if (got == 0) break;  // shorter than at open: reported below
    h.update(buffer.data(), static_cast<size_t>(got));
    left -= static_cast<uint64_t>(got);
  }
  struct stat after;
  if (::fstat(fd.get(), &after) != 0) return std::unexpected(os_error(errno));
  if (left != 0 || after.st_size != st.st_size || !same_modification_time(after, st))
    return std::unexpected(invalid_data(std::string(kFileChangedText) + ": " + std::string(path)));
  return FileHash{h.finish(), (st.st_mode & S_IXUSR) != 0};
}

std::expected<std::string, ManifestError> read_link_at(int dir_fd, const char* name) {
  std::string target(256, '\0');
  for (;;) {
    ssize_t got = ::readlinkat(dir_fd, name, target.data(), target.size());
    if (got < 0) {
      if (errno == EINVAL) return std::unexpected(invalid_data(kChangedTypeText));
      return std::unexpected(os_error(errno));
    }
    if (static_cast<size_t>(got) < target.size()) {
      target.resize(static_cast<size_t>(got));
      return target;
    }
    target.resize(target.size() * 2);  // possibly cut short: try again with room to spare
  }
}

}  // namespace quintrel::manifest
