// The derived state: the fold of each kind, taint, retraction cleanups,
// equality, and the rebuild from stored records.
#include <gtest/gtest.h>

#include <functional>

#include "base/hash.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"
#include "record_builder.h"
#include "state/build.h"
#include "state/incremental.h"

namespace quintrel::state {
namespace {

using namespace quintrel::testing;
using record::Kind;
using record::Record;

std::string id_json(uint8_t byte) {
  std::string s = "[";
  for (int i = 0; i < 32; ++i) s += (i ? "," : "") + std::to_string(byte);
  return s + "]";
}

record::RequestData request() { return {"objective", id_of(8), {}, std::nullopt}; }
record::ActionData action(uint8_t request) { return {id_of(request), "deploy", id_of(8), record::ExecMode::Internal, {}}; }
record::SelectionData selection() { return {"pick", {id_of(20)}, record::SelectionOutcome::choose({id_of(20)}), {}}; }
record::ApprovalData exact(const Id& subject) { return {subject, std::nullopt, id_of(8), "bob", std::nullopt}; }
record::CapabilityData capability() { return {"bob", "deploy", id_of(8), record::CapabilityMode::Auto, std::nullopt}; }
record::RetractionData retraction(uint8_t target) { return {id_of(target), "withdrawn"}; }
record::RequirementData requirement(std::string key) {
  return {std::move(key), "must hold", true, std::nullopt, record::Provenance::user_authored};
}
record::PlanData plan(uint8_t request, record::PlanStatus status) { return {id_of(request), {}, status}; }
record::UsageData usage(std::string role, record::UsageOutcome outcome) {
  return {"bob", id_of(7), id_of(9), std::move(role), outcome};
}

Id action_subject() { return *record::action_approval_subject_hash("alice", action(1)); }
Id selection_subject() { return *record::selection_approval_subject_hash("alice", id_of(7), selection()); }

void apply_all(State& s, const std::vector<Record>& records) {
  for (const auto& r : records) ASSERT_TRUE(apply_record(s, r, kAccept)) << static_cast<int>(r.kind);
}

TEST(StateFold, EachKindChangesOnlyItsFields) {
  const CapabilityKey cap{"bob", "deploy", id_of(8)};
  const ClassApprovalKey cls{"deploy", id_of(8), std::nullopt};
  // The summary key is the hash of [type, subject, scope] written canonically.
  const Id summary_key = base::sha256(R"(["Lesson",)" + id_json(7) + "," + id_json(8) + "]");
  const record::SummaryData summary{record::SummaryType::Lesson, id_of(7), id_of(8), {1, 2}};
  using record::PlanStatus;
  using record::RefusalTarget;
  using record::UsageOutcome;
  struct Case {
    const char* name;
    std::vector<Record> records;
    std::function<void(State&)> expect;
  };
  const Case cases[] = {
      {"request", {make_record(1, Kind::Request, request())}, [](State& e) { e.active_requests = {id_of(1)}; }},
      {"action consumes the exact approval it requires",
       {make_record(2, Kind::Approval, exact(action_subject())), make_record(3, Kind::Action, action(1), {require(2)})},
       [](State& e) {
         e.open_actions = {id_of(3)};
         e.action_to_request = {{id_of(3), id_of(1)}};
         e.request_open_action_count = {{id_of(1), 1}};
         e.epistemic_dependents = {{id_of(2), {id_of(3)}}};
       }},
      {"action without the Require ref leaves the approval",
       {make_record(2, Kind::Approval, exact(action_subject())), make_record(3, Kind::Action, action(1)),
        make_record(4, Kind::Action, action(1))},
       [](State& e) {
         e.valid_approvals = {{action_subject(), id_of(2)}};
         e.exact_approval_index = {{id_of(2), action_subject()}};
         e.open_actions = {id_of(3), id_of(4)};
         e.action_to_request = {{id_of(3), id_of(1)}, {id_of(4), id_of(1)}};
         e.request_open_action_count = {{id_of(1), 2}};
       }},
      {"closing response ends the request and its plan",
       {make_record(1, Kind::Request, request()), make_record(2, Kind::Plan, plan(1, PlanStatus::running)),
        make_record(3, Kind::Response, record::ResponseData{id_of(1), "done", 0, true})},
       [](State& e) { e.response_turns = {{id_of(1), 1}}; }},
      {"result and refusals close",
       {make_record(3, Kind::Action, action(1)), make_record(4, Kind::Action, action(1)),
        make_record(5, Kind::Result, record::ResultData{id_of(3), record::ResultStatus::Success, "ok", {}}),
        make_record(1, Kind::Request, request()), make_record(12, Kind::Plan, plan(1, PlanStatus::running)),
        make_record(6, Kind::Refusal, record::RefusalData{id_of(1), RefusalTarget::Request, {}}),
        make_record(7, Kind::Refusal, record::RefusalData{id_of(4), RefusalTarget::Action, {}}),
        make_record(8, Kind::Refusal, record::RefusalData{id_of(3), RefusalTarget::VerifiedEffect, {}})},
       [](State& e) { e.action_to_request = {{id_of(3), id_of(1)}, {id_of(4), id_of(1)}}; }},
      {"summary key passes to the newer summary",
       {make_record(2, Kind::Summary, summary), make_record(3, Kind::Summary, summary, {replace(2)})},
       [&](State& e) {
         e.active_summaries = {{summary_key, id_of(3)}};
         e.replaced_records = {id_of(2)};
       }},
      {"class approval and a replaced capability",
       {make_record(2, Kind::Approval, record::ApprovalData{{}, "deploy", id_of(8), {}, 5}),
        make_record(3, Kind::Capability, capability()),
        make_record(4, Kind::Capability, capability(), {replace(3)})},
       [&](State& e) {
         e.class_approvals = {{cls, id_of(2)}};
         e.class_approval_index = {{id_of(2), cls}};
         e.active_capabilities = {{cap, id_of(4)}};
         e.capability_index = {{id_of(3), cap}, {id_of(4), cap}};
         e.replaced_records = {id_of(3)};
       }},
      {"usage tallies",
       {make_record(2, Kind::Usage, usage("input", UsageOutcome::Done)),
        make_record(3, Kind::Usage, usage("input", UsageOutcome::NoChange)),
        make_record(4, Kind::Usage, usage("input", UsageOutcome::Done)),
        make_record(5, Kind::Usage, usage("tool", UsageOutcome::NotDone))},
       [](State& e) {
         e.usage_counts = {{{id_of(7), "input"}, {2, 0, 1}}, {{id_of(7), "tool"}, {0, 1, 0}}};
       }},
      {"a finished plan ends the plan it replaced",
       {make_record(2, Kind::Plan, plan(1, PlanStatus::running)),
        make_record(3, Kind::Plan, plan(1, PlanStatus::abandoned), {replace(2)}),
        make_record(4, Kind::Plan, plan(9, PlanStatus::running))},
       [](State& e) {
         e.active_plans = {{id_of(9), id_of(4)}};
         e.replaced_records = {id_of(2)};
       }},
      {"selection consumes the approval of its decision",
       {make_record(2, Kind::Approval, exact(selection_subject())),
        make_record(3, Kind::Selection, selection(), {require(2), replace(7)})},
       [](State& e) {
         e.replaced_records = {id_of(7)};
         e.epistemic_dependents = {{id_of(2), {id_of(3)}}};
       }},
      {"requirements",
       {make_record(2, Kind::Requirement, requirement("k"), {cause(1)}),
        make_record(3, Kind::Requirement, requirement("j"))},
       [](State& e) {
         e.requirement_keys = {{id_of(1), {"k"}}};
         e.requirement_index = {{id_of(2), {id_of(1), "k"}}};
       }},
  };
  for (const auto& c : cases) {
    State s;
    apply_all(s, c.records);
    State e;
    for (const auto& r : c.records) e.accepted_records.insert(r.id);
    c.expect(e);
    EXPECT_EQ(s, e) << c.name;
  }
}

TEST(StateFold, RejectedRecordsAndUnreadablePayloads) {
  State s;
  apply_all(s, {make_record(2, Kind::Capability, capability()), make_record(3, Kind::Request, request())});
  const State before = s;
  ASSERT_TRUE(apply_record(s, make_record(4, Kind::Retraction, retraction(2), {use(3)}), kReject));
  EXPECT_EQ(s, before);

  // Requests are never decoded; every other folded kind is.
  EXPECT_TRUE(apply_record(s, raw_record(5, Kind::Request, "not json"), kAccept));
  for (Kind k : {Kind::Action, Kind::Retraction, Kind::Selection, Kind::Requirement, Kind::Plan})
    EXPECT_FALSE(apply_record(s, raw_record(6, k, "{}"), kAccept)) << static_cast<int>(k);
  EXPECT_TRUE(apply_record(s, raw_record(7, Kind::Candidate, "{}"), kAccept));
}

TEST(StateTaint, SpreadsThroughUseAndRequireOnly) {
  State s;
  apply_all(s, {make_record(1, Kind::Request, request()), make_record(2, Kind::Request, request(), {use(1)}),
                make_record(3, Kind::Request, request(), {require(2)}),
                make_record(4, Kind::Request, request(), {cause(2), replace(3)}),
                make_record(5, Kind::Request, request(), {use(3)})});
  apply_all(s, {make_record(30, Kind::Retraction, retraction(1), {cause(1)})});
  EXPECT_EQ(s.retracted_records, std::set<Id>{id_of(1)});
  EXPECT_EQ(s.tainted_records, (std::set<Id>{id_of(2), id_of(3), id_of(5)}));

  // Later records resting on a retracted or tainted one are tainted on arrival,
  // and so are the records resting on them.
  apply_all(s, {make_record(6, Kind::Action, action(1), {use(1)}), make_record(7, Kind::Request, request(), {use(4)}),
                make_record(8, Kind::Request, request(), {require(5)})});
  EXPECT_TRUE(s.open_actions.contains(id_of(6)));
  EXPECT_EQ(s.tainted_records, (std::set<Id>{id_of(2), id_of(3), id_of(5), id_of(6), id_of(8)}));

  // An already tainted id is not walked again.
  State t;
  t.tainted_records = {id_of(1)};
  t.epistemic_dependents = {{id_of(1), {id_of(2)}}};
  const State before = t;
  mark_tainted(t, id_of(1));
  EXPECT_EQ(t, before);
}

TEST(StateTaint, RepeatedRetractionsTaintLaterDependents) {
  State s;
  apply_all(s, {make_record(1, Kind::Request, request()), make_record(2, Kind::Request, request(), {use(1)}),
                make_record(30, Kind::Retraction, retraction(1)),
                make_record(3, Kind::Request, request(), {use(1)}),
                make_record(31, Kind::Retraction, retraction(1)),
                make_record(4, Kind::Request, request(), {require(3)}),
                make_record(32, Kind::Retraction, retraction(1))});
  EXPECT_EQ(s.tainted_records, (std::set<Id>{id_of(2), id_of(3), id_of(4)}));
  EXPECT_EQ(s.epistemic_dependents[id_of(1)], (std::set<Id>{id_of(2), id_of(3)}));
}

TEST(StateRetraction, CleanupsReleaseOnlyWhatTheTargetHolds) {
  const CapabilityKey cap{"bob", "deploy", id_of(8)};
  State s;
  apply_all(s, {make_record(2, Kind::Capability, capability()), make_record(3, Kind::Capability, capability()),
                make_record(4, Kind::Approval, exact(action_subject())),
                make_record(5, Kind::Approval, record::ApprovalData{{}, "deploy", id_of(8), "bob", {}}),
                make_record(6, Kind::Summary, record::SummaryData{}),
                make_record(7, Kind::Requirement, requirement("k"), {cause(1)}),
                make_record(8, Kind::Requirement, requirement("j"), {cause(1)})});
  // 2 no longer holds its capability key; every other target does.
  for (uint8_t t : {2, 6, 7}) apply_all(s, {make_record(static_cast<uint8_t>(30 + t), Kind::Retraction, retraction(t))});
  EXPECT_EQ(s.active_capabilities, (std::map<CapabilityKey, Id>{{cap, id_of(3)}}));
  EXPECT_EQ(s.active_summaries.size(), 1u);
  EXPECT_EQ(s.requirement_keys, (std::map<Id, std::set<std::string>>{{id_of(1), {"j"}}}));
  for (uint8_t t : {3, 4, 5, 8}) apply_all(s, {make_record(static_cast<uint8_t>(30 + t), Kind::Retraction, retraction(t))});
  EXPECT_TRUE(s.active_capabilities.empty());
  EXPECT_TRUE(s.valid_approvals.empty());
  EXPECT_TRUE(s.class_approvals.empty());
  EXPECT_TRUE(s.requirement_keys.empty());
  // The indexes keep their entries.
  EXPECT_EQ(s.capability_index.size(), 2u);
  EXPECT_EQ(s.exact_approval_index.size(), 1u);
  EXPECT_EQ(s.class_approval_index.size(), 1u);
  EXPECT_EQ(s.requirement_index.size(), 2u);
  EXPECT_TRUE(s.tainted_records.empty());
}

TEST(StateRetraction, RepeatedRetractionKeepsANewerRequirementsKey) {
  const std::map<Id, std::set<std::string>> held{{id_of(1), {"k"}}};
  State s;
  apply_all(s, {make_record(2, Kind::Requirement, requirement("k"), {cause(1)}),
                make_record(30, Kind::Retraction, retraction(2))});
  EXPECT_TRUE(s.requirement_keys.empty());
  apply_all(s, {make_record(3, Kind::Requirement, requirement("k"), {cause(1)})});
  EXPECT_EQ(s.requirement_keys, held);
  // Requirement 2 gave the key up; retracting it again must not free the key
  // that 3 holds now.
  apply_all(s, {make_record(31, Kind::Retraction, retraction(2))});
  EXPECT_EQ(s.requirement_keys, held);
  apply_all(s, {make_record(32, Kind::Retraction, retraction(3))});
  EXPECT_TRUE(s.requirement_keys.empty());
}

TEST(StateEquality, EveryFieldCounts) {
  const std::function<void(State&)> changes[] = {
      [](State& s) { s.accepted_records.insert(id_of(1)); },
      [](State& s) { s.active_requests.insert(id_of(1)); },
      [](State& s) { s.active_capabilities[{"a", "b", id_of(1)}] = id_of(1); },
      [](State& s) { s.valid_approvals[id_of(1)] = id_of(1); },
      [](State& s) { s.class_approvals[{"a", id_of(1), std::nullopt}] = id_of(1); },
      [](State& s) { s.open_actions.insert(id_of(1)); },
      [](State& s) { s.action_to_request[id_of(1)] = id_of(1); },
      [](State& s) { s.active_summaries[id_of(1)] = id_of(1); },
      [](State& s) { s.replaced_records.insert(id_of(1)); },
      [](State& s) { s.request_open_action_count[id_of(1)] = 1; },
      [](State& s) { s.usage_counts[{id_of(1), "r"}] = {}; },
      [](State& s) { s.active_plans[id_of(1)] = id_of(1); },
      [](State& s) { s.response_turns[id_of(1)] = 1; },
      [](State& s) { s.capability_index[id_of(1)] = {"a", "b", id_of(1)}; },
      [](State& s) { s.exact_approval_index[id_of(1)] = id_of(1); },
      [](State& s) { s.class_approval_index[id_of(1)] = {"a", id_of(1), "c"}; },
      [](State& s) { s.retracted_records.insert(id_of(1)); },
      [](State& s) { s.tainted_records.insert(id_of(1)); },
      [](State& s) { s.epistemic_dependents[id_of(1)] = {}; },
      [](State& s) { s.requirement_keys[id_of(1)] = {"k"}; },
      [](State& s) { s.requirement_index[id_of(1)] = {id_of(1), "k"}; },
      [](State& s) { s.applied_up_to = 1; },
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    State s;
    changes[i](s);
    EXPECT_NE(s, State{}) << i;
  }
}

Record verdict(uint8_t id, uint64_t time, std::vector<record::Ref> refs, const record::VerdictData& v) {
  Record r = make_record(id, Kind::Verdict, v, std::move(refs));
  r.time = time;
  return r;
}

Record at(Record r, uint64_t time) {
  r.time = time;
  return r;
}

TEST(StateBuild, TrustsTheLastVerdictOfEachSubject) {
  EXPECT_EQ(build_state_unchecked({}), State{});

  const std::vector<Record> log{
      at(make_record(1, Kind::Request, request()), 1), verdict(101, 2, {cause(1)}, kReject),
      at(make_record(2, Kind::Request, request()), 3), verdict(102, 4, {cause(2)}, kReject),
      verdict(103, 5, {cause(1)}, kAccept),
      // No Cause ref: passed over, also with a payload that does not read.
      at(raw_record(104, Kind::Verdict, "{}", {use(2)}), 6), verdict(105, 7, {use(2)}, kAccept),
      // A trailing subject without a Verdict is not applied.
      at(make_record(3, Kind::Request, request()), 8)};
  auto s = build_state_unchecked(log);
  ASSERT_TRUE(s) << s.error().to_string();
  State e;
  e.accepted_records = e.active_requests = {id_of(1)};
  e.applied_up_to = 8;
  EXPECT_EQ(*s, e);

  // The state equals the one folded record by record.
  State folded;
  apply_all(folded, {log[0]});
  folded.applied_up_to = 8;
  EXPECT_EQ(*s, folded);
}

TEST(StateBuild, PayloadThatDoesNotReadFails) {
  // A Verdict that does not read fails even when its subject is absent.
  EXPECT_FALSE(build_state_unchecked(std::vector<Record>{at(raw_record(101, Kind::Verdict, "{}", {cause(9)}), 1)}));
  EXPECT_FALSE(build_state_unchecked(
      std::vector<Record>{at(raw_record(1, Kind::Plan, "[]"), 1), verdict(101, 2, {cause(1)}, kAccept)}));
}

}  // namespace
}  // namespace quintrel::state
