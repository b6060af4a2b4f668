#include "log/intent.h"

#include <cerrno>

namespace quintrel::log {

namespace {

LogError io(base::IoError e) { return LogError::io_error(std::move(e)); }

// `path` with its extension set to "intent.tmp"; a name that starts with its
// only dot (".intent") has no extension of its own.
std::string temporary_path(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t name = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot > name) return path.substr(0, dot) + ".intent.tmp";
  return path + ".intent.tmp";
}

}  // namespace

std::expected<void, LogError> CommitIntent::write_to_file(base::FileSystem& fs, const std::string& path) const {
  auto bytes = base::canonical_json(*this);
  if (!bytes) return std::unexpected(io(base::io_error(base::IoError::Kind::Other, bytes.error().to_string())));
  const std::string tmp = temporary_path(path);
  // Whatever stands at the temporary name is removed, not written through: a
  // link planted there would carry the write outside the log directory.
  if (auto removed = fs.remove(tmp); !removed && removed.error().os_code != ENOENT)
    return std::unexpected(io(removed.error()));
  auto file = base::File::open(fs, tmp, base::OpenMode::CreateNew);
  if (!file) return std::unexpected(io(file.error()));
  if (auto put = file->write_all(*bytes); !put) return std::unexpected(io(put.error()));
  if (auto synced = fs.sync(file->handle()); !synced) return std::unexpected(io(synced.error()));
  if (auto closed = file->close(); !closed) return std::unexpected(io(closed.error()));
  if (auto moved = fs.rename(tmp, path); !moved) return std::unexpected(io(moved.error()));
  return sync_parent_dir(fs, path);
}

std::expected<void, LogError> CommitIntent::clear_file(base::FileSystem& fs, const std::string& path) {
  if (!fs.stat(path)) return {};
  if (auto removed = fs.remove(path); !removed) return std::unexpected(io(removed.error()));
  return sync_parent_dir(fs, path);
}

std::expected<void, LogError> sync_parent_dir(base::FileSystem& fs, const std::string& path) {
  const std::string parent = base::parent_path(path);
  if (parent.empty()) return {};
  if (auto synced = fs.sync_dir(parent); !synced) return std::unexpected(io(synced.error()));
  return {};
}

}  // namespace quintrel::log
