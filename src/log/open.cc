// Opening a log directory, with the recovery of an interrupted commit.
#include <cerrno>
#include <limits>

#include "log/intent.h"
#include "log/log_writer.h"
#include "verify/record_checks.h"
#include "verify/replay.h"

namespace quintrel::log {

namespace {

using base::FileSystem;

LogError io(base::IoError e) { return LogError::io_error(std::move(e)); }

// Creates `path` and its missing parents, noting each directory it created,
// parents first. A directory that is already there is fine.
base::IoResult<void> create_dirs(FileSystem& fs, const std::string& path, std::vector<std::string>& created) {
  if (path.empty()) return {};
  auto made = fs.make_dir(path);
  if (made) {
    created.push_back(path);
    return {};
  }
  auto is_dir = [&] {
    auto type = fs.stat(path);
    return type && *type == base::PathType::Directory;
  };
  if (made.error().os_code != ENOENT) {
    if (is_dir()) return {};
    return made;
  }
  const std::string parent = base::parent_path(path);
  if (parent.empty() || parent == ".") return made;
  if (auto up = create_dirs(fs, parent, created); !up) return up;
  made = fs.make_dir(path);
  if (made) created.push_back(path);
  else if (is_dir()) return {};
  return made;
}

// Creates the log directory; a directory it creates is synced into its
// parent, or a power loss could take the whole log with it.
std::expected<void, LogError> make_log_dir(FileSystem& fs, const std::string& dir) {
  std::vector<std::string> created;
  if (auto ok = create_dirs(fs, dir, created); !ok) return std::unexpected(io(ok.error()));
  for (const std::string& d : created)
    if (auto ok = sync_parent_dir(fs, d); !ok) return ok;
  return {};
}

bool exists(FileSystem& fs, const std::string& path) { return fs.stat(path).has_value(); }

}  // namespace

std::expected<LogWriter, LogError> LogWriter::open(const std::string& dir, const verify::VerifierRules& rules) {
  return open_with_max_bytes(dir, rules, kMaxLogBytes);
}

std::expected<LogWriter, LogError> LogWriter::open_with_max_bytes(const std::string& dir,
                                                                  const verify::VerifierRules& rules,
                                                                  uint64_t max_bytes, FileSystem& fs) {
  // The system's calls would stop at the NUL and open another path.
  if (dir.find('\0') != std::string::npos)
    return std::unexpected(io(base::io_error(base::IoError::Kind::InvalidInput, base::kNulInPathText)));
  if (auto made = make_log_dir(fs, dir); !made) return std::unexpected(made.error());

  const std::string lock_path = base::join_path(dir, ".lock");
  const bool new_lock = !exists(fs, lock_path);
  auto lock = base::File::open(fs, lock_path, base::OpenMode::WriteKeep);
  if (!lock) return std::unexpected(io(lock.error()));
  if (auto locked = fs.lock(lock->handle()); !locked) {
    if (locked.error().os_code == EWOULDBLOCK) return std::unexpected(LogError::of(LogError::Kind::Locked));
    return std::unexpected(io(locked.error()));
  }
  // Again, under the lock: the directory may have gone meanwhile.
  if (auto made = make_log_dir(fs, dir); !made) return std::unexpected(made.error());

  const std::string log_path = base::join_path(dir, "records.log");
  const bool new_log = !exists(fs, log_path);
  auto file = base::File::open(fs, log_path, base::OpenMode::ReadWriteKeep);
  if (!file) return std::unexpected(io(file.error()));
  if (new_lock || new_log) {
    if (auto synced = fs.sync_dir(dir.empty() ? "." : dir); !synced) return std::unexpected(io(synced.error()));
  }

  // Every append happens while an intent is in place: only then can the
  // file end in an interrupted one.
  const bool interrupted = exists(fs, base::join_path(dir, ".intent"));
  auto loaded = FileLog::load(dir, std::move(*file), max_bytes, interrupted);
  if (!loaded) return std::unexpected(std::move(loaded.error()));
  LogWriter w(fs, std::move(*lock), std::move(*loaded));
  const std::vector<Record>& records = w.log_.records();

  // A last record without its Verdict is the subject of an interrupted
  // commit: the replay leaves it out, and recovery judges it.
  const bool unjudged = !records.empty() && records.back().kind != record::Kind::Verdict;
  const size_t judged = records.size() - (unjudged ? 1 : 0);
  verify::Replay replay = verify::replay_log(std::span(records).first(judged), rules);
  if (replay.verdict.failure) return std::unexpected(LogError::replay_failed(replay.verdict.failure));
  w.prior_ = std::move(replay.index);

  if (unjudged) {
    // The replay's state is the state of the records before the subject:
    // each applied with its stored Verdict, which the replay re-derived.
    const Record& subject = records.back();
    const record::VerdictData verdict = verify::verify_record(subject, records, w.prior_, rules, replay.state);
    if (subject.time == std::numeric_limits<uint64_t>::max())
      return std::unexpected(LogError::of(LogError::Kind::TimeExhausted));
    auto verdict_record = materialize_verdict(subject, subject.time + 1, verdict);
    if (!verdict_record) return std::unexpected(std::move(verdict_record.error()));
    const Record* adding[] = {&*verdict_record};
    auto frame = w.log_.ensure_capacity_for(adding);
    if (!frame) return std::unexpected(std::move(frame.error()));
    // A log brought here without its intent gets one, so that this append,
    // like every other, can be cut if it is interrupted.
    if (!interrupted) {
      if (auto ok = CommitIntent{subject.id, true}.write_to_file(fs, w.intent_path()); !ok)
        return std::unexpected(ok.error());
    }
    w.prior_.insert(judged, subject);
    if (auto appended = w.log_.append(std::move(*verdict_record), (*frame)[0]); !appended)
      return std::unexpected(std::move(appended.error()));
    w.prior_.insert(judged + 1, records.back());
  }

  if (auto cleared = CommitIntent::clear_file(fs, w.intent_path()); !cleared)
    return std::unexpected(std::move(cleared.error()));

  // Without recovery the log is exactly what was replayed, and a second
  // replay could only repeat the first.
  if (unjudged) {
    replay = verify::replay_log(records, rules);
    if (replay.verdict.failure) return std::unexpected(LogError::replay_failed(replay.verdict.failure));
  }
  w.state_ = std::move(replay.state);

  const uint64_t last = records.empty() ? 0 : records.back().time;
  w.next_time_ = last == std::numeric_limits<uint64_t>::max() ? last : last + 1;
  auto hash = verify::rules_hash(rules);
  if (!hash) return std::unexpected(LogError::json_error(std::move(hash.error())));
  w.rules_hash_ = *hash;
  return w;
}

}  // namespace quintrel::log
