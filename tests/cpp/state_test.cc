// The derived state (the fold of each kind, taint, retraction cleanups, the
// rebuild), and the replay of whole logs against their stored verdicts.
#include <functional>

#include "id_text.h"
#include "log_fixture.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"
#include "state/build.h"
#include "state/incremental.h"
#include "verify/replay.h"

namespace quintrel::state {
namespace {

using namespace quintrel::fixture;
using namespace record;
using R = ReasonCode;
const Id kScope = base::sha256("scope");

// Payloads about request 1 and scope 8.
ActionData action() { return {id_of(1), "deploy", id_of(8), ExecMode::Internal, {}}; }
CapabilityData capability() { return {"bob", "deploy", id_of(8), CapabilityMode::Auto, {}}; }
RequirementData requirement(std::string key) { return {std::move(key), "d", true, {}, {}}; }
PlanData plan(PlanStatus status, uint8_t request = 1) { return {id_of(request), {}, status}; }
Record request(uint8_t id, std::vector<Ref> refs = {}) {
  return make_record(id, Kind::Request, RequestData{"objective", id_of(8), {}, std::nullopt}, refs);
}
Record retract(uint8_t id, uint8_t target) {
  return make_record(id, Kind::Retraction, RetractionData{id_of(target), "withdrawn"});
}
Record refusal(uint8_t id, uint8_t target, RefusalTarget kind) {
  return make_record(id, Kind::Refusal, RefusalData{id_of(target), kind, {}});
}
Record usage(uint8_t id, std::string role, UsageOutcome o) {
  return make_record(id, Kind::Usage, UsageData{"bob", id_of(7), id_of(9), role, o});
}
void apply_all(State& s, const std::vector<Record>& records) {
  for (const auto& r : records) ASSERT_TRUE(apply_record(s, r, kAccept)) << static_cast<int>(r.kind);
}

TEST(State, FoldTaintRetractionCleanupsAndTheRebuild) {
  const Id action_subject = *action_approval_subject_hash("alice", action());
  const SelectionData selection{"pick", {}, SelectionOutcome::none(), {}};
  const Id selection_subject = *selection_approval_subject_hash("alice", id_of(7), selection);
  // [type, subject, scope], written canonically by hand.
  const Id summary_key = base::sha256(R"(["Lesson",)" + fixture::id_text(7) + "," + fixture::id_text(8) + "]");
  const SummaryData summary{SummaryType::Lesson, id_of(7), id_of(8), {1, 2}};
  const CapabilityKey cap{"bob", "deploy", id_of(8)};
  const ClassApprovalKey cls{"deploy", id_of(8), std::nullopt};
  const std::pair<Id, Id> act3{id_of(3), id_of(1)}, act4{id_of(4), id_of(1)};
  auto exact = [](uint8_t id, const Id& subject) {
    return make_record(id, Kind::Approval, ApprovalData{subject, {}, id_of(8), "bob", {}});
  };
  const struct {
    const char* name;
    std::vector<Record> records;
    std::function<void(State&)> expect;
  } cases[] = {
      // Consuming it when Required shows in the kind checks.
      {"actions that only Use or cite the exact approval leave it",
       {exact(2, action_subject), make_record(3, Kind::Action, action(), {use(2)}),
        make_record(4, Kind::Action, action(), {cause(2), replace(2)})},
       [&](State& e) {
         e.valid_approvals = {{action_subject, id_of(2)}}, e.exact_approval_index = {{id_of(2), action_subject}};
         e.open_actions = {id_of(3), id_of(4)}, e.action_to_request = {act3, act4};
         e.request_open_action_count = {{id_of(1), 2}}, e.epistemic_dependents = {{id_of(2), {id_of(3)}}};
       }},
      {"a closing response ends the request and its plan",
       {request(1), make_record(2, Kind::Plan, plan(PlanStatus::running)),
        make_record(3, Kind::Response, ResponseData{id_of(1), "done", 0, true})},
       [](State& e) { e.response_turns = {{id_of(1), 1}}; }},
      {"results and refusals close",
       {make_record(3, Kind::Action, action()), make_record(4, Kind::Action, action()),
        make_record(5, Kind::Result, ResultData{id_of(3), {}, "ok", {}}), request(1),
        make_record(12, Kind::Plan, plan(PlanStatus::running)), refusal(6, 1, RefusalTarget::Request),
        refusal(7, 4, RefusalTarget::Action), refusal(8, 3, RefusalTarget::VerifiedEffect)},
       [&](State& e) { e.action_to_request = {act3, act4}; }},
      {"a summary key passes to the newer summary",
       {make_record(2, Kind::Summary, summary), make_record(3, Kind::Summary, summary, {replace(2)})},
       [&](State& e) { e.active_summaries = {{summary_key, id_of(3)}}, e.replaced_records = {id_of(2)}; }},
      {"a class approval and a replaced capability",
       {make_record(2, Kind::Approval, ApprovalData{{}, "deploy", id_of(8), {}, 5}),
        make_record(3, Kind::Capability, capability()), make_record(4, Kind::Capability, capability(), {replace(3)})},
       [&](State& e) {
         e.class_approvals = {{cls, id_of(2)}}, e.class_approval_index = {{id_of(2), cls}};
         e.active_capabilities = {{cap, id_of(4)}}, e.capability_index = {{id_of(3), cap}, {id_of(4), cap}};
         e.replaced_records = {id_of(3)};
       }},
      {"usage tallies",
       {usage(2, "in", UsageOutcome::Done), usage(3, "in", UsageOutcome::NoChange), usage(4, "in", UsageOutcome::Done),
        usage(5, "tool", UsageOutcome::NotDone)},
       [](State& e) { e.usage_counts = {{{id_of(7), "in"}, {2, 0, 1}}, {{id_of(7), "tool"}, {0, 1, 0}}}; }},
      {"a finished plan ends the plan it replaced",
       {make_record(2, Kind::Plan, plan(PlanStatus::running)),
        make_record(3, Kind::Plan, plan(PlanStatus::abandoned), {replace(2)}),
        make_record(4, Kind::Plan, plan(PlanStatus::running, 9))},
       [](State& e) { e.active_plans = {{id_of(9), id_of(4)}}, e.replaced_records = {id_of(2)}; }},
      {"a selection consumes the approval of its decision",
       {exact(2, selection_subject), make_record(3, Kind::Selection, selection, {require(2), replace(7)})},
       [](State& e) { e.replaced_records = {id_of(7)}, e.epistemic_dependents = {{id_of(2), {id_of(3)}}}; }},
      {"requirements, one without a request",
       {make_record(2, Kind::Requirement, requirement("k"), {cause(1)}),
        make_record(3, Kind::Requirement, requirement("j"))},
       [](State& e) { e.requirement_keys = {{id_of(1), {"k"}}}, e.requirement_index = {{id_of(2), {id_of(1), "k"}}}; }},
  };
  for (const auto& c : cases) {
    State s, e;
    apply_all(s, c.records);
    for (const auto& r : c.records) e.accepted_records.insert(r.id);
    c.expect(e);
    EXPECT_EQ(s, e) << c.name;
  }
  // Requests are never decoded; every other folded kind is.
  State s;
  EXPECT_TRUE(apply_record(s, raw_record(5, Kind::Request, "not json"), kAccept));
  for (Kind k : {Kind::Action, Kind::Retraction, Kind::Selection, Kind::Requirement, Kind::Plan})
    EXPECT_FALSE(apply_record(s, raw_record(6, k, "{}"), kAccept)) << static_cast<int>(k);
  // Taint spreads through Use and Require refs only.
  s = State{};
  apply_all(s, {request(1), request(2, {use(1)}), request(3, {require(2)}), request(4, {cause(2), replace(3)}),
                request(5, {use(3)}), retract(30, 1)});
  EXPECT_EQ(s.retracted_records, base::IdSet{id_of(1)});
  EXPECT_EQ(s.tainted_records, (base::IdSet{id_of(2), id_of(3), id_of(5)}));
  // Later records resting on a retracted or tainted one are tainted on
  // arrival, together with what rests on them, and still fold.
  apply_all(s, {make_record(6, Kind::Action, action(), {use(1)}), request(7, {use(4)}), request(8, {require(5)})});
  EXPECT_TRUE(s.open_actions.contains(id_of(6)));
  EXPECT_EQ(s.tainted_records, (base::IdSet{id_of(2), id_of(3), id_of(5), id_of(6), id_of(8)}));
  // Retracting the target again, after more dependents arrived, taints them too.
  apply_all(s, {request(9, {use(1)}), retract(31, 1), request(10, {require(9)}), retract(32, 1)});
  EXPECT_TRUE(s.tainted_records.contains(id_of(9)) && s.tainted_records.contains(id_of(10)));
  // Retraction cleanups release only what the target holds.
  s = State{};
  apply_all(s, {make_record(2, Kind::Capability, capability()), make_record(3, Kind::Capability, capability()),
                make_record(4, Kind::Approval, ApprovalData{id_of(9), {}, id_of(8), "bob", {}}),
                make_record(5, Kind::Approval, ApprovalData{{}, "deploy", id_of(8), "bob", {}}),
                make_record(6, Kind::Summary, SummaryData{}),
                make_record(7, Kind::Requirement, requirement("k"), {cause(1)}),
                make_record(8, Kind::Requirement, requirement("j"), {cause(1)})});
  // 2 no longer holds its capability key; a summary is never released.
  apply_all(s, {retract(32, 2), retract(36, 6), retract(37, 7)});
  EXPECT_EQ(s.active_capabilities.size(), 1u);
  EXPECT_EQ(s.active_summaries.size(), 1u);
  EXPECT_EQ(s.requirement_keys, (base::IdMap<std::set<std::string>>{{id_of(1), {"j"}}}));
  apply_all(s, {retract(33, 3), retract(34, 4), retract(35, 5), retract(38, 8)});
  EXPECT_TRUE(s.active_capabilities.empty() && s.valid_approvals.empty() && s.class_approvals.empty() &&
              s.requirement_keys.empty());
  // 8 gave the key up; retracting it again must not free the key 20 now holds.
  apply_all(s, {make_record(20, Kind::Requirement, requirement("j"), {cause(1)}), retract(39, 8)});
  EXPECT_EQ(s.requirement_keys, (base::IdMap<std::set<std::string>>{{id_of(1), {"j"}}}));
  apply_all(s, {retract(40, 20)});
  EXPECT_TRUE(s.requirement_keys.empty());
  // The rebuild trusts the last Verdict of each subject.
  auto at = [](Record r, uint64_t time) { return r.time = time, r; };
  auto verdict = [&](uint8_t id, uint64_t time, Ref ref, const VerdictData& v) {
    return at(make_record(id, Kind::Verdict, v, {ref}), time);
  };
  EXPECT_EQ(build_state_unchecked({}), State{});
  const std::vector<Record> log{
      at(request(1), 1), verdict(101, 2, cause(1), kReject), at(request(2), 3), verdict(102, 4, cause(2), kReject),
      verdict(103, 5, cause(1), kAccept),
      // No Cause ref: passed over, even with a payload that does not read.
      at(raw_record(104, Kind::Verdict, "{}", {use(2)}), 6), verdict(105, 7, use(2), kAccept),
      // A trailing subject without a Verdict is not applied.
      at(request(3), 8)};
  State e;
  e.accepted_records = {id_of(1)}, e.active_requests = {id_of(1)}, e.applied_up_to = 8;
  EXPECT_EQ(build_state_unchecked(log), e);
  // Payloads that do not read fail: a Verdict's (its subject absent), a subject's.
  EXPECT_FALSE(build_state_unchecked(std::vector<Record>{at(raw_record(101, Kind::Verdict, "{}", {cause(9)}), 1)}));
  EXPECT_FALSE(build_state_unchecked(
      std::vector<Record>{at(raw_record(1, Kind::Plan, "[]"), 1), verdict(101, 2, cause(1), kAccept)}));
}

Draft request_draft(std::string objective, std::string author = "user", std::vector<Ref> refs = {}) {
  return draft(Kind::Request, std::move(author), RequestData{std::move(objective), kScope}, std::move(refs));
}
Record retimed(Record r, uint64_t time) { return r.time = time, Log::seal(r), r; }

TEST(Replay, LogsShapesAndStoredVerdicts) {
  EXPECT_EQ(verify::verify_log({}, test_rules()), verify::LogVerdict{});
  // A stored rejection with the reason replay derives verifies; the subject
  // (8) stays out of the state, and a record requiring it is refused in turn.
  Log log;
  log.accept(request_draft("o"));
  const Id c = log.accept(draft(Kind::Candidate, "provider", CandidateData{{{SourceAlgo::sha1, std::string(40, 'a')}}}));
  const Id e = log.accept(draft(Kind::Evaluation, "provider", EvaluationData{c, "tests"}, {use(c)}));
  const Id s = log.accept(draft(Kind::Selection, "provider",
                                SelectionData{"ship", {c}, SelectionOutcome::choose({c}), std::nullopt},
                                {require(c), use(e)}));
  const Commit unsigned_req = log.commit(request_draft("x", "nobody"));
  EXPECT_EQ(unsigned_req.judgement, R::AuthorRoleInvalid);
  EXPECT_EQ(log.commit(request_draft("y", "user", {require(unsigned_req.id)})).judgement, R::RefUnresolved);
  log.accept(draft(Kind::Retraction, "provider", RetractionData{s, "wrong"}, {cause(s)}));
  auto v = verify::verify_log(log.records(), log.rules);
  EXPECT_FALSE(v.failure);
  EXPECT_EQ(v.checked_records, log.records().size());
  EXPECT_EQ(v.last_time, log.records().size());
  EXPECT_EQ(v.retracted, base::IdSet{s});
  EXPECT_EQ(v.standing.unsound, base::IdSet{s});
  EXPECT_EQ(verify::verify_and_build_state(log.records(), log.rules).value(), log.state());

  const auto& rs = log.records();
  auto tampered = rs;
  tampered[2].data.back() = ' ';  // the id no longer matches
  // The whole input is checked first: times and ids fail with nothing checked.
  const struct {
    const char* name;
    std::vector<Record> records;
    R failure;
    uint64_t checked;
  } shapes[] = {
      {"times 1, 2, 3, 5", {rs[0], rs[1], rs[2], retimed(rs[3], 5)}, R::InvalidPayload, 0},
      {"an id that does not match", tampered, R::InvalidPayload, 0},
      {"a subject without its Verdict", {rs[0], rs[1], rs[2]}, R::InvalidPayload, 2},
      {"a Verdict first in the log", {retimed(rs[1], 1)}, R::RefUnresolved, 0},
      {"a second Verdict for a judged subject", {rs[0], rs[1], retimed(rs[1], 3), retimed(rs[2], 4)},
       R::InvalidPayload, 2},
  };
  for (const auto& c : shapes) {
    v = verify::verify_log(c.records, log.rules);
    EXPECT_EQ(v.failure, c.failure) << c.name;
    EXPECT_EQ(v.checked_records, c.checked) << c.name;
    EXPECT_EQ(v.last_time, c.records.back().time) << c.name;
  }
  // Stored verdicts against those replay derives for subjects 0 and 8.
  const struct {
    size_t position;
    VerdictData stored;
    std::optional<R> failure;
  } cases[] = {
      {0, {VerdictResult::Accept, std::nullopt}, std::nullopt},
      {0, {VerdictResult::Accept, R::Refused}, R::InvalidPayload},
      {0, {VerdictResult::Reject, R::InvalidPayload}, R::InvalidPayload},
      {8, {VerdictResult::Accept, std::nullopt}, R::AuthorRoleInvalid},
      {8, {VerdictResult::Reject, R::AuthorRoleInvalid}, std::nullopt},
      {8, {VerdictResult::Reject, R::UnknownSchema}, R::AuthorRoleInvalid},
  };
  for (const auto& c : cases) {
    auto records = log.records();
    Record& stored = records.at(c.position + 1);
    stored.data = base::to_bytes(json(c.stored));
    Log::seal(stored);
    v = verify::verify_log(records, log.rules);
    EXPECT_EQ(v.failure, c.failure) << c.position << " " << json(c.stored);
    EXPECT_EQ(v.checked_records, c.failure ? c.position : records.size());
    // The rebuild refuses exactly what replay refuses, with the same verdict.
    auto built = verify::verify_and_build_state(records, log.rules);
    EXPECT_EQ(built.has_value(), !c.failure);
    EXPECT_TRUE(built || built.error() == v);
  }
}

}  // namespace
}  // namespace quintrel::state
