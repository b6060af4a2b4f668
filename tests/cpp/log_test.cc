// The log: the error texts; what a commit stores and refuses, and the
// caller's state; the failure situations of opening and a log cut at every
// byte offset; every file operation of a commit or an opening failing in
// turn, with and without a power loss afterwards; and, on real files across
// processes, links planted in the directory, an opening under a memory limit,
// and a writer killed at random moments while it commits, whose lock no other
// process gets meanwhile. QUINTREL_LOG_KILLS sets the number of kills (20 by
// default).
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "faulty_file_system.h"
#include "log/intent.h"
#include "log_fixture.h"
#include "receipt/receipt.h"
#include "record/evolution_payloads.h"
#include "state/build.h"
#include "temp_dir.h"
#include "writer/writer.h"

namespace quintrel::fixture {
namespace {

using base::MemFileSystem;
using log::LogError;
using log::LogWriter;
using K = LogError::Kind;

const Id kScope = base::sha256("scope");

Draft request(std::string objective, std::string author = "user", std::vector<Ref> refs = {}) {
  return draft(Kind::Request, std::move(author), record::RequestData{std::move(objective), kScope}, std::move(refs));
}

std::expected<LogWriter, LogError> open_at(base::FileSystem& fs, const std::string& dir = "/log",
                                           uint64_t max_bytes = log::kMaxLogBytes) {
  return LogWriter::open_with_max_bytes(dir, test_rules(), max_bytes, fs);
}

std::string message_of(const std::expected<LogWriter, LogError>& w) { return w ? "opened" : w.error().message(); }

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
  std::expected<LogWriter, LogError> open(uint64_t max = log::kMaxLogBytes) { return open_at(fs, "/log", max); }
  std::string file() const { return fs.contents("/log/records.log").value_or("<none>"); }
};

// The refusal of `n` bytes at `at` that are not a frame and not a torn one.
std::string not_a_frame(size_t n, size_t at) {
  return "I/O error: " + std::to_string(n) + " bytes at offset " + std::to_string(at) +
         " of records.log are neither a complete frame nor the torn tail of an interrupted commit; refusing to cut "
         "them";
}

// Every query about every record and a missing id, as value trees' texts or
// errors' texts.
std::vector<std::string> answers(const std::expected<queries::Queries, queries::QueryError>& index,
                                 std::span<const Record> records) {
  if (!index) return {index.error().to_string()};
  std::vector<std::string> out{base::write_compact(queries::to_value(index->frontier()))};
  auto add = [&](const auto& answer) {
    auto value = queries::to_value(answer);
    out.push_back(value ? base::write_compact(*value) : value.error());
  };
  for (const Record& r : records) {
    add(index->descent(r.id)), add(index->descendants(r.id)), add(index->siblings(r.id));
    add(index->standing(r.id)), add(index->evidence(r.id));
  }
  add(index->standing(Id{}));
  return out;
}

// The texts no other test meets.
TEST(LogErrors, Messages) {
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

TEST(LogCommit, StoredRecords) {
  Log log;
  LogWriter& w = log.writer();
  const Id a = log.accept(request("a"));
  EXPECT_EQ(log.records()[0].time, 1u);
  EXPECT_EQ(log.records()[1].time, 2u);
  EXPECT_EQ(w.next_time(), 3u);

  // Another state object than the writer's passes when equal, and follows
  // the commit.
  state::State mine = w.state();
  const Id b = w.commit(log.input(request("b")), log.rules, mine)->id;
  EXPECT_EQ(mine, w.state());

  // Refs stored sorted and once; the signature and id cover that order.
  Draft d = request("c", "user", {use(b), require(a), use(b), use(a)});
  d.signer = &signer(2);
  const Id c = log.accept(d);
  const Record& stored = log.records()[4];
  EXPECT_EQ(stored.id, c);
  std::vector<Ref> sorted = {use(a), use(b), require(a)};
  std::ranges::sort(sorted);  // by type, then by target bytes
  EXPECT_EQ(stored.refs, sorted);
  EXPECT_EQ(record::verified_key(stored), signer(2).public_key());

  // A rejected record is committed with its Reject Verdict and reported.
  auto out = w.commit(log.input(request("d", "user", {use(base::sha256("elsewhere"))})), log.rules, w.state());
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, (log::CommitOutcome{log.records()[6].id, false, ReasonCode::RefUnresolved}));
  EXPECT_EQ(log.records()[6].evidence, Evidence::Reported);  // the unknown ref adds nothing
  EXPECT_EQ(log.records()[7], make_verdict(log.records()[6], ReasonCode::RefUnresolved));
  EXPECT_EQ(w.commit(log.input(request("e")), log.rules, mine).error().kind, K::StateMismatch);  // now stale

  EXPECT_EQ(log.files().list("/log"), (std::vector<std::string>{".lock", "records.log"}));
  EXPECT_EQ(w.state(), state::build_state_unchecked(log.records()).value());
}

// Refusals before the durable phase write nothing and leave the writer
// usable; at the limit exactly, the commit refused over it goes through.
TEST(LogCommit, RefusedWithNothingWritten) {
  Log grown;
  grown.accept(request("a"));
  const auto before = grown.files().contents("/log/records.log").value();
  grown.accept(request("b"));
  const uint64_t after = grown.files().contents("/log/records.log")->size();

  Dir d(before);
  auto w = d.open(after - 1);
  auto other_rules = test_rules();
  other_rules.max_considered = 7;
  state::State stale = w->state();
  stale.applied_up_to -= 1;
  const std::pair<std::expected<log::CommitOutcome, LogError>, std::string> refusals[] = {
      {w->commit(grown.input(request("b")), test_rules(), stale),
       "derived state does not match the current log; rebuild it before committing"},
      {w->commit(grown.input(request("b")), other_rules, w->state()),
       "commit rules differ from the rules used to open this writer"},
      {w->commit(grown.input(request("b")), test_rules(), w->state()),
       "log size of " + std::to_string(after) + " bytes exceeds configured limit of " + std::to_string(after - 1) +
           " bytes"},
  };
  for (const auto& [out, want] : refusals) EXPECT_EQ(out ? "committed" : out.error().message(), want);
  EXPECT_EQ(d.file(), before);
  EXPECT_EQ(d.fs.list("/log"), (std::vector<std::string>{".lock", "records.log"}));
  EXPECT_FALSE(w->poisoned());
  w = std::unexpected(LogError{});  // releases the lock
  w = d.open(after);
  ASSERT_TRUE(w->commit(grown.input(request("b")), test_rules(), w->state()));
  EXPECT_EQ(w->records(), grown.records());
}

// The nth call of one kind during a commit fails. Before the first intent is
// in place nothing is durable: the writer stays usable and a retry gives the
// log a run without the failure gives. After it the writer is poisoned, the
// intent left is the last one put in place (`written` false until the
// record's frame is whole, then true until the Verdict's is), and a
// reopening, after a power loss or not, keeps every acknowledged commit and
// completes or cuts the failed one. Whatever a commit left, the writer's
// queries answer as a receipt of its records does.
TEST(LogFaults, EveryCallOfACommit) {
  const Log& clean = sample().log;  // its records are the log the commit extends
  const size_t acknowledged = clean.records().size();
  const Draft failing = request("e", "user", {use(clean.records()[0].id)});
  auto holding_sample = [&](MemFileSystem& mem) {
    (void)mem.make_dir("/log"), (void)mem.sync_dir("/");
    mem.put("/log/records.log", sample().bytes);
  };
  // The calls of the failing commit, in order, and the log it leaves.
  std::vector<base::Op> calls;
  std::vector<Record> complete;
  {
    MemFileSystem mem;
    holding_sample(mem);
    base::FaultyFileSystem fs(mem);
    auto w = open_at(fs);
    fs.calls().clear();
    ASSERT_TRUE(w->commit(clean.input(failing), clean.rules, w->state()));
    calls = fs.calls(), complete = w->records();
  }
  ASSERT_EQ(complete.size(), acknowledged + 2);
  const size_t first_intent_done = std::ranges::find(calls, base::Op::SyncDir) - calls.begin();
  ASSERT_LT(first_intent_done, calls.size());

  std::map<base::Op, int> seen;
  for (size_t at = 0; at < calls.size(); ++at) {
    const base::Op op = calls[at];
    const int nth = ++seen[op];
    std::vector<base::Fault> faults = {{op, nth, EIO}, {op, nth, ENOSPC}};
    if (op == base::Op::Write) faults.insert(faults.end(), {{op, nth, ENOSPC, true}, {op, nth, 0, true}});
    for (const base::Fault& fault : faults)
      for (bool power_loss : {false, true}) {
        SCOPED_TRACE(std::string(base::kOpNames[static_cast<int>(op)]) + " #" + std::to_string(nth) + ", errno " +
                     std::to_string(fault.code) + (fault.short_write ? ", short write" : "") +
                     (power_loss ? ", power loss" : ""));
        MemFileSystem mem;
        holding_sample(mem);
        base::FaultyFileSystem fs(mem);
        std::optional<LogWriter> w(open_at(fs).value());
        fs.arm(fault);
        auto out = w->commit(clean.input(failing), clean.rules, w->state());
        fs.disarm();
        ASSERT_TRUE(fs.struck());
        const auto receipt =
            receipt::Receipt::from_bytes(*receipt::Receipt::create(w->records(), clean.rules).to_bytes()).value();
        EXPECT_EQ(answers(writer::query_index(*w, clean.rules), w->records()),
                  answers(queries::Queries::create(receipt.records, receipt.rules), w->records()));
        const bool durable = at > first_intent_done;
        if (fault.code == 0) {
          ASSERT_TRUE(out) << out.error().message();  // a short write alone is written on
        } else {
          ASSERT_FALSE(out);
          EXPECT_EQ(out.error(), LogError::io_error(base::os_error(fault.code)));
          EXPECT_EQ(w->poisoned(), durable);
          if (durable) {
            EXPECT_EQ(w->commit(clean.input(failing), clean.rules, w->state()).error().kind, K::Poisoned);
          } else {
            ASSERT_TRUE(w->commit(clean.input(failing), clean.rules, w->state()));
            EXPECT_EQ(w->records(), complete);
          }
        }
        const bool acknowledged_all = out || !durable;
        w.reset();
        if (power_loss) mem.crash();
        // The intent last put in place before the failing call, or the last
        // one a directory sync made durable.
        std::optional<bool> now, synced;
        for (size_t i = 0, renames = 0; i < at; ++i) {
          if (calls[i] == base::Op::Rename) now = ++renames == 2;
          if (calls[i] == base::Op::Remove && renames == 2) now.reset();
          if (calls[i] == base::Op::SyncDir) synced = now;
        }
        const std::optional<bool> left = acknowledged_all ? std::nullopt : power_loss ? synced : now;
        EXPECT_EQ(mem.contents("/log/.intent"),
                  left ? std::optional("{\"subject_id\":" + base::compact_json(complete[acknowledged].id) +
                                       ",\"written\":" + (*left ? "true}" : "false}"))
                       : std::nullopt);
        auto reopened = open_at(mem);
        ASSERT_TRUE(reopened) << reopened.error().message();
        const auto& records = reopened->records();
        if (acknowledged_all) {
          EXPECT_EQ(records, complete);
        } else {
          EXPECT_TRUE(records == complete ||
                      records == std::vector<Record>(complete.begin(), complete.begin() + acknowledged));
        }
        EXPECT_FALSE(mem.contents("/log/.intent"));
        EXPECT_TRUE(reopened->commit(clean.input(request("z")), clean.rules, reopened->state()));
      }
  }
}

// The nth call of one kind during an opening that cuts a torn tail, recovers
// a record without its Verdict and removes a stale intent, that recovers one
// whose intent is missing, or that creates its directories, fails (a write
// after writing half): the opening fails with that error and leaves nothing
// that a later opening does not mend. Without a failure, a power loss keeps
// all the opening made.
TEST(LogFaults, EveryCallOfAnOpening) {
  const std::string& bytes = sample().bytes;
  const size_t verdict = sample().offsets[7];

  for (const std::string dir : {"/log", "/bare", "/new/log"}) {
    auto prepare = [&](MemFileSystem& mem) {
      if (dir == "/new/log") return;
      (void)mem.make_dir(dir);
      (void)mem.sync_dir("/");
      mem.put(dir + "/records.log", bytes.substr(0, dir == "/log" ? bytes.size() - 9 : verdict));
      if (dir == "/log") mem.put("/log/.intent", "{}");
    };
    std::vector<base::Op> calls;
    std::vector<Record> want;
    MemFileSystem opened;
    prepare(opened);
    {
      base::FaultyFileSystem fs(opened);
      auto w = open_at(fs, dir);
      ASSERT_TRUE(w);
      calls = fs.calls();
      want = w->records();
    }
    // What an opening makes, directories included, survives a power loss.
    opened.crash();
    EXPECT_EQ(opened.list(dir), (std::vector<std::string>{".lock", "records.log"}));
    EXPECT_EQ(open_at(opened, dir)->records(), want);
    std::map<base::Op, int> seen;
    for (base::Op op : calls) {
      const int nth = ++seen[op];
      for (int variant = 0; variant < (op == base::Op::Write ? 4 : 2); ++variant) {
        const bool power_loss = variant % 2, short_write = variant / 2;
        SCOPED_TRACE(dir + ": " + std::string(base::kOpNames[static_cast<int>(op)]) + " #" + std::to_string(nth) +
                     (short_write ? ", short write" : "") + (power_loss ? ", power loss" : ""));
        MemFileSystem mem;
        prepare(mem);
        base::FaultyFileSystem fs(mem);
        fs.arm({op, nth, EIO, short_write});
        auto failed = open_at(fs, dir);
        if (failed) {
          EXPECT_EQ(op, base::Op::MakeDir);  // the directory was there all along
        } else {
          EXPECT_EQ(failed.error().message(), "I/O error: Input/output error (os error 5)");
        }
        failed = std::unexpected(LogError{});  // releases the lock
        if (power_loss) mem.crash();
        auto w = open_at(mem, dir);
        ASSERT_TRUE(w) << w.error().message();
        EXPECT_EQ(w->records(), want);
        EXPECT_FALSE(mem.contents(dir + "/.intent"));
      }
    }
  }
}

// A records.log that links to another file fails to open and leaves that
// file whole; a link at the intent's temporary name is replaced, never
// written through.
TEST(LogLinks, NothingIsWrittenThroughThem) {
  TempDir t;
  const std::string dir = t.path + "/log", elsewhere = t.path + "/notes.txt";
  std::filesystem::create_directory(dir);
  std::ofstream(elsewhere) << "plain text\n";
  std::filesystem::create_symlink(elsewhere, dir + "/records.log");
  EXPECT_EQ(message_of(LogWriter::open(dir, test_rules())), not_a_frame(11, 0));
  std::filesystem::remove(dir + "/records.log");
  std::filesystem::create_symlink(elsewhere, dir + "/.intent.intent.tmp");
  const Log shape;
  auto w = LogWriter::open(dir, shape.rules);
  ASSERT_TRUE(w) << w.error().message();
  ASSERT_TRUE(w->commit(shape.input(request("x")), shape.rules, w->state()));
  EXPECT_EQ(std::filesystem::file_size(elsewhere), 11u);  // neither cut nor written
  EXPECT_FALSE(std::filesystem::is_symlink(dir + "/.intent.intent.tmp"));
}

// 64 MiB of zero bytes are that many empty frames: the first fails to read,
// and their count sizes no memory. The opening runs in a child process
// limited to 1 GB of address space.
TEST(LogOpen, EmptyFramesSizeNoMemory) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  TempDir t;
  const std::string dir = t.path + "/log";
  std::filesystem::create_directory(dir);
  std::ofstream(dir + "/records.log").close();
  std::filesystem::resize_file(dir + "/records.log", log::kMaxLogBytes);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) [&]() noexcept {  // a throw ends the child, which never returns into the test runner
    const rlimit limit{1u << 30, 1u << 30};
    const std::string text = ::setrlimit(RLIMIT_AS, &limit) ? "no limit" : message_of(LogWriter::open(dir, test_rules()));
    if (text == "I/O error: Failed to deserialize record: EOF while parsing a value at line 1 column 0") ::_exit(0);
    std::fprintf(stderr, "%s\n", text.c_str());
    ::_exit(1);
  }();
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// Commits until killed, reporting each acknowledged id on `out`: requests,
// every third signed, every fifth by an unknown author (rejected), each
// using the one before.
[[noreturn]] void commit_forever(const std::string& dir, int out, int round) {
  const Log shape;  // builds the inputs
  const auto& rules = shape.rules;
  auto w = LogWriter::open(dir, rules);
  if (!w) ::_exit(3);
  std::optional<Id> last;
  for (int i = 0;; ++i) {
    const std::string objective = std::to_string(round) + "-" + std::to_string(i);
    log::RecordInput in = shape.input(
        request(objective, i % 5 == 4 ? "nobody" : "user", last ? std::vector{use(*last)} : std::vector<Ref>{}));
    auto out_id = i % 3 == 2 ? w->commit_signed(std::move(in), rules, w->state(), signer(1))
                             : w->commit(std::move(in), rules, w->state());
    if (!out_id) ::_exit(4);
    last = out_id->id;
    if (::write(out, out_id->id.data(), 32) != 32) ::_exit(5);
  }
}

