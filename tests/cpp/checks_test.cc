// The judgement of a record: the general steps in their order, the identity a
// replacement keeps, Verdict records, the checks of each kind (every case
// judged against a fresh copy of one small log), and the index of prior records.
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

// A request with a requirement "k"; two root candidates, an evaluation of the
// first and a selection that chose it; capabilities of "provider" for the
// classes "auto", "ask" and "deny" in those modes; one open "auto" action; a
// rejected record, a record of another space and a retracted capability.
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
  std::function<Draft(World&)> make;
  Judgement want;
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
    std::function<void(World&, Draft&)> edit;
    Judgement want;
    std::function<void(Record&)> after = nullptr;
  } cases[] = {
      {"accepted", [](World&, Draft&) {}, std::nullopt},
      {"id before space", [](World&, Draft& d) { d.space = kOther; }, R::InvalidPayload, [](Record& r) { r.id[0] ^= 1; }},
      {"refs out of order", [](World& w, Draft& d) { d.refs = {cause(w.request), use(w.auto_cap)}; }, R::InvalidPayload,
       [](Record& r) { std::swap(r.refs[0], r.refs[1]), Log::seal(r); }},
      {"refs repeated", [](World& w, Draft& d) { d.refs = {use(w.auto_cap)}; }, R::InvalidPayload,
       [](Record& r) { r.refs.push_back(r.refs[0]), Log::seal(r); }},
      {"space before schema", [](World&, Draft& d) { d.space = kOther, d.schema = kUnknown; }, R::InvalidPayload},
      {"schema before author", [](World&, Draft& d) { d.schema = kUnknown, d.author = "nobody"; }, R::UnknownSchema},
      {"kind against schema", [](World&, Draft& d) { d.schema = schema("quintrel.plan.v1"); }, R::KindSchemaMismatch},
      {"type the kind refuses", [](World&, Draft& d) { d.author = "provider"; }, R::AuthorRoleInvalid},
      {"registered with another type", [](World&, Draft& d) { d.type = AuthorType::User; }, R::AuthorRoleInvalid},
      {"pinned author unsigned", [](World& w, Draft&) { w.log.rules.author_keys["system"] = {signer(1).public_key()}; },
       R::SignatureMissing},
      {"key outside the pinned set", [](World& w, Draft& d) {
         w.log.rules.author_keys["system"] = {signer(1).public_key()};
         d.signer = &signer(2); }, R::SignatureInvalid},
      {"unpinned author, any key", [](World&, Draft& d) { d.signer = &signer(2); }, std::nullopt},
      {"first ref decides: unresolved", [](World& w, Draft& d) { d.refs = {cause(kUnknown), use(w.foreign)}; },
       R::RefUnresolved},
      {"first ref decides: cross space", [](World& w, Draft& d) { d.refs = {cause(w.foreign), use(kUnknown)}; },
       R::RefCrossSpace},
      {"require a rejected record", [](World& w, Draft& d) { d.refs = {require(w.rejected)}; }, R::RefUnresolved},
      {"require a retracted record", [](World& w, Draft& d) { d.refs = {require(w.retracted)}; }, R::RefUnresolved},
      {"use a retracted record", [](World& w, Draft& d) { d.refs = {use(w.retracted)}; }, std::nullopt},
      {"replace refs counted before the kind", [](World& w, Draft& d) {
         d = draft(Kind::Request, "user", RequestData{"o", kOther}, {replace(w.auto_cap), replace(w.retracted)}); },
       R::InvalidPayload},
      {"replace a rejected record", [](World& w, Draft& d) { d.refs = {replace(w.rejected)}; }, R::ReplacementInvalid},
      {"replace another actor's", [](World& w, Draft& d) { d.refs = {replace(w.auto_cap)}; }, R::ReplacementInvalid},
      {"replace a retracted one, mode changed", [](World& w, Draft& d) {
         d = draft(Kind::Capability, "system", capability("r", CapabilityMode::Deny), {replace(w.retracted)}); },
       std::nullopt},
      {"declared evidence not derived", [](World&, Draft& d) { d.evidence = Evidence::Verified; }, R::InvalidPayload},
      {"evidence at the threshold", [](World& w, Draft&) {
         w.log.rules.evidence_thresholds[Kind::Capability] = Evidence::Reported; }, std::nullopt},
      {"evidence below the threshold", [](World& w, Draft& d) {
         w.log.rules.evidence_thresholds[Kind::Capability] = Evidence::Inferred;
         d.refs = {use(w.retracted)}; }, R::EvidenceBelowThreshold},
      {"payload not canonical", [](World&, Draft& d) { d.data += "\n"; }, R::InvalidPayload},
      {"admitted schema with no payload type", [](World& w, Draft& d) {
         w.log.rules.kind_schema_map[kUnknown] = Kind::Capability;
         d.schema = kUnknown; }, R::UnknownSchema},
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
TEST(RecordChecks, ReplacementKeepsIdentity) {
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
}

TEST(RecordChecks, VerdictRecords) {
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
  } cases[] = {
      {"well formed", [](Record&) {}, std::nullopt},
      {"schema before author", [](Record& v) { v.schema = schema("quintrel.plan.v1"), v.author.type = AuthorType::User; },
       R::KindSchemaMismatch},
      {"signed", [](Record& v) { v.author.signature = Signature{}; }, R::InvalidPayload},
      {"a Use ref", [](Record& v) { v.refs[0].type = RefType::Use; }, R::InvalidPayload},
      {"unknown subject", [](Record& v) { v.refs[0].target = Id{7}; }, R::RefUnresolved},
      {"subject is a verdict", [&](Record& v) { v.refs[0].target = verdict; }, R::InvalidPayload},
      {"subject already judged", [&](Record& v) { v.refs[0].target = judged; }, R::InvalidPayload},
  };
  for (const auto& c : cases) {
    Record v = make_verdict(subject, std::nullopt);
    c.change(v);
    Log::seal(v);
    EXPECT_EQ(verify::check_verdict_record(v, prior, w.log.rules), c.want) << c.name;
    // check_record hands a Verdict over whole; the schema map plays no part.
    EXPECT_EQ(verify::check_record(v, prior, no_map, w.log.state()), c.want) << c.name;
  }
}

