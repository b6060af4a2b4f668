// The file-system steps of the manifest walk. Every entry is opened relative
// to its open parent directory and without following links, so an entry that
// is swapped for a link, a FIFO or a directory after it was listed ends the
// walk with an error instead of a read outside the tree or a hang.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "base/hash.h"
#include "manifest/manifest.h"

namespace quintrel::manifest {

// Texts of the failures that are not the operating system's own.
inline constexpr std::string_view kNonUtf8Text = "non-UTF-8 path is not representable in a manifest";
inline constexpr std::string_view kBadGitlinkText = "gitlink OID is not a 40- or 64-hex string";
inline constexpr std::string_view kChangedTypeText = "entry changed type during the manifest walk";
inline constexpr std::string_view kDirTwiceText = "directory reached twice during the manifest walk";
// Followed by ": " and the file's relative path.
inline constexpr std::string_view kFileChangedText = "file changed during the manifest walk";

using base::Fd;
using base::invalid_data;
using base::os_error;

// The type of a listed entry, as far as the walk cares.
enum class EntryType : uint8_t { Directory, File, Symlink, Other, Unknown };

struct DirEntry {
  std::string name;
  EntryType type;
};

// Opens the directory the walk starts from (a link there is followed).
std::expected<Fd, ManifestError> open_root(const std::string& path);

// Opens the subdirectory `name` of `dir_fd`; a link or non-directory there
// fails with kChangedTypeText.
std::expected<Fd, ManifestError> open_dir_at(int dir_fd, const char* name);

// The device and inode of an open file.
std::expected<std::pair<dev_t, ino_t>, ManifestError> identity(int fd);

// Every entry of an open directory but "." and "..", in listing order.
std::expected<std::vector<DirEntry>, ManifestError> list_dir(int dir_fd);

// Resolves an entry listed without a type (a status read without following links).
std::expected<EntryType, ManifestError> entry_type_at(int dir_fd, const char* name);

struct FileHash {
  base::Digest digest;
  bool executable;  // owner-execute bit
};

// Hashes the regular file `name` of `dir_fd` in chunks of `buffer.size()`;
// a link, FIFO, directory or device there fails with kChangedTypeText. Only
// the size the file had when opened is read; a file whose size or
// modification time differs after hashing fails with kFileChangedText naming
// `path`.
std::expected<FileHash, ManifestError> hash_file_at(int dir_fd, const char* name, std::string_view path,
                                                    std::vector<char>& buffer);

// The target text of the symbolic link `name` of `dir_fd`; anything other
// than a link there fails with kChangedTypeText.
std::expected<std::string, ManifestError> read_link_at(int dir_fd, const char* name);

}  // namespace quintrel::manifest
