// The checks of each kind, one table per group; every case is judged against
// a fresh copy of one small log.
#include <functional>

#include "log_fixture.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"

namespace quintrel::fixture {
namespace {

using namespace record;
using R = ReasonCode;
using B = CandidateBasis;
using S = TaskStatus;
const Id kScope = base::sha256("scope");

Draft candidate(B basis, std::optional<Id> parent = {}, std::vector<Ref> refs = {}, char tree = 'a', size_t n = 40) {
  CandidateData c;
  c.source.git.tree = std::string(n, tree), c.basis = basis, c.parent = parent;
  return draft(Kind::Candidate, "provider", c, std::move(refs));
}
PlanTask task(std::string id, S status, std::vector<std::string> deps = {}, std::optional<Id> result = {}) {
  PlanTask t;
  t.id = std::move(id), t.status = status, t.depends_on = std::move(deps), t.result_record_id = result;
  return t;
}

// A request with a requirement "k"; two root candidates, an evaluation of the
// first and a selection that chose it; capabilities of "provider" for the
// classes "auto", "ask" and "deny" in those modes; one open "auto" action.
struct World {
  Log log;
  Id request, req_k, c1, c2, e1, sel, auto_cap, ask_cap, deny_cap, action;
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

}  // namespace
}  // namespace quintrel::fixture
