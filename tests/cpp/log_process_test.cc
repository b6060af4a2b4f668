// The log on real files across processes: the directory lock, and a writer
// killed at random moments while it commits. QUINTREL_LOG_KILLS sets the
// number of kills (20 by default).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
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

TEST(LogLock, OneWriterPerDirectory) {
  TempDir t;
  const std::string dir = t.path + "/log";
  {
    auto first = LogWriter::open(dir, test_rules());
    ASSERT_TRUE(first) << first.error().message();
    EXPECT_EQ(message_of(LogWriter::open(dir, test_rules())), "log is already locked by another writer");
  }
  EXPECT_EQ(message_of(LogWriter::open(dir, test_rules())), "opened");

  // Another process holds the writer until told to let go.
  int ready[2], go[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(go), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    auto w = LogWriter::open(dir, test_rules());
    char c = w ? '1' : '0';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(go[0], &c, 1);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, '1');
  EXPECT_EQ(message_of(LogWriter::open(dir, test_rules())), "log is already locked by another writer");
  (void)!::write(go[1], &c, 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(message_of(LogWriter::open(dir, test_rules())), "opened");
  for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
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
    auto read_id = [&]() -> bool {
      Id id;
      size_t got = 0;
      while (got < id.size()) {
        ssize_t n = ::read(fds[0], id.data() + got, id.size() - got);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
      }
      acknowledged.push_back(id);
      return true;
    };
    for (int n = std::uniform_int_distribution(0, 3)(rng); n > 0 && read_id(); --n) {
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
