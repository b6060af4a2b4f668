// The judgement of a record, every case against a fresh copy of one small log:
// general steps, replacements, Verdicts, each kind; and the prior-record index.
#include <functional>

#include "log_fixture.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"
#include "verify/prior.h"
#include "verify/record_checks.h"
#include "verify/verdict.h"

namespace quintrel::fixture {
namespace {

using namespace record;
using verify::Prior;
using verify::PriorIndex;
using verify::RequestFacts;
using R = ReasonCode;
using B = CandidateBasis;
using S = TaskStatus;
const Id kScope = base::sha256("scope");
const Id kOther = base::sha256("other space");
const Id kUnknown = base::sha256("no such schema");

Draft candidate(B basis, std::optional<Id> parent = {}, std::vector<Ref> refs = {}, char tree = 'a', size_t n = 40) {
  return draft(Kind::Candidate, "provider", CandidateData{{{SourceAlgo::sha1, std::string(n, tree)}}, basis, parent},
               std::move(refs));
}
PlanTask task(std::string id, S status, std::vector<std::string> deps = {}, std::optional<Id> result = {}) {
  return {.id = std::move(id), .status = status, .result_record_id = result, .depends_on = std::move(deps)};
}
CapabilityData capability(std::string actor, CapabilityMode mode = {}) { return {actor, "deploy", kOther, mode, {}}; }

// A request with a requirement "k"; root candidates c1 and c2, an evaluation of
// c1 and a selection of it; capabilities of "provider" for the classes "auto",
// "ask" and "deny" in those modes; one open "auto" action; a rejected record, a
// record of another space and a retracted capability.
struct World {
  Log log;
  Id request, req_k, c1, c2, e1, sel, auto_cap, ask_cap, deny_cap, action, rejected, foreign, retracted;
  World() {
    request = log.accept(draft(Kind::Request, "user", RequestData{"o", kScope}));
    req_k = log.accept(requirement("k"));
    c1 = log.accept(candidate(B::root));
    c2 = log.accept(candidate(B::root, {}, {}, 'b'));
    e1 = log.accept(draft(Kind::Evaluation, "provider", EvaluationData{c1, "tests"}, {use(c1)}));
    sel = log.accept(selection(chose({c1, c2}, {c1})));
    auto_cap = grant("auto", CapabilityMode::Auto);
    ask_cap = grant("ask", CapabilityMode::Ask);
    deny_cap = grant("deny", CapabilityMode::Deny);
    action = log.accept(act("auto", {require(auto_cap)}));
    rejected = log.commit(draft(Kind::Capability, "provider", capability("p"))).id;
    Draft d = draft(Kind::Capability, "system", capability("f"));
    d.space = kOther;
    foreign = log.commit(d).id;
    retracted = log.accept(draft(Kind::Capability, "system", capability("r")));
    retract(retracted, "system");
  }
  // The time of the record judged after `n` more commits.
  uint64_t time_after(int n) const { return log.records().size() + 2 * n + 1; }
  Id retract(const Id& id, const std::string& by) {
    return log.accept(draft(Kind::Retraction, by, RetractionData{id, ""}, {cause(id)}));
  }
  Draft requirement(std::string key, Provenance p = Provenance::user_authored, std::vector<Ref> refs = {}) const {
    if (refs.empty()) refs = {cause(request)};
    return draft(Kind::Requirement, "user", RequirementData{std::move(key), "must hold", true, {}, p}, refs);
  }
  static SelectionData chose(std::vector<Id> considered, std::vector<Id> chosen) {
    return {"ship", std::move(considered), SelectionOutcome::choose(std::move(chosen)), std::nullopt};
  }
  // Requires the chosen candidates unless given refs; always Uses e1.
  Draft selection(const SelectionData& s, std::vector<Ref> refs = {}) const {
    if (refs.empty())
      for (const Id& c : s.outcome.selected->candidates) refs.push_back(require(c));
    refs.push_back(use(e1));
    return draft(Kind::Selection, "user", s, refs);
  }
  Draft v2(std::vector<Id> reqs, const char* name = "quintrel.evaluation.v2") const {
    EvaluationDataV2 e{c1, "tests"};
    e.evaluator.id = "ci", e.requirements = std::move(reqs);
    Draft d = draft(Kind::Evaluation, "provider", e, {use(c1)});
    d.schema = schema(name);
    return d;
  }
  Id grant(std::string cls, CapabilityMode mode, std::optional<uint64_t> expiry = {}) {
    return log.accept(draft(Kind::Capability, "system", CapabilityData{"provider", cls, kScope, mode, expiry}));
  }
  Draft act(std::string cls, std::vector<Ref> refs, ExecMode mode = ExecMode::Internal) const {
    return draft(Kind::Action, "provider", ActionData{request, std::move(cls), kScope, mode, {}}, std::move(refs));
  }
  Id exact(std::optional<uint64_t> expiry = {}) {
    auto subject = action_approval_subject_hash("provider", ActionData{request, "ask", kScope, {}, {}}).value();
    return log.accept(draft(Kind::Approval, "user", ApprovalData{subject, {}, kScope, "provider", expiry}));
  }
  Id class_wide(std::optional<std::string> actor, std::optional<uint64_t> expiry, std::vector<Ref> refs = {}) {
    return log.accept(draft(Kind::Approval, "user", ApprovalData{{}, "ask", kScope, actor, expiry}, refs));
  }
  Draft result(const Id& act, std::optional<Ref> by = {}, const char* name = "quintrel.result.v1",
               const Ed25519Signer* signed_by = nullptr) const {
    Draft d = draft(Kind::Result, "executor", ResultData{act, {}, "", {}}, {by.value_or(cause(act))});
    d.schema = schema(name), d.signer = signed_by;
    return d;
  }
  Id done() { return log.accept(result(action)); }
  Draft refusal(const Id& target, RefusalTarget kind) const {
    return draft(Kind::Refusal, "system", RefusalData{target, kind, {}}, {cause(target)});
  }
  Draft response(uint32_t turn, bool closes) const {
    return draft(Kind::Response, "provider", ResponseData{request, "", turn, closes});
  }
  Draft plan(std::vector<PlanTask> tasks, PlanStatus status = PlanStatus::running) const {
    return draft(Kind::Plan, "provider", PlanData{request, std::move(tasks), status}, {cause(request)});
  }
};

struct Case {
  const char* name;
  Judgement want;
  std::function<Draft(World&)> make;
};

void run(std::initializer_list<Case> cases) {
  for (const auto& c : cases) {
    World w;
    EXPECT_EQ(w.log.judge(c.make(w)), c.want) << c.name;
  }
}

TEST(RecordChecks, GeneralStepsInOrder) {
  // Each case edits a new Capability by "system" (and may change the rules),
  // then may edit the stamped record.
  const struct {
    const char* name;
    Judgement want;
    std::function<void(World&, Draft&)> edit;
    std::function<void(Record&)> after = nullptr;
  } cases[] = {
      {"accepted", std::nullopt, [](World&, Draft&) {}},
      {"id before space", R::InvalidPayload, [](World&, Draft& d) { d.space = kOther; }, [](Record& r) { r.id[0] ^= 1; }},
      {"refs out of order", R::InvalidPayload, [](World& w, Draft& d) { d.refs = {cause(w.request), use(w.auto_cap)}; },
       [](Record& r) { std::swap(r.refs[0], r.refs[1]), Log::seal(r); }},
      {"refs repeated", R::InvalidPayload, [](World& w, Draft& d) { d.refs = {use(w.auto_cap)}; },
       [](Record& r) { r.refs.push_back(r.refs[0]), Log::seal(r); }},
      {"space before schema", R::InvalidPayload, [](World&, Draft& d) { d.space = kOther, d.schema = kUnknown; }},
      {"schema before author", R::UnknownSchema, [](World&, Draft& d) { d.schema = kUnknown, d.author = "nobody"; }},
      {"kind against schema", R::KindSchemaMismatch, [](World&, Draft& d) { d.schema = schema("quintrel.plan.v1"); }},
      {"type the kind refuses", R::AuthorRoleInvalid, [](World&, Draft& d) { d.author = "provider"; }},
      {"registered with another type", R::AuthorRoleInvalid, [](World&, Draft& d) { d.type = AuthorType::User; }},
      {"pinned author unsigned", R::SignatureMissing,
       [](World& w, Draft&) { w.log.rules.author_keys["system"] = {signer(1).public_key()}; }},
      {"key outside the pinned set", R::SignatureInvalid,
       [](World& w, Draft& d) { w.log.rules.author_keys["system"] = {signer(1).public_key()}; d.signer = &signer(2); }},
      {"unpinned author, any key", std::nullopt, [](World&, Draft& d) { d.signer = &signer(2); }},
      {"first ref decides: unresolved", R::RefUnresolved,
       [](World& w, Draft& d) { d.refs = {cause(kUnknown), use(w.foreign)}; }},
      {"first ref decides: cross space", R::RefCrossSpace,
       [](World& w, Draft& d) { d.refs = {cause(w.foreign), use(kUnknown)}; }},
      {"require a rejected record", R::RefUnresolved, [](World& w, Draft& d) { d.refs = {require(w.rejected)}; }},
      {"require a retracted record", R::RefUnresolved, [](World& w, Draft& d) { d.refs = {require(w.retracted)}; }},
      {"use a retracted record", std::nullopt, [](World& w, Draft& d) { d.refs = {use(w.retracted)}; }},
      {"replace refs counted before the kind", R::InvalidPayload, [](World& w, Draft& d) {
         d = draft(Kind::Request, "user", RequestData{"o", kOther}, {replace(w.auto_cap), replace(w.retracted)}); }},
      {"replace a rejected record", R::ReplacementInvalid, [](World& w, Draft& d) { d.refs = {replace(w.rejected)}; }},
      {"replace another actor's", R::ReplacementInvalid, [](World& w, Draft& d) {
         d = draft(Kind::Capability, "system", CapabilityData{"q", "auto", kScope, {}, {}}, {replace(w.auto_cap)}); }},
      {"replace a retracted one, mode changed", std::nullopt, [](World& w, Draft& d) {
         d = draft(Kind::Capability, "system", capability("r", CapabilityMode::Deny), {replace(w.retracted)}); }},
      {"declared evidence not derived", R::InvalidPayload, [](World&, Draft& d) { d.evidence = Evidence::Verified; }},
      {"evidence at the threshold", std::nullopt, [](World& w, Draft&) {
         w.log.rules.evidence_thresholds[Kind::Capability] = Evidence::Reported; }},
      {"evidence below the threshold", R::EvidenceBelowThreshold, [](World& w, Draft& d) {
         w.log.rules.evidence_thresholds[Kind::Capability] = Evidence::Inferred;
         d.refs = {use(w.retracted)}; }},
      {"payload not canonical", R::InvalidPayload, [](World&, Draft& d) { d.data += "\n"; }},
      {"admitted schema with no payload type", R::UnknownSchema,
       [](World& w, Draft& d) { w.log.rules.kind_schema_map[kUnknown] = Kind::Capability; d.schema = kUnknown; }},
  };
  for (const auto& c : cases) {
    World w;
    Draft d = draft(Kind::Capability, "system", capability("q"));
    c.edit(w, d);
    Record r = w.log.stamp(d);
    if (c.after) c.after(r);
    EXPECT_EQ(w.log.judge(r), c.want) << c.name;
  }
}

// Only the identity fields count: an approval's kind of subject, a summary's
// type, subject and scope, a plan's request.
TEST(RecordChecks, ReplacementIdentityAndVerdictRecords) {
  auto approval = [](std::optional<Id> target, std::optional<std::string> cls, std::optional<std::string> actor,
                     uint64_t expiry) { return json(ApprovalData{target, cls, Id{}, actor, expiry}); };
  auto summary = [](uint8_t of, uint8_t claim) { return json(SummaryData{SummaryType::Lesson, id_of(of), {}, {claim}}); };
  auto plan = [](uint8_t request, const char* task) { return json(PlanData{id_of(request), {{.id = task}}, {}}); };
  const Id t{1};
  const struct {
    Kind kind;
    std::string mine, theirs;
    Judgement want;
  } cases[] = {
      {Kind::Approval, approval(t, "a", "x", 1), approval(t, std::nullopt, std::nullopt, 2), std::nullopt},
      {Kind::Approval, approval(t, "a", "x", 1), approval(Id{2}, "a", "x", 1), R::ReplacementInvalid},
      {Kind::Approval, approval(std::nullopt, "a", "x", 1), approval(t, "a", "x", 5), std::nullopt},
      {Kind::Approval, approval(std::nullopt, "a", "x", 1), approval(t, "a", std::nullopt, 1), R::ReplacementInvalid},
      {Kind::Approval, approval(t, std::nullopt, "x", 1), approval(std::nullopt, "a", "x", 1), R::ReplacementInvalid},
      {Kind::Approval, approval(t, "a", "x", 1), "{}", R::InvalidPayload},
      {Kind::Summary, summary(1, 1), summary(1, 2), std::nullopt},
      {Kind::Summary, summary(1, 1), summary(2, 1), R::ReplacementInvalid},
      {Kind::Plan, plan(1, "a"), plan(1, "b"), std::nullopt},
      {Kind::Plan, plan(1, "a"), plan(2, "a"), R::ReplacementInvalid},
      {Kind::Plan, "{}", plan(1, "a"), R::InvalidPayload},
  };
  for (const auto& c : cases) {
    const std::vector<Record> replaced{raw_record(1, c.kind, c.theirs)};
    const auto index = PriorIndex::of(replaced);
    const Record r = raw_record(2, c.kind, c.mine, {replace(1)});
    EXPECT_EQ(verify::check_replacement_compatibility(r, replaced[0], Prior(replaced, index)), c.want)
        << c.mine << " / " << c.theirs;
  }
  // Verdict records.
  World w;
  const Record subject = w.log.stamp(draft(Kind::Capability, "system", capability("q")));
  std::vector<Record> records = w.log.records();
  records.push_back(subject);
  const auto index = PriorIndex::of(records);
  const Prior prior(records, index);
  auto no_map = w.log.rules;
  no_map.kind_schema_map.clear();
  const Id judged = records[0].id, verdict = records[1].id;
  const struct {
    const char* name;
    std::function<void(Record&)> change;
    Judgement want;
  } verdicts[] = {
      {"well formed", [](Record&) {}, std::nullopt},
      {"schema before author", [](Record& v) { v.schema = schema("quintrel.plan.v1"), v.author.type = AuthorType::User; },
       R::KindSchemaMismatch},
      {"signed", [](Record& v) { v.author.signature = Signature{}; }, R::InvalidPayload},
      {"a Use ref", [](Record& v) { v.refs[0].type = RefType::Use; }, R::InvalidPayload},
      {"unknown subject", [](Record& v) { v.refs[0].target = Id{7}; }, R::RefUnresolved},
      {"subject is a verdict", [&](Record& v) { v.refs[0].target = verdict; }, R::InvalidPayload},
      {"subject already judged", [&](Record& v) { v.refs[0].target = judged; }, R::InvalidPayload},
  };
  for (const auto& c : verdicts) {
    Record v = make_verdict(subject, std::nullopt);
    c.change(v);
    Log::seal(v);
    EXPECT_EQ(verify::check_verdict_record(v, prior, w.log.rules), c.want) << c.name;
    // check_record hands a Verdict over whole; the schema map plays no part.
    EXPECT_EQ(verify::check_record(v, prior, no_map, w.log.state()), c.want) << c.name;
  }
}

TEST(KindChecks, EachKind) {
  auto continuation = [](const Id& of, const Id& anchor) { return candidate(B::continuation, of, {cause(anchor)}); };
  // A selection of c1 under an approval by "user" expiring at `expiry`.
  auto approved = [](World& w, uint64_t expiry) {
    SelectionData s = World::chose({w.c1}, {w.c1});
    Id subject = selection_approval_subject_hash("user", std::nullopt, s).value();
    Id a = w.log.accept(draft(Kind::Approval, "user", ApprovalData{subject, {}, kScope, "user", expiry}));
    w.log.rules.selection_requires_approval = true;
    return w.selection(s, {require(w.c1), require(a)});
  };
  const char* attested = "quintrel.evaluation.attested.v1";
  const char* receipt = "quintrel.result.external_receipt.v1";
  auto external = [](World& w) { return w.log.accept(w.act("auto", {require(w.auto_cap)}, ExecMode::External)); };
  auto retraction = [](const char* by, const Id& target, const Id& because) {
    return draft(Kind::Retraction, by, RetractionData{target, ""}, {cause(because)});
  };
  run({
      // Requests, requirements, candidates, evaluations, selections.
      {"request of a rejected parent", R::RequestMissing, [](World& w) {
         Id parent = w.log.commit(draft(Kind::Request, "provider", RequestData{"p", kScope})).id;
         return draft(Kind::Request, "user", RequestData{"o", kScope, {}, parent}, {cause(parent)}); }},
      {"requirement key taken", R::RequirementInvalid, [](World& w) { return w.requirement("k"); }},
      {"requirement key freed by retraction", std::nullopt,
       [](World& w) { w.retract(w.req_k, "user"); return w.requirement("k"); }},
      {"provenance before the missing cause", R::AuthorRoleInvalid,
       [](World& w) { return w.requirement("n", Provenance::derived, {use(w.c1)}); }},
      {"sha1 tree of 64", R::SourceBindingInvalid, [](World&) { return candidate(B::root, {}, {}, 'a', 64); }},
      {"unknown parent before lineage", R::PayloadRefUnresolved, [](World&) { return candidate(B::root, Id{5}); }},
      {"continuation of one only considered", R::LineageInvalid, [&](World& w) { return continuation(w.c2, w.sel); }},
      {"continuation of a retracted selection", std::nullopt,
       [&](World& w) { w.retract(w.sel, "user"); return continuation(w.c1, w.sel); }},
      {"retracted anchor refused by the rules", R::LineageInvalid, [&](World& w) {
         w.retract(w.sel, "user");
         w.log.rules.reject_compromised_continuation = true;
         return continuation(w.c1, w.sel); }},
      {"attested unsigned", R::SignatureMissing, [&](World& w) { return w.v2({}, attested); }},
      {"attested by an author without keys", R::SignatureInvalid,
       [&](World& w) { Draft d = w.v2({}, attested); d.signer = &signer(3); return d; }},
      {"requirement not used", R::EvaluationInvalid, [](World& w) { return w.v2({w.req_k}); }},
      {"more considered than allowed", R::SelectionInvalid,
       [](World& w) { w.log.rules.max_considered = 1; return w.selection(World::chose({w.c1, w.c2}, {w.c1})); }},
      {"as many as allowed", std::nullopt,
       [](World& w) { w.log.rules.max_considered = 2; return w.selection(World::chose({w.c1, w.c2}, {w.c1})); }},
      {"none chosen needs no evaluation", std::nullopt,
       [](World& w) { return draft(Kind::Selection, "user", SelectionData{"ship", {w.c1}, {}, {}}); }},
      {"evaluation of one not considered", R::SelectionInvalid,
       [](World& w) { return w.selection(World::chose({w.c2}, {w.c2})); }},
      {"chose two, requires one", R::SelectionInvalid,
       [](World& w) { return w.selection(World::chose({w.c1, w.c2}, {w.c1, w.c2}), {require(w.c1)}); }},
      {"approval expiring now", R::ApprovalExpired, [&](World& w) { return approved(w, w.time_after(1)); }},
      {"approval expiring later", std::nullopt, [&](World& w) { return approved(w, w.time_after(1) + 1); }},
      {"reaffirmation of another objective", R::ReaffirmationInvalid, [](World& w) {
         SelectionData s = World::chose({w.c1}, {w.c1});
         s.objective = "other";
         return w.selection(s, {require(w.c1), replace(w.sel)}); }},
      // Actions and the approval search.
      {"request refused", R::RequestMissing, [](World& w) {
         w.log.accept(w.refusal(w.request, RefusalTarget::Request));
         return w.act("auto", {require(w.auto_cap)}); }},
      {"deny", R::CapabilityDenied, [](World& w) { return w.act("deny", {require(w.deny_cap)}); }},
      {"deny expired: expiry before mode", R::CapabilityMissing,
       [](World& w) { return w.act("deny", {require(w.grant("deny", CapabilityMode::Deny, w.time_after(1)))}); }},
      {"expired exact falls through to the actor's class approval", std::nullopt, [](World& w) {
         Id e = w.exact(1);
         return w.act("ask", {require(w.ask_cap), use(e), require(w.class_wide("provider", {}))}); }},
      {"the covering approval must be required", R::AuthorityRefMissing, [](World& w) {
         Id e = w.exact(1);
         return w.act("ask", {require(w.ask_cap), require(e), use(w.class_wide("provider", {}))}); }},
      {"expired actor approval ends the search", R::ApprovalExpired, [](World& w) {
         w.class_wide("provider", w.time_after(2));
         return w.act("ask", {require(w.ask_cap), require(w.class_wide({}, {}))}); }},
      {"tainted actor approval falls through", std::nullopt, [](World& w) {
         Id basis = w.grant("basis", CapabilityMode::Auto);
         w.class_wide("provider", {}, {use(basis)});
         w.retract(basis, "system");
         return w.act("ask", {require(w.ask_cap), require(w.class_wide({}, {}))}); }},
      {"exact approval used up", R::ApprovalMissing, [](World& w) {
         Id a = w.exact();
         w.log.accept(w.act("ask", {require(w.ask_cap), require(a)}));
         return w.act("ask", {require(w.ask_cap), require(a)}); }},
      // Results, refusals, responses.
      {"second result", R::ActionClosed, [](World& w) { w.done(); return w.result(w.action); }},
      {"external action, plain result", R::ExternalReceiptRequired, [&](World& w) { return w.result(external(w)); }},
      {"receipt unsigned", R::SignatureMissing, [&](World& w) { return w.result(external(w), {}, receipt); }},
      {"receipt by an author without keys", R::SignatureInvalid,
       [&](World& w) { return w.result(external(w), {}, receipt, &signer(5)); }},
      {"receipt for an internal action", R::InvalidPayload, [&](World& w) { return w.result(w.action, {}, receipt); }},
      {"result caused by another record", R::InvalidPayload,
       [](World& w) { return w.result(w.action, cause(w.request)); }},
      {"refusal of an unknown record", R::RequestMissing,
       [](World&) { return draft(Kind::Refusal, "system", RefusalData{Id{3}, RefusalTarget::Action, {}}); }},
      {"request refusal of an action", R::InvalidPayload,
       [](World& w) { return w.refusal(w.action, RefusalTarget::Request); }},
      {"turn skipped", R::InvalidPayload, [](World& w) { return w.response(1, false); }},
      {"closing with an open action", R::InvalidPayload, [](World& w) { return w.response(0, true); }},
      {"closing once the action and the plan ended", std::nullopt, [](World& w) {
         Id r = w.done();
         w.log.accept(w.plan({task("a", S::pending)}));
         w.log.accept(w.plan({task("a", S::done, {}, r)}, PlanStatus::completed));
         return w.response(0, true); }},
      // Plans, approvals, retractions.
      {"plan caused by another request", R::RequestMissing,
       [](World& w) { Draft d = w.plan({task("a", S::pending)}); d.refs = {cause(w.c1)}; return d; }},
      {"result of another request's action", R::InvalidPayload, [](World& w) {
         Id other = w.log.accept(draft(Kind::Request, "user", RequestData{"p", kScope}));
         ActionData a{other, "auto", kScope, {}, {}};
         Id r = w.log.accept(w.result(w.log.accept(draft(Kind::Action, "provider", a, {require(w.auto_cap)}))));
         return w.plan({task("a", S::done, {}, r), task("b", S::pending)}); }},
      {"one result for two tasks", std::nullopt, [](World& w) {
         Id r = w.done();
         return w.plan({task("a", S::done, {}, r), task("b", S::failed, {}, r), task("c", S::pending)}); }},
      {"result on a pending task", R::InvalidPayload,
       [](World& w) { return w.plan({task("a", S::pending, {}, w.done())}); }},
      {"cycle", R::InvalidPayload,
       [](World& w) { return w.plan({task("a", S::pending, {"b"}), task("b", S::pending, {"a"})}); }},
      {"diamond", std::nullopt, [](World& w) {
         return w.plan({task("d", S::pending, {"b", "c"}), task("b", S::pending, {"a"}), task("c", S::pending, {"a"}),
                        task("a", S::pending)}); }},
      {"completed with a skipped task", R::InvalidPayload,
       [](World& w) { return w.plan({task("a", S::done), task("b", S::skipped)}, PlanStatus::completed); }},
      {"exact approval without actor", R::InvalidPayload,
       [](World&) { return draft(Kind::Approval, "user", ApprovalData{Id{1}, {}, kScope, {}, {}}); }},
      {"retraction by another author", R::AuthorRoleInvalid,
       [&](World& w) { return retraction("system", w.request, w.request); }},
      {"retraction by an admin", std::nullopt, [&](World& w) {
         w.log.rules.admin_retraction_actors = {"system"};
         return retraction("system", w.request, w.request); }},
      {"cause other than the target", R::InvalidPayload, [&](World& w) { return retraction("user", w.c1, w.request); }},
      {"retraction of a retraction", R::InvalidPayload,
       [&](World& w) { Id x = w.retract(w.auto_cap, "system"); return retraction("system", x, x); }},
  });
}

TEST(PriorIndex, VerdictsFindsAndFacts) {
  const PriorIndex marks = PriorIndex::of(std::vector<Record>{
      raw_record(2, Kind::Selection, "b", {cause(1)}),  // no Verdict: marks nothing
      raw_record(3, Kind::Verdict, "c", {cause(4), cause(5), use(6), replace(7)})});
  for (uint8_t t : {1, 3, 4, 5, 6, 7}) EXPECT_EQ(marks.verdicted(id_of(t)), t == 4 || t == 5) << int(t);
  // The first record of an id is found once indexed. Facts kept from a read for a
  // judgement are kept only for the record found under its id; others are read on
  // first use and kept (absence too), at one address however the index grows.
  std::vector<Record> records{make_record(1, Kind::Request, RequestData{"o", id_of(9)}),
                              raw_record(2, Kind::Request, "{}"),
                              make_record(1, Kind::Request, RequestData{"o", id_of(8)}),
                              raw_record(3, Kind::Request, "{}")};
  for (uint8_t i = 4; i < 100; ++i) records.push_back(make_record(i, Kind::Request, RequestData{"o", {}}));
  PriorIndex index;
  const Prior prior(records, index);
  index.insert(0, records[0]);
  EXPECT_EQ(prior.find(id_of(2)), nullptr);  // in the sequence, not yet indexed
  for (size_t i = 1; i < 4; ++i) index.insert(i, records[i]);
  EXPECT_EQ(prior.find(id_of(1)), &records[0]);
  EXPECT_EQ(prior.find(id_of(2)), &records[1]);
  EXPECT_EQ(PriorIndex::of(records).position(id_of(1)), 0u);
  index.keep_facts(2, Payload(records[2]));  // not the record found under id 1
  index.keep_facts(1, Payload(records[1]));
  const RequestFacts* first = prior.facts<RequestFacts>(records[0]);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(prior.facts<RequestFacts>(records[1]), nullptr);
  EXPECT_EQ(prior.facts<RequestFacts>(records[3]), nullptr);
  for (size_t i = 4; i < records.size(); ++i) {
    index.insert(i, records[i]);
    ASSERT_NE(prior.facts<RequestFacts>(records[i]), nullptr);
  }
  EXPECT_EQ(prior.facts<RequestFacts>(records[0]), first);
  EXPECT_EQ(first->scope, id_of(9));
}

}  // namespace
}  // namespace quintrel::fixture
