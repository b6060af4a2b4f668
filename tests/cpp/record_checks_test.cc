// The general steps of a record's judgement in their order, the identity a
// replacement keeps, and the check of Verdict records.
#include <functional>

#include "log_fixture.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"
#include "verify/record_checks.h"
#include "verify/verdict.h"

namespace quintrel::fixture {
namespace {

using R = ReasonCode;
const Id kOther = base::sha256("other space");
const Id kUnknown = base::sha256("no such schema");

record::CapabilityData capability(std::string actor, record::CapabilityMode mode = {}) {
  return {std::move(actor), "deploy", kOther, mode, std::nullopt};
}

// A request, a capability in force, a rejected record, a record of another
// space and a retracted capability.
struct World {
  Log log;
  Id request, cap, rejected, foreign, retracted;
  World() {
    request = log.accept(draft(Kind::Request, "user", record::RequestData{"o", kOther}));
    cap = log.accept(draft(Kind::Capability, "system", capability("provider")));
    rejected = log.commit(draft(Kind::Capability, "provider", capability("p"))).id;
    Draft d = draft(Kind::Capability, "system", capability("f"));
    d.space = kOther;
    foreign = log.commit(d).id;
    retracted = log.accept(draft(Kind::Capability, "system", capability("r")));
    log.accept(draft(Kind::Retraction, "system", record::RetractionData{retracted, ""}, {cause(retracted)}));
  }
};

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
      {"refs out of order", [](World& w, Draft& d) { d.refs = {cause(w.request), use(w.cap)}; }, R::InvalidPayload,
       [](Record& r) { std::swap(r.refs[0], r.refs[1]), Log::seal(r); }},
      {"refs repeated", [](World& w, Draft& d) { d.refs = {use(w.cap)}; }, R::InvalidPayload,
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
         d = draft(Kind::Request, "user", record::RequestData{"o", kOther}, {replace(w.cap), replace(w.retracted)}); },
       R::InvalidPayload},
      {"replace a rejected record", [](World& w, Draft& d) { d.refs = {replace(w.rejected)}; }, R::ReplacementInvalid},
      {"replace another actor's", [](World& w, Draft& d) { d.refs = {replace(w.cap)}; }, R::ReplacementInvalid},
      {"replace a retracted one, mode changed", [](World& w, Draft& d) {
         d = draft(Kind::Capability, "system", capability("r", record::CapabilityMode::Deny), {replace(w.retracted)}); },
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
                     uint64_t expiry) { return json(record::ApprovalData{target, cls, Id{}, actor, expiry}); };
  auto summary = [](uint8_t subject, uint8_t claim) {
    return json(record::SummaryData{record::SummaryType::Lesson, id_of(subject), Id{}, {claim}});
  };
  auto plan = [](uint8_t request, const char* task) {
    return json(record::PlanData{id_of(request), {{.id = task}}, record::PlanStatus::running});
  };
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
    const auto index = verify::PriorIndex::of(replaced);
    const Record r = raw_record(2, c.kind, c.mine, {replace(1)});
    EXPECT_EQ(verify::check_replacement_compatibility(r, replaced[0], verify::Prior(replaced, index)), c.want)
        << c.mine << " / " << c.theirs;
  }
}

TEST(RecordChecks, VerdictRecords) {
  World w;
  const Record subject = w.log.stamp(draft(Kind::Capability, "system", capability("q")));
  std::vector<Record> records = w.log.records();
  records.push_back(subject);
  const auto index = verify::PriorIndex::of(records);
  const verify::Prior prior(records, index);
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
      {"signed", [](Record& v) { v.author.signature = record::Signature{}; }, R::InvalidPayload},
      {"a Use ref", [](Record& v) { v.refs[0].type = record::RefType::Use; }, R::InvalidPayload},
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

}  // namespace
}  // namespace quintrel::fixture
