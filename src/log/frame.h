// The frame file records.log: every record of a log, committed records and
// their Verdicts alike, as a 4-byte big-endian body length followed by the
// record's canonical JSON. No header, no checksum: a torn last frame shows
// as a length running past the end of the file, and is told from other bytes
// that are not a frame by the commit intent beside it (every append happens
// while one is in place) and by the shape of what one append writes.
// Everything else (ids, times, verdicts) is left to the replay.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_system.h"
#include "base/id_table.h"
#include "log/error.h"
#include "record/record.h"

namespace quintrel::log {

using base::Id;
using record::Record;

// A frame ready to be written: the length prefix and the body.
struct EncodedFrame {
  std::string bytes;
  uint32_t length() const { return static_cast<uint32_t>(bytes.size() - 4); }
};

// Io (InvalidData, the JSON error's text) when the record does not encode;
// FrameTooLarge when its body passes 4,294,967,295 bytes.
std::expected<EncodedFrame, LogError> encode_record(const Record& record);

// The complete frames at the start of `content` and how many bytes they
// take. A complete frame that does not read as one record fails with Io
// (InvalidData, "Failed to deserialize record: " and the JSON error's text).
struct Frames {
  std::vector<Record> records;
  uint64_t length = 0;
};
std::expected<Frames, LogError> read_frames(std::string_view content);

// records.log held open, with every record in log order and an index from
// id to position (a later record with the same id wins). The file only grows
// at its end, except for the cut of a torn tail at opening; a record enters
// memory only once its frame is synced.
class FileLog {
 public:
  // Reads the whole open file (refusing one above `max_bytes`), cuts a torn
  // tail and syncs the cut, and positions the file at its end. `interrupted`:
  // a commit intent stands beside the file. Without one, or when they cannot
  // be one interrupted append, four bytes or more past the last complete
  // frame fail the opening (Io, InvalidData) and the file is left whole.
  static std::expected<FileLog, LogError> load(std::string dir, base::File file, uint64_t max_bytes,
                                               bool interrupted);

  const std::string& dir() const { return dir_; }
  const std::vector<Record>& records() const { return records_; }
  uint64_t max_bytes() const { return max_bytes_; }
  // The record with this id, or none.
  const Record* get(const Id& id) const;

  // Checks that the frames of `records`, in order, fit under the limit with
  // the file's current length (asked of the file system); returns them
  // encoded, for appending. Writes nothing.
  std::expected<std::vector<EncodedFrame>, LogError> ensure_capacity_for(std::span<const Record* const> records);

  // Checks the limit, writes the frame (encoded by ensure_capacity_for) at
  // the end and syncs, then keeps the record. On failure the record is
  // dropped; bytes already written stay.
  std::expected<void, LogError> append(Record record, const EncodedFrame& frame);

 private:
  FileLog(std::string dir, base::File file, uint64_t max_bytes)
      : dir_(std::move(dir)), file_(std::move(file)), max_bytes_(max_bytes) {}

  // The file's length plus `adding` bytes, if that stays within the limit.
  std::expected<void, LogError> check_size(std::span<const EncodedFrame> adding);

  std::string dir_;
  std::vector<Record> records_;
  base::IdTable<size_t> index_;
  base::File file_;
  uint64_t max_bytes_;
};

}  // namespace quintrel::log
