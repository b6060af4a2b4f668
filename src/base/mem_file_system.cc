#include "base/mem_file_system.h"

#include <cerrno>
#include <cstring>

namespace quintrel::base {

struct MemFileSystem::Node {
  bool is_dir = false;
  // A file: its bytes now and as last synced; bytes before dirty_from are
  // the same in both.
  std::string data, durable;
  size_t dirty_from = std::string::npos;
  int locked_by = -1;
  // A directory: its entries now and as last synced.
  std::map<std::string, NodePtr> entries, durable_entries;

  void dirty(size_t from) { dirty_from = std::min(dirty_from, from); }
};

struct MemFileSystem::Handle {
  NodePtr node;
  uint64_t position = 0;
  bool readable = false;
};

namespace {

template <class T = void>
IoResult<T> fail(int code) {
  return std::unexpected(os_error(code));
}

// The components of a path; "" and "." are skipped. Paths are taken from the
// root whether or not they start with "/".
IoResult<std::vector<std::string>> split(const std::string& path) {
  if (path.find('\0') != std::string::npos) return fail<std::vector<std::string>>(EINVAL);
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") return fail<std::vector<std::string>>(EINVAL);  // not modelled
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

}  // namespace

MemFileSystem::MemFileSystem() : root_(std::make_shared<Node>()) { root_->is_dir = true; }
MemFileSystem::~MemFileSystem() = default;

IoResult<std::pair<MemFileSystem::NodePtr, std::string>> MemFileSystem::parent_of(const std::string& path) const {
  auto parts = split(path);
  if (!parts) return std::unexpected(parts.error());
  NodePtr dir = root_;
  if (parts->empty()) return std::pair{dir, std::string()};
  for (size_t i = 0; i + 1 < parts->size(); ++i) {
    auto it = dir->entries.find((*parts)[i]);
    if (it == dir->entries.end()) return fail<std::pair<NodePtr, std::string>>(ENOENT);
    if (!it->second->is_dir) return fail<std::pair<NodePtr, std::string>>(ENOTDIR);
    dir = it->second;
  }
  return std::pair{dir, parts->back()};
}

IoResult<MemFileSystem::NodePtr> MemFileSystem::lookup(const std::string& path) const {
  auto at = parent_of(path);
  if (!at) return std::unexpected(at.error());
  auto& [dir, name] = *at;
  if (name.empty()) return dir;
  auto it = dir->entries.find(name);
  if (it == dir->entries.end()) return fail<NodePtr>(ENOENT);
  return it->second;
}

IoResult<MemFileSystem::Handle*> MemFileSystem::handle(int file) {
  auto it = handles_.find(file);
  if (it == handles_.end()) return fail<Handle*>(EBADF);
  return &it->second;
}

IoResult<int> MemFileSystem::open(const std::string& path, OpenMode mode) {
  auto at = parent_of(path);
  if (!at) return std::unexpected(at.error());
  auto& [dir, name] = *at;
  if (name.empty()) return fail<int>(EISDIR);
  if (mode == OpenMode::CreateNew && dir->entries.contains(name)) return fail<int>(EEXIST);
  NodePtr& slot = dir->entries[name];
  if (!slot) slot = std::make_shared<Node>();
  if (slot->is_dir) return fail<int>(EISDIR);
  handles_[next_handle_] = Handle{slot, 0, mode == OpenMode::ReadWriteKeep};
  return next_handle_++;
}

IoResult<void> MemFileSystem::close(int file) {
  auto it = handles_.find(file);
  if (it == handles_.end()) return fail(EBADF);
  if (it->second.node->locked_by == file) it->second.node->locked_by = -1;
  handles_.erase(it);
  return {};
}

IoResult<size_t> MemFileSystem::read_at(int file, uint64_t offset, std::span<char> out) {
  auto h = handle(file);
  if (!h) return std::unexpected(h.error());
  if (!(*h)->readable) return fail<size_t>(EBADF);
  const std::string& data = (*h)->node->data;
  if (offset >= data.size()) return 0;
  size_t n = std::min<uint64_t>(out.size(), data.size() - offset);
  std::memcpy(out.data(), data.data() + offset, n);
  return n;
}

IoResult<size_t> MemFileSystem::write(int file, std::string_view bytes) {
  auto h = handle(file);
  if (!h) return std::unexpected(h.error());
  Node& node = *(*h)->node;
  uint64_t& pos = (*h)->position;
  node.dirty(std::min<uint64_t>(pos, node.data.size()));
  if (node.data.size() < pos + bytes.size()) node.data.resize(pos + bytes.size());
  node.data.replace(pos, bytes.size(), bytes);
  pos += bytes.size();
  return bytes.size();
}

IoResult<uint64_t> MemFileSystem::seek_end(int file) {
  auto h = handle(file);
  if (!h) return std::unexpected(h.error());
  return (*h)->position = (*h)->node->data.size();
}

IoResult<uint64_t> MemFileSystem::size(int file) {
  auto h = handle(file);
  if (!h) return std::unexpected(h.error());
  return (*h)->node->data.size();
}

IoResult<void> MemFileSystem::sync(int file) {
  auto h = handle(file);
  if (!h) return std::unexpected(h.error());
  Node& node = *(*h)->node;
  if (node.dirty_from == std::string::npos) return {};
  size_t from = std::min(node.dirty_from, node.durable.size());
  node.durable.resize(from);
  node.durable.append(node.data, from);
  node.dirty_from = std::string::npos;
  return {};
}

IoResult<void> MemFileSystem::truncate(int file, uint64_t size) {
  auto h = handle(file);
  if (!h) return std::unexpected(h.error());
  Node& node = *(*h)->node;
  node.dirty(std::min<uint64_t>(size, node.data.size()));
  node.data.resize(size);
  return {};
}

IoResult<void> MemFileSystem::lock(int file) {
  auto h = handle(file);
  if (!h) return std::unexpected(h.error());
  Node& node = *(*h)->node;
  if (node.locked_by != -1 && node.locked_by != file) return fail(EWOULDBLOCK);
  node.locked_by = file;
  return {};
}

IoResult<void> MemFileSystem::make_dir(const std::string& path) {
  auto at = parent_of(path);
  if (!at) return std::unexpected(at.error());
  auto& [dir, name] = *at;
  if (name.empty() || dir->entries.contains(name)) return fail(EEXIST);
  auto node = std::make_shared<Node>();
  node->is_dir = true;
  dir->entries[name] = std::move(node);
  return {};
}

IoResult<void> MemFileSystem::sync_dir(const std::string& path) {
  auto node = lookup(path);
  if (!node) return std::unexpected(node.error());
  if (!(*node)->is_dir) return fail(ENOTDIR);
  (*node)->durable_entries = (*node)->entries;
  return {};
}

IoResult<void> MemFileSystem::rename(const std::string& from, const std::string& to) {
  auto src = parent_of(from);
  if (!src) return std::unexpected(src.error());
  auto dst = parent_of(to);
  if (!dst) return std::unexpected(dst.error());
  auto it = src->first->entries.find(src->second);
  if (src->second.empty() || it == src->first->entries.end()) return fail(ENOENT);
  if (dst->second.empty()) return fail(EBUSY);
  NodePtr node = it->second;
  auto target = dst->first->entries.find(dst->second);
  if (target != dst->first->entries.end() && target->second->is_dir != node->is_dir)
    return fail(node->is_dir ? ENOTDIR : EISDIR);
  src->first->entries.erase(it);
  dst->first->entries[dst->second] = std::move(node);
  return {};
}

IoResult<void> MemFileSystem::remove(const std::string& path) {
  auto at = parent_of(path);
  if (!at) return std::unexpected(at.error());
  auto& [dir, name] = *at;
  auto it = dir->entries.find(name);
  if (name.empty() || it == dir->entries.end()) return fail(ENOENT);
  if (it->second->is_dir) return fail(EISDIR);
  dir->entries.erase(it);
  return {};
}

IoResult<PathType> MemFileSystem::stat(const std::string& path) {
  auto node = lookup(path);
  if (!node) return std::unexpected(node.error());
  return (*node)->is_dir ? PathType::Directory : PathType::Other;
}

void MemFileSystem::crash() {
  handles_.clear();
  std::vector<NodePtr> todo{root_};
  while (!todo.empty()) {
    NodePtr node = std::move(todo.back());
    todo.pop_back();
    node->locked_by = -1;
    if (!node->is_dir) {
      node->data = node->durable;
      node->dirty_from = std::string::npos;
      continue;
    }
    node->entries = node->durable_entries;
    for (auto& [name, child] : node->entries) todo.push_back(child);
  }
}

std::optional<std::string> MemFileSystem::contents(const std::string& path) const {
  auto node = lookup(path);
  if (!node || (*node)->is_dir) return std::nullopt;
  return (*node)->data;
}

void MemFileSystem::put(const std::string& path, std::string data) {
  auto at = parent_of(path);
  if (!at || at->second.empty()) return;
  auto& [dir, name] = *at;
  NodePtr& slot = dir->entries[name];
  if (!slot || slot->is_dir) slot = std::make_shared<Node>();
  slot->data = slot->durable = std::move(data);
  slot->dirty_from = std::string::npos;
  dir->durable_entries[name] = slot;
}

std::vector<std::string> MemFileSystem::list(const std::string& path) const {
  std::vector<std::string> names;
  auto node = lookup(path);
  if (node && (*node)->is_dir)
    for (const auto& [name, child] : (*node)->entries) names.push_back(name);
  return names;
}

}  // namespace quintrel::base
