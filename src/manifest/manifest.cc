#include "manifest/manifest.h"

#include "base/json_reader.h"

#include <algorithm>
#include <set>
#include <utility>

#include "manifest/dir_io.h"

namespace quintrel::manifest {

namespace {

// Files are hashed through one buffer of this size: large enough that the
// system calls cost little beside the hashing, small enough to stay in cache.
constexpr size_t kChunkSize = 256 * 1024;

// Directories still holding unwalked subdirectories keep their descriptors
// open for opening those; past this many, the shallowest are closed and
// reopened by name when the walk comes back to them, so that the depth of a
// tree is not bounded by the descriptor limit.
constexpr size_t kMaxOpenDirs = 64;

bool valid_object_id(std::string_view oid) {
  return (oid.size() == 40 || oid.size() == 64) && base::is_lower_hex(oid);
}

// A listed directory whose subdirectories are not all walked yet.
struct Frame {
  Fd fd;                             // closed while evicted
  std::string name;                  // its name in its parent, for reopening
  size_t path_size = 0;              // its relative path is the walk's path cut to this ("" for the root)
  std::vector<std::string> subdirs;  // ascending; walked from the back
};

class Walk {
 public:
  Walk(const Gitlinks& gitlinks, std::vector<ManifestEntry>& out)
      : gitlinks_(gitlinks), out_(out), buffer_(kChunkSize) {}

  std::expected<void, ManifestError> run(const std::string& path) {
    auto root = open_root(path);
    if (!root) return std::unexpected(root.error());
    Frame frame{std::move(*root), {}, 0, {}};
    if (auto ok = visit(frame); !ok) return ok;
    frames_.push_back(std::move(frame));
    while (!frames_.empty()) {
      if (frames_.back().subdirs.empty()) {
        frames_.pop_back();
        lowest_open_ = std::min(lowest_open_, frames_.size());
        continue;
      }
      if (auto ok = reopen_top(); !ok) return ok;
      Frame& top = frames_.back();
      Frame child;
      child.name = std::move(top.subdirs.back());
      top.subdirs.pop_back();
      auto fd = open_dir_at(top.fd.get(), child.name.c_str());
      if (!fd) return std::unexpected(fd.error());
      child.fd = std::move(*fd);
      path_.resize(top.path_size);
      append_name(child.name);
      child.path_size = path_.size();
      if (auto ok = visit(child); !ok) return ok;
      if (!child.subdirs.empty()) push(std::move(child));
    }
    return {};
  }

 private:
  // The path grows and shrinks with the walk: one buffer as long as the
  // deepest path, where a copy per directory would hold depth^2 bytes.
  void append_name(std::string_view name) {
    if (!path_.empty()) path_.push_back('/');
    path_.append(name);
  }

  // Lists an opened directory, whose path is path_: appends its files and
  // links, notes its subdirectories.
  std::expected<void, ManifestError> visit(Frame& dir) {
    auto id = identity(dir.fd.get());
    if (!id) return std::unexpected(id.error());
    // A bind mount can show a directory inside itself; walking it again would never end.
    if (!seen_.insert(*id).second) return std::unexpected(invalid_data(kDirTwiceText));
    auto listed = list_dir(dir.fd.get());
    if (!listed) return std::unexpected(listed.error());
    std::vector<DirEntry>& entries = *listed;
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    for (DirEntry& e : entries) {
      if (!base::valid_utf8(e.name)) return std::unexpected(invalid_data(kNonUtf8Text));
      if (e.name == ".git") continue;
      path_.resize(dir.path_size);
      append_name(e.name);
      if (gitlinks_.contains(path_)) continue;
      const int fd = dir.fd.get();
      const char* name = e.name.c_str();
      EntryType type = e.type;
      if (type == EntryType::Unknown) {
        auto t = entry_type_at(fd, name);
        if (!t) return std::unexpected(t.error());
        type = *t;
      }
      switch (type) {
        case EntryType::Directory:
          dir.subdirs.push_back(std::move(e.name));
          break;
        case EntryType::File: {
          auto h = hash_file_at(fd, name, path_, buffer_);
          if (!h) return std::unexpected(h.error());
          out_.push_back({path_, h->digest, h->executable ? ManifestMode::Executable : ManifestMode::File});
          break;
        }
        case EntryType::Symlink: {
          auto target = read_link_at(fd, name);
          if (!target) return std::unexpected(target.error());
          if (!base::valid_utf8(*target)) return std::unexpected(invalid_data(kNonUtf8Text));
          out_.push_back({path_, base::sha256(*target), ManifestMode::Symlink});
          break;
        }
        case EntryType::Other:
        case EntryType::Unknown:
          break;
      }
    }
    return {};
  }

  // Frames [lowest_open_, size) and the root hold open descriptors.
  void push(Frame frame) {
    frames_.push_back(std::move(frame));
    size_t open = frames_.size() - lowest_open_ + (lowest_open_ > 0 ? 1 : 0);
    if (open > kMaxOpenDirs) {
      size_t evict = std::max<size_t>(lowest_open_, 1);
      frames_[evict].fd.reset();
      lowest_open_ = evict + 1;
    }
  }

  // Reopens the top frame, and the evicted frames below it, from the root down.
  std::expected<void, ManifestError> reopen_top() {
    size_t top = frames_.size() - 1;
    if (frames_[top].fd.valid()) return {};
    // Keep the frames nearest the top open, the root included in the count.
    size_t keep_from = top + 1 > kMaxOpenDirs ? top + 2 - kMaxOpenDirs : 1;
    for (size_t i = 1; i <= top; ++i) {
      if (!frames_[i].fd.valid()) {
        auto fd = open_dir_at(frames_[i - 1].fd.get(), frames_[i].name.c_str());
        if (!fd) return std::unexpected(fd.error());
        frames_[i].fd = std::move(*fd);
      }
      if (i - 1 >= 1 && i - 1 < keep_from) frames_[i - 1].fd.reset();
    }
    lowest_open_ = keep_from;
    return {};
  }

  const Gitlinks& gitlinks_;
  std::vector<ManifestEntry>& out_;
  std::vector<char> buffer_;
  std::string path_;
  std::vector<Frame> frames_;
  size_t lowest_open_ = 0;
  std::set<std::pair<dev_t, ino_t>> seen_;
};

}  // namespace

std::expected<std::vector<ManifestEntry>, ManifestError> manifest_from_dir(const std::string& path,
                                                                           const Gitlinks& gitlinks) {
  std::vector<ManifestEntry> entries;
  Walk walk(gitlinks, entries);
  if (auto ok = walk.run(path); !ok) return std::unexpected(std::move(ok.error()));
  for (const auto& [link_path, oid] : gitlinks) {
    if (!valid_object_id(oid)) return std::unexpected(invalid_data(kBadGitlinkText));
    entries.push_back({link_path, base::sha256(oid), ManifestMode::Gitlink});
  }
  return entries;
}

std::optional<ManifestDocument> manifest_document(std::span<const ManifestEntry> entries) {
  ManifestDocument doc;
  for (const ManifestEntry& e : entries)
    if (!doc.emplace(e.path, ManifestValue{e.mode, base::hex_encode(e.digest)}).second) return std::nullopt;
  return doc;
}

std::optional<base::Digest> manifest_hash(std::span<const ManifestEntry> entries) {
  auto doc = manifest_document(entries);
  if (!doc) return std::nullopt;
  auto digest = base::sha256_canonical(*doc);
  if (!digest) return std::nullopt;
  return *digest;
}

}  // namespace quintrel::manifest
