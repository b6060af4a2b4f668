// Replaying whole logs: the whole-input checks, the walk over subject and
// Verdict pairs with the comparison of stored and re-derived verdicts, and the
// rebuild of the state from a verified log.
#include "log_fixture.h"
#include "record/evolution_payloads.h"
#include "state/build.h"
#include "verify/replay.h"

namespace quintrel::fixture {
namespace {

using namespace record;
using R = ReasonCode;
const Id kScope = base::sha256("scope");

Draft request(std::string objective, std::string author = "user", std::vector<Ref> refs = {}) {
  return draft(Kind::Request, std::move(author), RequestData{std::move(objective), kScope}, std::move(refs));
}
Record retimed(Record r, uint64_t time) {
  r.time = time;
  Log::seal(r);
  return r;
}

TEST(Replay, VerifyingLogs) {
  EXPECT_EQ(verify::verify_log({}, test_rules()), verify::LogVerdict{});
  // A stored rejection with the reason replay derives verifies; the subject
  // stays out of the state, and a record requiring it is refused in turn.
  Log log;
  log.accept(request("o"));
  CandidateData cand;
  cand.source.git.tree = std::string(40, 'a');
  const Id c = log.accept(draft(Kind::Candidate, "provider", cand));
  const Id e = log.accept(draft(Kind::Evaluation, "provider", EvaluationData{c, "tests"}, {use(c)}));
  const Id s = log.accept(draft(Kind::Selection, "provider",
                                SelectionData{"ship", {c}, SelectionOutcome::choose({c}), std::nullopt},
                                {require(c), use(e)}));
  const Id unsigned_req = log.commit(request("x", "nobody")).id;
  EXPECT_EQ(log.commit(request("y", "user", {require(unsigned_req)})).judgement, R::RefUnresolved);
  log.accept(draft(Kind::Retraction, "provider", RetractionData{s, "wrong"}, {cause(s)}));
  auto v = verify::verify_log(log.records(), log.rules);
  EXPECT_FALSE(v.failure);
  EXPECT_EQ(v.checked_records, log.records().size());
  EXPECT_EQ(v.last_time, log.records().size());
  EXPECT_EQ(v.retracted, base::IdSet{s});
  EXPECT_EQ(v.standing.unsound, base::IdSet{s});
  auto state = verify::verify_and_build_state(log.records(), log.rules);
  ASSERT_TRUE(state);
  EXPECT_EQ(*state, log.state());
}

TEST(Replay, RefusedShapes) {
  Log log;
  log.accept(request("a"));
  log.accept(request("b"));
  const auto& rs = log.records();
  auto tampered = rs;
  tampered[2].data.back() = ' ';  // the id no longer matches
  // The whole input is checked first: times and ids fail with nothing checked.
  const struct {
    const char* name;
    std::vector<Record> records;
    R failure;
    uint64_t checked;
  } cases[] = {
      {"times 1, 2, 3, 5", {rs[0], rs[1], rs[2], retimed(rs[3], 5)}, R::InvalidPayload, 0},
      {"an id that does not match", tampered, R::InvalidPayload, 0},
      {"a subject without its Verdict", {rs[0], rs[1], rs[2]}, R::InvalidPayload, 2},
      {"a Verdict first in the log", {retimed(rs[1], 1)}, R::RefUnresolved, 0},
      {"a second Verdict for a judged subject", {rs[0], rs[1], retimed(rs[1], 3), retimed(rs[2], 4)},
       R::InvalidPayload, 2},
  };
  for (const auto& c : cases) {
    auto v = verify::verify_log(c.records, test_rules());
    EXPECT_EQ(v.failure, c.failure) << c.name;
    EXPECT_EQ(v.checked_records, c.checked) << c.name;
    EXPECT_EQ(v.last_time, c.records.back().time) << c.name;
  }
}

TEST(Replay, StoredAgainstDerivedVerdicts) {
  // Subject 0 is accepted by replay; subject 2 is refused with AuthorRoleInvalid.
  Log log;
  log.accept(request("a"));
  EXPECT_EQ(log.commit(request("b", "nobody")).judgement, R::AuthorRoleInvalid);
  const struct {
    size_t position;
    VerdictData stored;
    std::optional<R> failure;
  } cases[] = {
      {0, {VerdictResult::Accept, std::nullopt}, std::nullopt},
      {0, {VerdictResult::Accept, R::Refused}, R::InvalidPayload},
      {0, {VerdictResult::Reject, R::InvalidPayload}, R::InvalidPayload},
      {2, {VerdictResult::Accept, std::nullopt}, R::AuthorRoleInvalid},
      {2, {VerdictResult::Reject, R::AuthorRoleInvalid}, std::nullopt},
      {2, {VerdictResult::Reject, R::UnknownSchema}, R::AuthorRoleInvalid},
  };
  for (const auto& c : cases) {
    auto records = log.records();
    Record& stored = records.at(c.position + 1);
    stored.data = base::to_bytes(json(c.stored));
    Log::seal(stored);
    auto v = verify::verify_log(records, log.rules);
    EXPECT_EQ(v.failure, c.failure) << c.position << " " << json(c.stored);
    EXPECT_EQ(v.checked_records, c.failure ? c.position : records.size());
    // The rebuild refuses exactly what replay refuses, with the same verdict.
    auto built = verify::verify_and_build_state(records, log.rules);
    EXPECT_EQ(built.has_value(), !c.failure);
    EXPECT_TRUE(built || built.error() == v);
  }
}

}  // namespace
}  // namespace quintrel::fixture