TEST(LogKill, AcknowledgedCommitsSurvive) {
  const char* env = std::getenv("QUINTREL_LOG_KILLS");
  const int kills = env ? std::atoi(env) : 20;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  TempDir t;
  std::string dir;
  std::vector<Id> acknowledged;
  for (int k = 0; k < kills; ++k) {
    // A fresh directory now and then keeps each opening's replay short.
    if (k % 25 == 0) dir = t.path + "/log" + std::to_string(k), acknowledged.clear();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      commit_forever(dir, fds[1], k);
    }
    ::close(fds[1]);
    // A few acknowledgements first, then a random moment within a commit or two.
    // Each id is one write of 32 bytes, which a pipe passes whole.
    auto read_id = [&] {
      Id id;
      if (::read(fds[0], id.data(), id.size()) != static_cast<ssize_t>(id.size())) return false;
      acknowledged.push_back(id);
      return true;
    };
    const size_t before = acknowledged.size();
    for (int n = std::uniform_int_distribution(0, 3)(rng); n > 0 && read_id(); --n) {
    }
    // While the child holds the log, no other writer gets it.
    if (acknowledged.size() > before) {
      EXPECT_EQ(message_of(LogWriter::open(dir, test_rules())), "log is already locked by another writer");
    }
    ::usleep(std::uniform_int_distribution(0, 20000)(rng));
    ::kill(pid, SIGKILL);
    while (read_id()) {
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with " << WEXITSTATUS(status);

    auto w = LogWriter::open(dir, test_rules());
    ASSERT_TRUE(w) << "kill " << k << ": " << w.error().message();
    for (const Id& id : acknowledged) {
      auto at = w->first_position(id);
      ASSERT_TRUE(at) << "kill " << k << ": an acknowledged commit is missing";
      EXPECT_EQ(w->records()[*at + 1].kind, Kind::Verdict);
    }
    EXPECT_EQ(w->records().size() % 2, 0u);
    EXPECT_FALSE(std::filesystem::exists(dir + "/.intent"));
  }
}

}  // namespace
}  // namespace quintrel::fixture