TEST(KindChecks, Evolution) {
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
  run({
      {"request of a rejected parent", [](World& w) {
         Id parent = w.log.commit(draft(Kind::Request, "provider", RequestData{"p", kScope})).id;
         return draft(Kind::Request, "user", RequestData{"o", kScope, {}, parent}, {cause(parent)}); },
       R::RequestMissing},
      {"requirement key taken", [](World& w) { return w.requirement("k"); }, R::RequirementInvalid},
      {"requirement key freed by retraction", [](World& w) { w.retract(w.req_k, "user"); return w.requirement("k"); },
       std::nullopt},
      {"provenance before the missing cause",
       [](World& w) { return w.requirement("n", Provenance::derived, {use(w.c1)}); }, R::AuthorRoleInvalid},
      {"sha1 tree of 64", [](World&) { return candidate(B::root, {}, {}, 'a', 64); }, R::SourceBindingInvalid},
      {"unknown parent before lineage", [](World&) { return candidate(B::root, Id{5}); }, R::PayloadRefUnresolved},
      {"continuation of one only considered", [&](World& w) { return continuation(w.c2, w.sel); }, R::LineageInvalid},
      {"continuation of a retracted selection",
       [&](World& w) { w.retract(w.sel, "user"); return continuation(w.c1, w.sel); }, std::nullopt},
      {"retracted anchor refused by the rules", [&](World& w) {
         w.retract(w.sel, "user");
         w.log.rules.reject_compromised_continuation = true;
         return continuation(w.c1, w.sel); }, R::LineageInvalid},
      {"attested unsigned", [&](World& w) { return w.v2({}, attested); }, R::SignatureMissing},
      {"attested by an author without keys", [&](World& w) {
         Draft d = w.v2({}, attested);
         d.signer = &signer(3);
         return d; }, R::SignatureInvalid},
      {"requirement not used", [](World& w) { return w.v2({w.req_k}); }, R::EvaluationInvalid},
      {"more considered than allowed", [](World& w) {
         w.log.rules.max_considered = 1;
         return w.selection(World::chose({w.c1, w.c2}, {w.c1})); }, R::SelectionInvalid},
      {"as many as allowed", [](World& w) {
         w.log.rules.max_considered = 2;
         return w.selection(World::chose({w.c1, w.c2}, {w.c1})); }, std::nullopt},
      {"none chosen needs no evaluation",
       [](World& w) { return draft(Kind::Selection, "user", SelectionData{"ship", {w.c1}, {}, {}}); }, std::nullopt},
      {"evaluation of one not considered", [](World& w) { return w.selection(World::chose({w.c2}, {w.c2})); },
       R::SelectionInvalid},
      {"chose two, requires one",
       [](World& w) { return w.selection(World::chose({w.c1, w.c2}, {w.c1, w.c2}), {require(w.c1)}); },
       R::SelectionInvalid},
      {"approval expiring now", [&](World& w) { return approved(w, w.time_after(1)); }, R::ApprovalExpired},
      {"approval expiring later", [&](World& w) { return approved(w, w.time_after(1) + 1); }, std::nullopt},
      {"reaffirmation of another objective", [](World& w) {
         SelectionData s = World::chose({w.c1}, {w.c1});
         s.objective = "other";
         return w.selection(s, {require(w.c1), replace(w.sel)}); }, R::ReaffirmationInvalid},
  });
}

