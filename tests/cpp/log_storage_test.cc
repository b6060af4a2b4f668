// The frame file, the commit intent and the opening of a log directory: the
// error texts, the failure situations of opening, and a log cut at every
// byte offset.
#include "faulty_file_system.h"
#include "log/intent.h"
#include "log_fixture.h"
#include "record/evolution_payloads.h"
#include "state/build.h"

namespace quintrel::fixture {
namespace {

using base::MemFileSystem;
using log::LogError;
using log::LogWriter;

const Id kScope = base::sha256("scope");

Draft request(std::string objective, std::string author = "user") {
  return draft(Kind::Request, std::move(author), record::RequestData{std::move(objective), kScope});
}

// Unsigned, signed, rejected and retracting commits: eight records.
struct Sample {
  Log log;
  std::string bytes;            // records.log
  std::vector<size_t> offsets;  // where each frame starts, and the end
  Sample() {
    Id a = log.accept(request("a"));
    Draft signed_request = request("b");
    signed_request.signer = &signer(1);
    log.accept(signed_request);
    log.commit(request("c", "nobody"));
    log.accept(draft(Kind::Retraction, "user", record::RetractionData{a, "wrong"}, {cause(a)}));
    bytes = log.files().contents("/log/records.log").value();
    offsets = {0};
    for (const Record& r : log.records()) offsets.push_back(offsets.back() + 4 + base::canonical_json(r)->size());
  }
  // The frames of records [from, to).
  std::string frames(size_t from, size_t to) const { return bytes.substr(offsets[from], offsets[to] - offsets[from]); }
};
const Sample& sample() {
  static const Sample s;
  return s;
}

std::string frame(std::string_view body) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(body.size() >> (24 - 8 * i));
  return out.append(body);
}

// A log directory "/log" in memory holding `content` as records.log.
struct Dir {
  MemFileSystem fs;
  explicit Dir(std::string content) {
    (void)fs.make_dir("/log");
    fs.put("/log/records.log", std::move(content));
  }
  std::expected<LogWriter, LogError> open(uint64_t max_bytes = log::kMaxLogBytes) {
    return LogWriter::open_with_max_bytes("/log", test_rules(), max_bytes, fs);
  }
  std::string file() const { return fs.contents("/log/records.log").value_or("<none>"); }
};

std::string message_of(const std::expected<LogWriter, LogError>& w) { return w ? "opened" : w.error().message(); }

// The refusal of `n` bytes at `at` that are not a frame and not a torn one.
std::string not_a_frame(size_t n, size_t at) {
  return "I/O error: " + std::to_string(n) + " bytes at offset " + std::to_string(at) +
         " of records.log are neither a complete frame nor the torn tail of an interrupted commit; refusing to cut "
         "them";
}

// The texts no other test meets.
TEST(LogErrors, Messages) {
  using K = LogError::Kind;
  const std::pair<LogError, std::string> cases[] = {
      {LogError::of(K::CorruptIntent), "corrupted commit intent during recovery"},
      {LogError::of(K::Poisoned), "a commit entered its durable phase but did not finish; drop and reopen the writer"},
      {LogError::frame_too_large(4294967296),
       "record frame of 4294967296 bytes exceeds the u32 length prefix; refusing to corrupt the log"},
      {LogError::replay_failed(std::nullopt), "existing log failed replay verification"},
      {LogError::json_error({"trailing characters", 1, 5}), "JSON error: trailing characters at line 1 column 5"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(error.message(), text);
}

// Removing an intent where there is none touches nothing.
TEST(LogIntent, NothingToClear) {
  MemFileSystem mem;
  base::FaultyFileSystem fs(mem);
  ASSERT_TRUE(log::CommitIntent::clear_file(fs, "/.intent"));
  EXPECT_TRUE(fs.calls().empty());
}

TEST(LogOpen, FailureSituations) {
  const Sample& s = sample();
  const std::string& all = s.bytes;
  const std::string first = base::canonical_json(s.log.records()[0]).value();
  std::string at_last_time = first;
  at_last_time.replace(at_last_time.find("\"time\":1"), 8, "\"time\":18446744073709551615");
  auto with_length = [&](std::string_view word) { return s.frames(0, 1) + std::string(word) + all.substr(s.offsets[1] + 4); };
  const struct {
    const char* name;
    std::string content;
    std::string want;
    uint64_t max_bytes = log::kMaxLogBytes;
    bool intent = false;
  } cases[] = {
      {"empty frame", frame(""), "I/O error: Failed to deserialize record: EOF while parsing a value at line 1 column 0"},
      {"record and more in one frame", frame(first + " x"),
       "I/O error: Failed to deserialize record: trailing characters at line 1 column " +
           std::to_string(first.size() + 2)},
      {"bad frame before a torn tail", s.frames(0, 2) + frame("{}") + all.substr(0, 7),
       "I/O error: Failed to deserialize record: missing field `id` at line 1 column 2"},
      {"one byte over the limit", all,
       "log size of " + std::to_string(all.size()) + " bytes exceeds configured limit of " +
           std::to_string(all.size() - 1) + " bytes",
       all.size() - 1},
      {"two records without Verdicts", s.frames(0, 3) + s.frames(4, 5),
       "existing log failed replay verification: InvalidPayload"},
      {"no room for the recovered Verdict", s.frames(0, 3),
       "log size of " + std::to_string(s.offsets[4]) + " bytes exceeds configured limit of " +
           std::to_string(s.offsets[3]) + " bytes",
       s.offsets[3]},
      {"unjudged record at the last time", frame(at_last_time),
       "logical time counter exhausted; log accepts no further commits"},
      // Bytes past the last complete frame that no interrupted append left.
      {"a byte appended between commits", s.frames(0, 2) + "\x01" + s.frames(2, 8),
       not_a_frame(all.size() + 1 - s.offsets[2], s.offsets[2])},
      {"a length past the limit", with_length("\xff\xff\xff\xff"), not_a_frame(all.size() - s.offsets[1], s.offsets[1]),
       log::kMaxLogBytes, true},
      {"a length over later frames", with_length(std::string("\x01\0\0\0", 4)),
       not_a_frame(all.size() - s.offsets[1], s.offsets[1]), log::kMaxLogBytes, true},
      {"no record's body after a length", s.frames(0, 2) + frame(std::string(300, 'x')).substr(0, 9),
       not_a_frame(9, s.offsets[2]), log::kMaxLogBytes, true},
      {"a length below a record's", s.frames(0, 2) + frame("{\"a\":1}").substr(0, 7), not_a_frame(7, s.offsets[2]),
       log::kMaxLogBytes, true},
  };
  for (const auto& c : cases) {
    Dir d(c.content);
    if (c.intent) d.fs.put("/log/.intent", "{}");
    EXPECT_EQ(message_of(d.open(c.max_bytes)), c.want) << c.name;
    // Nothing changes: no cut, no recovery, the intent left in place.
    EXPECT_EQ(d.file(), c.content) << c.name;
    EXPECT_EQ(d.fs.contents("/log/.intent").has_value(), c.intent) << c.name;
  }

  Dir at_limit(all);
  EXPECT_EQ(message_of(at_limit.open(all.size())), "opened");

  MemFileSystem fs;
  fs.put("/file", "x");
  for (const auto& [path, want] : std::vector<std::pair<std::string, std::string>>{
           {"/file", "I/O error: File exists (os error 17)"},
           {"/file/log", "I/O error: Not a directory (os error 20)"}}) {
    EXPECT_EQ(message_of(LogWriter::open_with_max_bytes(path, test_rules(), log::kMaxLogBytes, fs)), want) << path;
  }
  EXPECT_EQ(fs.list("/"), std::vector<std::string>{"file"});
}

// Every prefix of a log, beside the intent a crash there leaves, opens:
// it keeps every commit complete before the cut, completes the one whose
// record is whole (its Verdict the one it would have had, at its time + 1),
// and leaves no intent behind. Without the intent, only a cut at most three
// bytes into a frame opens so; any other is refused with the file whole.
TEST(LogOpen, CutAtEveryByte) {
  const Sample& s = sample();
  const auto& records = s.log.records();
  for (size_t cut = 0; cut <= s.bytes.size(); ++cut) {
    size_t whole = 0;
    while (whole < records.size() && s.offsets[whole + 1] <= cut) ++whole;
    const size_t kept = whole + whole % 2, torn = cut - s.offsets[whole];
    const Record& subject = records[std::min(whole, records.size() - 2) & ~size_t{1}];
    for (bool intent : {true, false}) {
      SCOPED_TRACE(std::to_string(cut) + (intent ? " with" : " without") + " an intent");
      Dir d(s.bytes.substr(0, cut));
      if (intent) d.fs.put("/log/.intent", base::canonical_json(log::CommitIntent{subject.id, whole % 2 == 1}).value());
      auto w = d.open();
      if (!intent && torn >= 4) {
        ASSERT_EQ(message_of(w), not_a_frame(torn, s.offsets[whole]));
        ASSERT_EQ(d.file(), s.bytes.substr(0, cut));
        continue;
      }
      ASSERT_TRUE(w) << w.error().message();
      ASSERT_EQ(w->records(), std::vector<Record>(records.begin(), records.begin() + kept));
      ASSERT_EQ(d.file(), s.frames(0, kept));
      ASSERT_EQ(d.fs.list("/log"), (std::vector<std::string>{".lock", "records.log"}));
      ASSERT_EQ(w->next_time(), kept + 1);
      ASSERT_EQ(w->state(), state::build_state_unchecked(w->records()).value());
    }
  }
}

}  // namespace
}  // namespace quintrel::fixture
