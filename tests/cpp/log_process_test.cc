// The log on real files across processes: links planted in the directory,
// an opening under a memory limit, and a writer killed at random moments
// while it commits, whose lock no other process gets meanwhile.
// QUINTREL_LOG_KILLS sets the number of kills (20 by default).
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "log_fixture.h"
#include "record/evolution_payloads.h"
#include "temp_dir.h"

namespace quintrel::fixture {
namespace {

using log::LogWriter;

std::string message_of(const std::expected<LogWriter, log::LogError>& w) {
  return w ? "opened" : w.error().message();
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
  EXPECT_EQ(message_of(LogWriter::open(dir, test_rules())),
            "I/O error: 11 bytes at offset 0 of records.log are neither a complete frame nor the torn tail of an "
            "interrupted commit; refusing to cut them");
  std::filesystem::remove(dir + "/records.log");
  std::filesystem::create_symlink(elsewhere, dir + "/.intent.intent.tmp");
  const Log shape;
  auto w = LogWriter::open(dir, shape.rules);
  ASSERT_TRUE(w) << w.error().message();
  ASSERT_TRUE(w->commit(shape.input(draft(Kind::Request, "user", record::RequestData{"x", shape.rules.space})),
                        shape.rules, w->state()));
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
    log::RecordInput in = shape.input(draft(Kind::Request, i % 5 == 4 ? "nobody" : "user",
                                            record::RequestData{objective, rules.space},
                                            last ? std::vector{use(*last)} : std::vector<Ref>{}));
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