TEST(KindChecks, ActionsAndTheApprovalSearch) {
  run({
      {"request refused", [](World& w) {
         w.log.accept(w.refusal(w.request, RefusalTarget::Request));
         return w.act("auto", {require(w.auto_cap)}); }, R::RequestMissing},
      {"deny", [](World& w) { return w.act("deny", {require(w.deny_cap)}); }, R::CapabilityDenied},
      {"deny expired: expiry before mode",
       [](World& w) { return w.act("deny", {require(w.grant("deny", CapabilityMode::Deny, w.time_after(1)))}); },
       R::CapabilityMissing},
      {"expired exact falls through to the actor's class approval", [](World& w) {
         Id e = w.exact(1);
         return w.act("ask", {require(w.ask_cap), use(e), require(w.class_wide("provider", {}))}); }, std::nullopt},
      {"the covering approval must be required", [](World& w) {
         Id e = w.exact(1);
         return w.act("ask", {require(w.ask_cap), require(e), use(w.class_wide("provider", {}))}); },
       R::AuthorityRefMissing},
      {"expired actor approval ends the search", [](World& w) {
         w.class_wide("provider", w.time_after(2));
         return w.act("ask", {require(w.ask_cap), require(w.class_wide({}, {}))}); }, R::ApprovalExpired},
      {"tainted actor approval falls through", [](World& w) {
         Id basis = w.grant("basis", CapabilityMode::Auto);
         w.class_wide("provider", {}, {use(basis)});
         w.retract(basis, "system");
         return w.act("ask", {require(w.ask_cap), require(w.class_wide({}, {}))}); }, std::nullopt},
      {"exact approval used up", [](World& w) {
         Id a = w.exact();
         w.log.accept(w.act("ask", {require(w.ask_cap), require(a)}));
         return w.act("ask", {require(w.ask_cap), require(a)}); }, R::ApprovalMissing},
  });
}

TEST(KindChecks, Lifecycle) {
  const char* receipt = "quintrel.result.external_receipt.v1";
  auto external = [](World& w) { return w.log.accept(w.act("auto", {require(w.auto_cap)}, ExecMode::External)); };
  run({
      {"second result", [](World& w) { w.done(); return w.result(w.action); }, R::ActionClosed},
      {"external action, plain result", [&](World& w) { return w.result(external(w)); }, R::ExternalReceiptRequired},
      {"receipt unsigned", [&](World& w) { return w.result(external(w), {}, receipt); }, R::SignatureMissing},
      {"receipt by an author without keys", [&](World& w) { return w.result(external(w), {}, receipt, &signer(5)); },
       R::SignatureInvalid},
      {"receipt for an internal action", [&](World& w) { return w.result(w.action, {}, receipt); }, R::InvalidPayload},
      {"result caused by another record", [](World& w) { return w.result(w.action, cause(w.request)); },
       R::InvalidPayload},
      {"refusal of an unknown record",
       [](World&) { return draft(Kind::Refusal, "system", RefusalData{Id{3}, RefusalTarget::Action, {}}); },
       R::RequestMissing},
      {"request refusal of an action", [](World& w) { return w.refusal(w.action, RefusalTarget::Request); },
       R::InvalidPayload},
      {"turn skipped", [](World& w) { return w.response(1, false); }, R::InvalidPayload},
      {"closing with an open action", [](World& w) { return w.response(0, true); }, R::InvalidPayload},
      {"closing once the action and the plan ended", [](World& w) {
         Id r = w.done();
         w.log.accept(w.plan({task("a", S::pending)}));
         w.log.accept(w.plan({task("a", S::done, {}, r)}, PlanStatus::completed));
         return w.response(0, true); }, std::nullopt},
  });
}

