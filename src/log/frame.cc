#include "log/frame.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/codec.h"

namespace quintrel::log {

namespace {

constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();

// Every record body holds four 32-byte ids (its own, its schema, its space
// and its thread) written as arrays of 32 integers, at least 65 bytes each.
constexpr uint64_t kSmallestBody = 4 * 65;

LogError io(base::IoError e) { return LogError::io_error(std::move(e)); }

uint64_t length_word(std::string_view bytes) {
  uint64_t length = 0;
  for (int i = 0; i < 4; ++i) length = (length << 8) | static_cast<uint8_t>(bytes[i]);
  return length;
}

// Whether `tail`, four bytes or more at `at` that are not a complete frame,
// can be what one interrupted append leaves: a length word declaring a body
// no smaller than a record's and within the limit, then the start of a
// canonical record body, which opens with '{' and holds no byte below 0x20
// (canonical JSON writes none; the length word of any frame that could
// follow starts with one).
bool torn_append(std::string_view tail, uint64_t at, uint64_t max_bytes) {
  const uint64_t length = length_word(tail);
  if (length < kSmallestBody || at + 4 + length > max_bytes) return false;
  const std::string_view body = tail.substr(4);
  return body.empty() ||
         (body.front() == '{' && std::ranges::none_of(body, [](char c) { return static_cast<uint8_t>(c) < 0x20; }));
}

// total + one frame, or LogTooLarge with the largest size when that overflows.
std::expected<uint64_t, LogError> add_frame(uint64_t total, const EncodedFrame& frame, uint64_t limit) {
  const uint64_t n = frame.bytes.size();
  if (total > kMaxU64 - n) return std::unexpected(LogError::log_too_large(kMaxU64, limit));
  return total + n;
}

}  // namespace

std::expected<EncodedFrame, LogError> encode_record(const Record& record) {
  // The body is written after a placeholder for its length, so the frame is
  // one buffer and one write.
  EncodedFrame frame{std::string(4, '\0')};
  base::JsonOut out(base::JsonOut::Mode::kCanonical, frame.bytes);
  base::Codec<Record>::write(out, record);
  if (out.failed()) return std::unexpected(io(base::invalid_data(base::JsonError{out.error()}.to_string())));
  const uint64_t length = frame.bytes.size() - 4;
  if (length > std::numeric_limits<uint32_t>::max()) return std::unexpected(LogError::frame_too_large(length));
  for (int i = 0; i < 4; ++i) frame.bytes[i] = static_cast<char>(length >> (24 - 8 * i));
  return frame;
}

std::expected<Frames, LogError> read_frames(std::string_view content) {
  const uint64_t n = content.size();
  // The length of the frame at p, or none for a torn one.
  auto frame_length = [&](uint64_t p) -> std::optional<uint64_t> {
    if (n - p < 4) return std::nullopt;
    const uint64_t length = length_word(content.substr(p));
    if (p + 4 + length > n) return std::nullopt;
    return length;
  };
  // Counted first, so the records are held without moving them as they grow,
  // but no more than the bytes could hold as records: the frames are not
  // read yet, and a file of empty frames must not size memory.
  uint64_t count = 0;
  for (uint64_t p = 0; auto length = frame_length(p);) {
    ++count;
    p += 4 + *length;
  }
  Frames frames;
  frames.records.reserve(std::min(count, n / (4 + kSmallestBody)));
  uint64_t p = 0;
  while (auto found = frame_length(p)) {
    const uint64_t length = *found;
    auto record = base::from_json<Record>(content.substr(p + 4, length));
    if (!record)
      return std::unexpected(io(base::invalid_data("Failed to deserialize record: " + record.error().to_string())));
    frames.records.push_back(std::move(*record));
    p += 4 + length;
  }
  frames.length = p;
  return frames;
}

std::expected<FileLog, LogError> FileLog::load(std::string dir, base::File file, uint64_t max_bytes,
                                               bool interrupted) {
  base::FileSystem& fs = file.fs();
  const int h = file.handle();
  auto size = fs.size(h);
  if (!size) return std::unexpected(io(size.error()));
  if (*size > max_bytes) return std::unexpected(LogError::log_too_large(*size, max_bytes));

  // Read to the end, but never past max_bytes + 1: a file that grew since
  // its size was asked is still refused without reading it all.
  const uint64_t cap = max_bytes == kMaxU64 ? kMaxU64 : max_bytes + 1;
  std::string content;
  base::IoResult<size_t> got = 0;
  content.resize_and_overwrite(*size, [&](char* buffer, size_t n) {
    got = fs.read_at(h, 0, std::span(buffer, n));
    return got ? *got : 0;
  });
  if (!got) return std::unexpected(io(got.error()));
  uint64_t read = *got;
  if (read == content.size()) {
    std::string more(64 * 1024, '\0');
    while (read < cap) {
      auto extra = fs.read_at(h, read, std::span(more).first(std::min<uint64_t>(more.size(), cap - read)));
      if (!extra) return std::unexpected(io(extra.error()));
      if (*extra == 0) break;
      content.append(more, 0, *extra);
      read += *extra;
    }
  }
  content.resize(read);
  if (read > max_bytes) return std::unexpected(LogError::log_too_large(read, max_bytes));

  auto frames = read_frames(content);
  if (!frames) return std::unexpected(std::move(frames.error()));
  // One to three bytes cannot hold a record and are cut; more are cut only
  // where an interrupted append can have left them. Anything else is not the
  // log's to cut: the file stays as it is and the opening fails.
  const uint64_t at = frames->length, tail = read - at;
  if (tail >= 4 && !(interrupted && torn_append(std::string_view(content).substr(at), at, max_bytes)))
    return std::unexpected(io(base::invalid_data(
        std::to_string(tail) + " bytes at offset " + std::to_string(at) +
        " of records.log are neither a complete frame nor the torn tail of an interrupted commit; refusing to "
        "cut them")));
  content = {};
  if (frames->length < read) {
    if (auto cut = fs.truncate(h, frames->length); !cut) return std::unexpected(io(cut.error()));
    if (auto synced = fs.sync(h); !synced) return std::unexpected(io(synced.error()));
  }
  if (auto end = fs.seek_end(h); !end) return std::unexpected(io(end.error()));

  FileLog log(std::move(dir), std::move(file), max_bytes);
  log.records_ = std::move(frames->records);
  log.index_.reserve(log.records_.size());
  for (size_t i = 0; i < log.records_.size(); ++i) *log.index_.try_emplace(log.records_[i].id).first = i;
  return log;
}

const Record* FileLog::get(const Id& id) const {
  const size_t* p = index_.find(id);
  return p ? &records_[*p] : nullptr;
}

std::expected<void, LogError> FileLog::check_size(std::span<const EncodedFrame> adding) {
  auto size = file_.fs().size(file_.handle());
  if (!size) return std::unexpected(io(size.error()));
  uint64_t total = *size;
  for (const EncodedFrame& frame : adding) {
    auto sum = add_frame(total, frame, max_bytes_);
    if (!sum) return std::unexpected(sum.error());
    total = *sum;
  }
  if (total > max_bytes_) return std::unexpected(LogError::log_too_large(total, max_bytes_));
  return {};
}

std::expected<std::vector<EncodedFrame>, LogError> FileLog::ensure_capacity_for(
    std::span<const Record* const> records) {
  auto size = file_.fs().size(file_.handle());
  if (!size) return std::unexpected(io(size.error()));
  uint64_t total = *size;
  std::vector<EncodedFrame> frames;
  frames.reserve(records.size());
  for (const Record* record : records) {
    auto frame = encode_record(*record);
    if (!frame) return std::unexpected(std::move(frame.error()));
    auto sum = add_frame(total, *frame, max_bytes_);
    if (!sum) return std::unexpected(sum.error());
    total = *sum;
    frames.push_back(std::move(*frame));
  }
  if (total > max_bytes_) return std::unexpected(LogError::log_too_large(total, max_bytes_));
  return frames;
}

std::expected<void, LogError> FileLog::append(Record record, const EncodedFrame& frame) {
  if (auto fits = check_size(std::span(&frame, 1)); !fits) return fits;
  base::FileSystem& fs = file_.fs();
  if (auto end = fs.seek_end(file_.handle()); !end) return std::unexpected(io(end.error()));
  if (auto put = file_.write_all(frame.bytes); !put) return std::unexpected(io(put.error()));
  if (auto synced = fs.sync(file_.handle()); !synced) return std::unexpected(io(synced.error()));
  *index_.try_emplace(record.id).first = records_.size();
  records_.push_back(std::move(record));
  return {};
}

}  // namespace quintrel::log
