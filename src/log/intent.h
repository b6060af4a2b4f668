// The commit intent: the marker `.intent` that names the record a commit is
// writing and whether its frame is written yet. It is put in place by a
// synced temporary file and a rename, removed at the end of the commit, and
// never read back: recovery works from the frame file alone.
#pragma once

#include <expected>
#include <string>

#include "base/codec.h"
#include "base/file_system.h"
#include "log/error.h"

namespace quintrel::log {

struct CommitIntent {
  base::Id subject_id{};
  bool written = false;

  // Writes the canonical JSON to a new file at `path` with its extension set
  // to "intent.tmp" (whatever stood there removed first, never followed),
  // syncs it, renames it over `path` and syncs the directory. A failure
  // leaves any earlier marker whole, or the new one in place when only the
  // last sync failed; the temporary file is not removed.
  std::expected<void, LogError> write_to_file(base::FileSystem& fs, const std::string& path) const;

  // Removes `path` and syncs its directory; nothing at `path` is success.
  static std::expected<void, LogError> clear_file(base::FileSystem& fs, const std::string& path);

  bool operator==(const CommitIntent&) const = default;
};

// Syncs the directory holding `path` (the current directory for a bare name).
std::expected<void, LogError> sync_parent_dir(base::FileSystem& fs, const std::string& path);

}  // namespace quintrel::log

namespace quintrel::base {
template <>
struct Fields<log::CommitIntent> {
  static constexpr std::string_view name = "CommitIntent";
  static constexpr auto fields = std::make_tuple(field("subject_id", &log::CommitIntent::subject_id),
                                                 field("written", &log::CommitIntent::written));
};
}  // namespace quintrel::base