TEST(KindChecks, PlansApprovalsRetractions) {
  auto retraction = [](const char* by, const Id& target, const Id& because) {
    return draft(Kind::Retraction, by, RetractionData{target, ""}, {cause(because)});
  };
  run({
      {"plan caused by another request", [](World& w) {
         Draft d = w.plan({task("a", S::pending)});
         d.refs = {cause(w.c1)};
         return d; }, R::RequestMissing},
      {"result of another request's action", [](World& w) {
         Id other = w.log.accept(draft(Kind::Request, "user", RequestData{"p", kScope}));
         ActionData a{other, "auto", kScope, {}, {}};
         Id r = w.log.accept(w.result(w.log.accept(draft(Kind::Action, "provider", a, {require(w.auto_cap)}))));
         return w.plan({task("a", S::done, {}, r), task("b", S::pending)}); }, R::InvalidPayload},
      {"one result for two tasks", [](World& w) {
         Id r = w.done();
         return w.plan({task("a", S::done, {}, r), task("b", S::failed, {}, r), task("c", S::pending)}); },
       std::nullopt},
      {"result on a pending task", [](World& w) { return w.plan({task("a", S::pending, {}, w.done())}); },
       R::InvalidPayload},
      {"cycle", [](World& w) { return w.plan({task("a", S::pending, {"b"}), task("b", S::pending, {"a"})}); },
       R::InvalidPayload},
      {"diamond", [](World& w) {
         return w.plan({task("d", S::pending, {"b", "c"}), task("b", S::pending, {"a"}), task("c", S::pending, {"a"}),
                        task("a", S::pending)}); }, std::nullopt},
      {"completed with a skipped task",
       [](World& w) { return w.plan({task("a", S::done), task("b", S::skipped)}, PlanStatus::completed); },
       R::InvalidPayload},
      {"exact approval without actor",
       [](World&) { return draft(Kind::Approval, "user", ApprovalData{Id{1}, {}, kScope, {}, {}}); },
       R::InvalidPayload},
      {"retraction by another author", [&](World& w) { return retraction("system", w.request, w.request); },
       R::AuthorRoleInvalid},
      {"retraction by an admin", [&](World& w) {
         w.log.rules.admin_retraction_actors = {"system"};
         return retraction("system", w.request, w.request); }, std::nullopt},
      {"cause other than the target", [&](World& w) { return retraction("user", w.c1, w.request); }, R::InvalidPayload},
      {"retraction of a retraction", [&](World& w) {
         Id x = w.retract(w.auto_cap, "system");
         return retraction("system", x, x); }, R::InvalidPayload},
  });
}

TEST(PriorIndex, VerdictsMarkEachCauseTarget) {
  const PriorIndex index = PriorIndex::of(std::vector<Record>{
      raw_record(2, Kind::Selection, "b", {cause(1)}),  // no Verdict: marks nothing
      raw_record(3, Kind::Verdict, "c", {cause(4), cause(5), use(6), replace(7)})});
  for (uint8_t t : {1, 3, 4, 5, 6, 7}) EXPECT_EQ(index.verdicted(id_of(t)), t == 4 || t == 5) << int(t);
}

// The first record of an id is found once indexed. Facts kept from a payload
// read for a judgement are those a later read would give, and only for the
// record found under that id; others are read on first use and kept (an
// unreadable payload's absence too), at one address however the index grows.
TEST(PriorIndex, FindsRecordsAndKeepsFacts) {
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
