// Activity, summary, verdict and plan payloads: canonical bytes, the forms
// that read but re-encode differently, array lengths and the action subject.
#include <gtest/gtest.h>

#include "base/hash.h"
#include "id_text.h"
#include "record/activity_payloads.h"
#include "record/plan_payload.h"

namespace quintrel::record {
namespace {

// The canonical re-encoding of the decoded value, or the error message.
template <class T>
std::string recode(std::string_view text) {
  auto v = base::from_json<T>(text);
  if (!v) return v.error().message;
  auto out = base::canonical_json(*v);
  return out ? *out : "write: " + out.error().message;
}

using fixture::id_text;
const std::string I = id_text(1), J = id_text(2);

const std::string kTask =
    R"({"depends_on":["a"],"description":"d","done_when":"final_response","id":"b","inputs_from":["a"],)"
    R"("kind":"summarize","on_failure":"continue","produces":"p","result_record_id":)" + J +
    R"(,"status":"done","tool_hint":"t"})";
const std::string kTaskArray =
    R"(["b","d","summarize","t",["a"],"p","final_response","done",)" + J + R"(,["a"],"continue"])";

std::string action(const std::string& params) {
  return R"({"action_class":"shell","exec_mode":"External","params":)" + params + R"(,"request_id":)" + I +
         R"(,"scope":)" + J + "}";
}

struct Case {
  std::string (*recode)(std::string_view);
  std::string input, expected;  // expected empty: the input is already canonical
};

TEST(ActivityPayloads, CanonicalBytesAndReencoding) {
  const std::string result = R"({"action_id":)" + I + R"(,"output":"o","status":"Success"})";
  const Case cases[] = {
      // Golden canonical forms. A result's artifacts keep their order.
      {recode<ActionData>, action(R"({"a":[1,-2,0.5,"x",true,null],"b":{}})"), ""},
      {recode<CapabilityData>, R"({"action_class":"shell","actor_id":"bot","expiry":7,"mode":"Ask","scope":)" + I + "}", ""},
      {recode<ApprovalData>, R"({"action_class":null,"actor_id":null,"expiry":null,"scope":)" + I + R"(,"target_action":)" + J + "}", ""},
      {recode<ResponseData>, R"({"closes_request":true,"content":"","request_id":)" + I + R"(,"turn_index":4294967295})", ""},
      {recode<ResultData>, R"({"action_id":)" + I + R"(,"artifacts":[{"digest":"ab","name":null,"scheme":"z"},{"digest":"aa","name":"n","scheme":"a"}],"output":"o","status":"Failure"})", ""},
      {recode<RefusalData>, R"({"reason_code":"Refused","target_id":)" + I + R"(,"target_kind":"VerifiedEffect"})", ""},
      {recode<UsageData>, R"({"actor":"bot","consuming_record":)" + J + R"(,"outcome":"NoChange","role":"in","used_record":)" + I + "}", ""},
      {recode<SummaryData>, R"({"claim_payload":[0,255],"scope":)" + J + R"(,"subject":)" + I + R"(,"summary_type":"StateSnapshot"})", ""},
      {recode<VerdictData>, R"({"reason":"InvalidPayload","result":"Reject"})", ""},
      {recode<PlanData>, R"({"request_id":)" + I + R"(,"status":"completed","tasks":[)" + kTask + "]}", ""},
      // Read, but re-encoded with every key (a result's absent artifacts left out) and in canonical spelling.
      {recode<PlanTask>, R"({"id":"a","description":"d","status":"pending","on_failure":{"abort":null},"tool_hint":null})",
       R"({"depends_on":[],"description":"d","done_when":"tool_success","id":"a","inputs_from":[],"kind":"generic",)"
       R"("on_failure":"abort","produces":null,"result_record_id":null,"status":"pending","tool_hint":null})"},
      {recode<PlanTask>, kTaskArray, kTask},
      {recode<ResultData>, R"({"action_id":)" + I + R"(,"status":"Success","output":"o","artifacts":null})", result},
      {recode<ResultData>, "[" + I + R"(,"Success","o"])", result},
      {recode<ArtifactRef>, R"(["s","00"])", R"({"digest":"00","name":null,"scheme":"s"})"},
      // Params: the last of a repeated key wins; numbers that read but cannot be written canonically.
      {recode<ActionData>, action(R"({"k":1,"k":{"z":1.0,"a":-0.0,"b":1e21}})"), action(R"({"k":{"a":0,"b":1e+21,"z":1}})")},
      {recode<ActionData>, action("[9007199254740992]"), "write: integer 9007199254740992 exceeds the I-JSON safe range required by JCS"},
      {recode<ActionData>, action(R"({"x":1e20})"), "write: number 100000000000000000000 would serialize as an integer outside the I-JSON safe range required by JCS"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.recode(c.input), c.expected.empty() ? c.input : c.expected) << c.input;
}

TEST(ActivityPayloads, RequiredFields) {
  const Case cases[] = {
      {recode<ActionData>, R"({"request_id":)" + I + R"(,"action_class":"c","scope":)" + I + R"(,"exec_mode":"Internal"})", "missing field `params`"},
      {recode<PlanTask>, R"({"id":"a","description":"d"})", "missing field `status`"},
      // Array forms: every field of these must be given.
      {recode<ActionData>, "[" + I + R"(,"c",)" + I + R"(,"Internal"])", "invalid length 4, expected struct ActionData with 5 elements"},
      {recode<ApprovalData>, "[null,null," + I + ",null]", "invalid length 4, expected struct ApprovalData with 5 elements"},
      {recode<ResultData>, "[" + I + R"(,"Success"])", "invalid length 2, expected struct ResultData with 4 elements"},
      {recode<ArtifactRef>, R"(["s"])", "invalid length 1, expected struct ArtifactRef with 3 elements"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.recode(c.input), c.expected) << c.input;

  // A task array cut after n elements reports the first field that has no
  // default in the array form: id, description, tool_hint, status,
  // result_record_id, on_failure.
  auto full = base::from_json<base::Json>(kTaskArray)->as<base::Json::Array>();
  const size_t reported[] = {0, 1, 3, 3, 7, 7, 7, 7, 8, 10, 10};
  for (size_t n = 0; n < full.size(); ++n)
    EXPECT_EQ(recode<PlanTask>(base::compact_json(base::Json(base::Json::Array(full.begin(), full.begin() + n)))),
              "invalid length " + std::to_string(reported[n]) + ", expected struct PlanTask with 11 elements")
        << n;
}

TEST(ActivityPayloads, ParamsNestingAndApprovalSubject) {
  // The payload object takes one of the 128 levels; "params" gets the rest.
  auto nested = [](int depth) { return action(std::string(depth, '[') + std::string(depth, ']')); };
  EXPECT_EQ(recode<ActionData>(nested(126)), nested(126));
  EXPECT_EQ(recode<ActionData>(nested(127)), "recursion limit exceeded");

  auto a = base::from_json<ActionData>(action(R"({"b":[1,2.5],"a":"x"})"));
  ASSERT_TRUE(a);
  // Built by hand: the author as a JSON string, then the action's canonical bytes.
  EXPECT_EQ(action_approval_subject_hash("prov\"1", *a).value(),
            base::sha256(R"(["prov\"1",)" + action(R"({"a":"x","b":[1,2.5]})") + "]"));
  a->params = base::Json(uint64_t{1} << 60);
  auto failed = action_approval_subject_hash("prov", *a);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().message, "integer 1152921504606846976 exceeds the I-JSON safe range required by JCS");
}

}  // namespace
}  // namespace quintrel::record
