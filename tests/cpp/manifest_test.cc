// The manifest walk over real temporary trees, and the manifest hash against
// canonical texts written out by hand.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "manifest/dir_io.h"
#include "manifest/manifest.h"

namespace quintrel::manifest {
namespace {

const std::string kNonUtf8 = "non-UTF-8 path is not representable in a manifest";
const std::string kChanged = "entry changed type during the manifest walk";

// A fresh directory under `base` (the system's temporary directory unless
// given), removed afterwards as far as it can be.
// Names ending in "/" are directories, "->" makes a link, "|" a FIFO, "=" a
// socket; any other name is a file holding "x".
struct Tree {
  std::string root;
  explicit Tree(const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
    std::string tmpl = (base / "quintrel-manifest-XXXXXX").string();
    root = ::mkdtemp(tmpl.data());
  }
  ~Tree() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  std::string at(const std::string& rel) const { return root + "/" + rel; }
  void file(const std::string& rel, const std::string& content, mode_t mode = 0644) const {
    int fd = ::open(at(rel).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size())) << rel;
    ::fchmod(fd, mode);  // whatever the umask
    ::close(fd);
  }
  void add(std::initializer_list<std::string> nodes) const {
    for (const std::string& s : nodes) {
      size_t arrow = s.find("->");
      if (s.back() == '/') ASSERT_EQ(::mkdir(at(s).c_str(), 0755), 0) << s;
      else if (arrow != std::string::npos)
        ASSERT_EQ(::symlink(s.substr(arrow + 2).c_str(), at(s.substr(0, arrow)).c_str()), 0) << s;
      else if (s.back() == '|') ASSERT_EQ(::mkfifo(at(s.substr(0, s.size() - 1)).c_str(), 0644), 0) << s;
      else if (s.back() == '=') {
        sockaddr_un addr{AF_UNIX, {}};
        at(s.substr(0, s.size() - 1)).copy(addr.sun_path, sizeof addr.sun_path - 1);
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << s;
        ::close(fd);
      } else file(s, "x");
    }
  }
};

// A canonical manifest text from (path, mode, hashed bytes) in the order given.
std::string canonical(const std::vector<std::array<std::string, 3>>& members) {
  std::string out = "{";
  for (const auto& [path, mode, hashed] : members)
    out += (out.size() > 1 ? ",\"" : "\"") + path + "\":{\"mode\":\"" + mode + "\",\"sha256\":\"" +
           base::hex_encode(base::sha256(hashed)) + "\"}";
  return out + "}";
}

// The paths walked, or the walk's error.
std::vector<std::string> paths_of(const std::expected<std::vector<ManifestEntry>, ManifestError>& walked) {
  if (!walked) return {"error: " + walked.error().message};
  std::vector<std::string> out;
  for (const auto& e : *walked) out.push_back(e.path);
  return out;
}

template <class R>
std::string message(const R& r) {
  return r ? "ok" : r.error().message;
}
std::string error_of(const std::string& root) { return message(manifest_from_dir(root, {})); }

// Runs fn in a child process (for process-wide changes); its exit code, or -1.
int in_child(const std::function<int()>& fn) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(fn());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Keys go by UTF-16 code units: U+1F600 (surrogates D83D DE00) before U+FB01,
// although its UTF-8 bytes (F0 ..) sort after EF AC 81. The walk goes by bytes.
TEST(Manifest, WalkOrderModesHashAndGitlinks) {
  Tree t;
  const std::string big(1024 * 1024 + 7, 'q'), far(300, 'L');  // past one read chunk, one link buffer
  const std::string ligature = "\xEF\xAC\x81", smiley = "\xF0\x9F\x98\x80";
  t.add({"c/", "c/d/", "e/", "empty/", "sub/", ".git/", "e/.git/", "link->c", "dangling->nowhere", "long->" + far,
         "pipe|", "sock=", ".git/HEAD", "e/.git/x", "sub/.git"});
  for (auto [path, content, mode] : std::vector<std::tuple<std::string, std::string, mode_t>>{
           {"b.txt", "bee", 0644}, {"a.sh", "echo", 0744}, {"g.sh", "group", 0654}, {".gitignore", "*.o", 0644},
           {"big", big, 0644}, {"sub/k", "k", 0644}, {"e/x", "x", 0644}, {"c/z", "z", 0700}, {"c/d/f", "f", 0600},
           {smiley, "s", 0644}, {ligature, "l", 0644}})
    t.file(path, content, mode);

  auto got = manifest_from_dir(t.root, {});
  EXPECT_EQ(paths_of(got), (std::vector<std::string>{".gitignore", "a.sh", "b.txt", "big", "dangling", "g.sh", "link",
                                                      "long", ligature, smiley, "sub/k", "e/x", "c/z", "c/d/f"}));
  EXPECT_EQ(manifest_hash(got.value()),
            base::sha256(canonical({{".gitignore", "100644", "*.o"}, {"a.sh", "100755", "echo"},
                                    {"b.txt", "100644", "bee"}, {"big", "100644", big}, {"c/d/f", "100644", "f"},
                                    {"c/z", "100755", "z"}, {"dangling", "120000", "nowhere"}, {"e/x", "100644", "x"},
                                    {"g.sh", "100644", "group"}, {"link", "120000", "c"}, {"long", "120000", far},
                                    {"sub/k", "100644", "k"}, {smiley, "100644", "s"}, {ligature, "100644", "l"}})));
  // Gitlinks stand for whatever is at their paths, present or not.
  const std::string oid40(40, 'a'), oid64 = std::string(63, '0') + "f";
  Tree g;
  g.add({"mod/", "mod2/", "mod/inner", "mod2/\xff", "file", "kept"});  // the name under mod2 is never examined
  auto links = manifest_from_dir(g.root, {{"mod", oid40}, {"file", oid64}, {"absent/deep", oid40}, {"mod2", oid64}});
  EXPECT_EQ(paths_of(links), (std::vector<std::string>{"kept", "absent/deep", "file", "mod", "mod2"}));
  EXPECT_EQ(manifest_hash(links.value()), base::sha256(canonical({{"absent/deep", "160000", oid40}, {"file", "160000", oid64},
                                                         {"kept", "100644", "x"}, {"mod", "160000", oid40},
                                                         {"mod2", "160000", oid64}})));
  for (std::string bad : {std::string(39, 'a'), std::string(41, 'a'), std::string(40, 'A'), std::string(39, 'a') + "g",
                          std::string(63, 'a')}) {
    auto r = manifest_from_dir(g.root, {{"mod2", oid40}, {"y", bad}});
    EXPECT_EQ(message(r), "gitlink OID is not a 40- or 64-hex string") << bad;
    EXPECT_TRUE(!r && r.error().kind == ManifestError::Kind::InvalidData) << bad;
  }
}

TEST(Manifest, Failures) {
  // A broken two-byte name, an encoded surrogate, a link target; nothing under .git is examined.
  for (const auto& [node, expected] : std::vector<std::pair<std::string, std::string>>{
           {"d/ok\xc3\x28", kNonUtf8}, {"\xed\xa0\x80", kNonUtf8}, {"l->\xfe", kNonUtf8}, {".git/\xff", "ok"}}) {
    Tree t;
    t.add({"d/", ".git/", node});
    EXPECT_EQ(error_of(t.root), expected) << node;
  }
  Tree t;
  EXPECT_EQ(manifest_hash(manifest_from_dir(t.root, {}).value()), base::sha256("{}"));  // empty
  t.add({"plain"});
  EXPECT_EQ(error_of(t.at("plain")), "Not a directory (os error 20)");
  EXPECT_EQ(manifest_from_dir(t.at("plain"), {}).error().os_code, ENOTDIR);
  // Entries that repeat a path have no hash.
  ManifestEntry a{"a", base::sha256("1"), ManifestMode::File}, a2{"a", base::sha256("1"), ManifestMode::Executable};
  EXPECT_EQ(manifest_hash(std::vector{a, a2}), std::nullopt);
  // An entry replaced after it was listed: the step that meets it refuses it.
  t.add({"dir/", "link->dir", "fifo|", "sock=", "file"});
  Fd dir = open_root(t.root).value();
  std::vector<char> buffer(16);
  for (auto name : {"fifo", "link", "dir", "sock"})  // the FIFO must not wait for a writer
    EXPECT_EQ(message(hash_file_at(dir.get(), name, name, buffer)), kChanged) << name;
  EXPECT_EQ(message(hash_file_at(dir.get(), "gone", "gone", buffer)), "No such file or directory (os error 2)");
  for (auto name : {"link", "file"}) EXPECT_EQ(message(open_dir_at(dir.get(), name)), kChanged) << name;
  EXPECT_EQ(message(read_link_at(dir.get(), "file")), kChanged);
}

// Removes the chain of directories `top` of `parent_fd` (files in them too)
// without a descriptor or a path per level: each level's child moves up.
void remove_chain(int parent_fd, const char* top) {
  for (;;) {
    Fd dir = open_dir_at(parent_fd, top).value();
    const std::vector<DirEntry> entries = list_dir(dir.get()).value();
    bool deeper = false;
    for (const DirEntry& e : entries) {
      if (e.type != EntryType::Directory) ASSERT_EQ(::unlinkat(dir.get(), e.name.c_str(), 0), 0);
      else deeper = ::renameat(dir.get(), e.name.c_str(), parent_fd, "next") == 0;
    }
    ASSERT_EQ(::unlinkat(parent_fd, top, AT_REMOVEDIR), 0);
    if (!deeper) return;
    ASSERT_EQ(::renameat(parent_fd, "next", parent_fd, top), 0);
  }
}

// Deeper than the walk keeps descriptors open for, with a branch left at every
// level until the deep chain is done, under a descriptor limit it would exceed.
TEST(Manifest, DeepTreesWithinFewDescriptorsAndOnePathBuffer) {
  Tree t;
  std::vector<std::string> expected, branches;
  std::string p;
  for (int i = 0; i <= 200; p += "z/", ++i) {
    t.add({p + "f"});
    expected.push_back(p + "f");
    if (i == 200) break;
    t.add({p + "a/", p + "z/", p + "a/g"});
    branches.insert(branches.begin(), p + "a/g");  // walked on the way back up
  }
  expected.insert(expected.end(), branches.begin(), branches.end());
  EXPECT_EQ(in_child([&] {
              rlimit lim{100, 100};
              if (::setrlimit(RLIMIT_NOFILE, &lim) != 0) return 2;
              return paths_of(manifest_from_dir(t.root, {})) == expected ? 0 : 1;
            }),
            0);
  // 20,000 levels of 100-byte names, a 2 MB path: held once per level it
  // would take 20 GB. Made in memory where it can be, where directories come quickly.
  constexpr int kDepth = 20000;
  Tree deep(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path());
  const std::string name(100, 'n');
  std::string path;
  {
    Fd dir = open_root(deep.root).value();
    for (int i = 0; i < kDepth; ++i) {
      ASSERT_EQ(::mkdirat(dir.get(), name.c_str(), 0755), 0);
      dir = open_dir_at(dir.get(), name.c_str()).value();
      path += name + "/";
    }
    int fd = ::openat(dir.get(), "f", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  EXPECT_EQ(paths_of(manifest_from_dir(deep.root, {})), std::vector<std::string>{path + "f"});
  Fd root = open_root(deep.root).value();
  remove_chain(root.get(), name.c_str());
}

// A file written to while it is hashed, grown or rewritten in place: only
// the size seen at open is read, and the walk fails naming the file.
TEST(Manifest, ChangedWhileWalked) {
  for (bool grow : {true, false}) {
    Tree t;
    t.add({"d/"});
    t.file("d/f", std::string(16 << 20, 'x'));  // long enough to hash that a write lands meanwhile
    std::atomic<bool> stop{false};
    std::atomic<int> writes{0};
    std::thread writer([&] {
      const std::string block(4096, 'w');
      int fd = ::open(t.at("d/f").c_str(), O_WRONLY | (grow ? O_APPEND : 0));
      while (!stop) {
        if (::pwrite(fd, block.data(), block.size(), 0) > 0) ++writes;  // O_APPEND appends whatever the offset
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      ::close(fd);
    });
    while (writes == 0) std::this_thread::yield();
    // A loaded machine may leave the writer asleep for a whole walk: a few tries.
    std::string error = "ok";
    for (int i = 0; i < 20 && error == "ok"; ++i) error = error_of(t.root);
    stop = true;
    writer.join();
    EXPECT_EQ(error, "file changed during the manifest walk: d/f") << (grow ? "growing" : "rewritten");
  }
  // A bind mount of the root inside itself would otherwise be walked again.
  Tree t;
  t.add({"sub/"});
  int code = in_child([&] {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(t.root.c_str(), t.at("sub").c_str(), nullptr, MS_BIND, nullptr) != 0)
      return 2;
    return error_of(t.root) == "directory reached twice during the manifest walk" ? 0 : 1;
  });
  if (code == 2) GTEST_SKIP() << "bind mounts are not permitted here";
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace quintrel::manifest
