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

Draft request(std::string objective = "o") {
  return draft(Kind::Request, "user", RequestData{std::move(objective), kScope});
}
Draft root_candidate(char tree) {
  CandidateData c;
  c.source.git.tree = std::string(40, tree);
  return draft(Kind::Candidate, "provider", c);
}
Draft evaluate(Id candidate) {
  return draft(Kind::Evaluation, "provider", EvaluationData{candidate, "tests"}, {use(candidate)});
}
Draft choose(Id candidate, Id evaluation) {
  return draft(Kind::Selection, "provider",
               SelectionData{"ship", {candidate}, SelectionOutcome::choose({candidate}), std::nullopt},
               {require(candidate), use(evaluation)});
}

// Replaces the stored verdict of the subject at `position` and reseals it.
void restate(std::vector<Record>& records, size_t position, VerdictData verdict) {
  Record& v = records.at(position + 1);
  v.data = base::to_bytes(json(verdict));
  Log::seal(v);
}

TEST(Replay, VerifyingLogs) {
  EXPECT_EQ(verify::verify_log({}, test_rules()), verify::LogVerdict{});

  Log log;
  log.accept(request());
  auto one = verify::verify_log(log.records(), log.rules());
  EXPECT_EQ(one.checked_records, 2u);
  EXPECT_EQ(one.last_time, 2u);
  EXPECT_FALSE(one.failure);

  // A stored rejection with the reason replay derives verifies; the subject
  // stays out of the state, and a record requiring it is refused in turn.
  Id c = log.accept(root_candidate('a'));
  Id s = log.accept(choose(c, log.accept(evaluate(c))));
  Id unsigned_req = log.commit(draft(Kind::Request, "nobody", RequestData{"x", kScope})).id;
  EXPECT_EQ(log.commit(draft(Kind::Request, "user", RequestData{"y", kScope}, {require(unsigned_req)})).judgement,
            R::RefUnresolved);
  log.accept(draft(Kind::Retraction, "provider", RetractionData{s, "wrong"}, {cause(s)}));
  auto full = verify::verify_log(log.records(), log.rules());
  EXPECT_FALSE(full.failure);
  EXPECT_EQ(full.checked_records, log.records().size());
  EXPECT_EQ(full.retracted, base::IdSet{s});
  EXPECT_EQ(full.standing.unsound, base::IdSet{s});

  auto state = state::verify_and_build_state(log.records(), log.rules());
  ASSERT_TRUE(state);
  EXPECT_EQ(*state, log.state());
}

TEST(Replay, WholeInputChecksComeFirst) {
  Log log;
  log.accept(request("a"));
  log.accept(request("b"));
  auto records = log.records();
  const uint64_t last = records.back().time;

  auto renumbered = records;
  renumbered[3].time = 5;  // times 1, 2, 3, 5
  Log::seal(renumbered[3]);
  auto v = verify::verify_log(renumbered, log.rules());
  EXPECT_EQ(v.failure, R::InvalidPayload);
  EXPECT_EQ(v.checked_records, 0u);
  EXPECT_EQ(v.last_time, 5u);

  auto tampered = records;
  tampered[2].data.back() = ' ';  // the id no longer matches
  v = verify::verify_log(tampered, log.rules());
  EXPECT_EQ(v.failure, R::InvalidPayload);
  EXPECT_EQ(v.checked_records, 0u);
  EXPECT_EQ(v.last_time, last);

  // Resealed (and its Verdict pointed at the new id), the same bytes pass the
  // id check and fail as a payload that does not read: the stored Accept
  // disagrees.
  Log::seal(tampered[2]);
  tampered[3].refs[0].target = tampered[2].id;
  Log::seal(tampered[3]);
  v = verify::verify_log(tampered, log.rules());
  EXPECT_EQ(v.failure, R::InvalidPayload);
  EXPECT_EQ(v.checked_records, 2u);
  EXPECT_TRUE(v.retracted.empty() && v.standing == verify::StandingSection{});
}

TEST(Replay, PairStructure) {
  Log log;
  log.accept(request("a"));
  log.accept(request("b"));
  const auto& records = log.records();
  auto replay = [&](std::vector<Record> rs) { return verify::verify_log(rs, log.rules()); };

  // A subject without its Verdict, at the end and before another subject.
  auto v = replay({records.begin(), records.end() - 1});
  EXPECT_EQ(v.failure, R::InvalidPayload);
  EXPECT_EQ(v.checked_records, 2u);

  // A Verdict where a subject is expected: first in the log, or a second
  // Verdict for an already judged subject.
  Record lone = records[1];
  lone.time = 1;
  Log::seal(lone);
  EXPECT_EQ(replay({lone}).failure, R::RefUnresolved);
  Record again = records[1];
  again.time = 3;
  Log::seal(again);
  Record third = records[2];
  third.time = 4;
  Log::seal(third);
  v = replay({records[0], records[1], again, third});
  EXPECT_EQ(v.failure, R::InvalidPayload);
  EXPECT_EQ(v.checked_records, 2u);
}

TEST(Replay, StoredAgainstDerivedVerdicts) {
  // Subject 0 is accepted by replay; subject 2 is refused with AuthorRoleInvalid.
  Log log;
  log.accept(request("a"));
  EXPECT_EQ(log.commit(draft(Kind::Request, "nobody", RequestData{"b", kScope})).judgement, R::AuthorRoleInvalid);
  struct Case {
    size_t position;
    VerdictData stored;
    std::optional<R> failure;
  };
  const Case cases[] = {
      {0, {VerdictResult::Accept, std::nullopt}, std::nullopt},
      {0, {VerdictResult::Accept, R::Refused}, R::InvalidPayload},
      {0, {VerdictResult::Reject, R::InvalidPayload}, R::InvalidPayload},
      {0, {VerdictResult::Reject, std::nullopt}, R::InvalidPayload},
      {2, {VerdictResult::Accept, std::nullopt}, R::AuthorRoleInvalid},
      {2, {VerdictResult::Reject, R::AuthorRoleInvalid}, std::nullopt},
      {2, {VerdictResult::Reject, R::UnknownSchema}, R::AuthorRoleInvalid},
      {2, {VerdictResult::Reject, std::nullopt}, R::AuthorRoleInvalid},
  };
  for (const auto& c : cases) {
    auto records = log.records();
    restate(records, c.position, c.stored);
    auto v = verify::verify_log(records, log.rules());
    EXPECT_EQ(v.failure, c.failure) << c.position << " " << json(c.stored);
    if (c.failure) {
      EXPECT_EQ(v.checked_records, c.position);
    }
  }
}

TEST(Replay, RebuildFailures) {
  Log log;
  log.accept(request("a"));
  auto records = log.records();
  restate(records, 0, {VerdictResult::Reject, R::InvalidPayload});
  auto failed = state::verify_and_build_state(records, log.rules());
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().failure, R::InvalidPayload);
  EXPECT_EQ(failed.error().checked_records, 0u);
}

}  // namespace
}  // namespace quintrel::fixture
