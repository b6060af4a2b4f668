// Verifier rules: the strict reader, the defaults, both writers and the hash.
#include <gtest/gtest.h>

#include "id_text.h"
#include "verify/rules.h"

namespace quintrel::verify {
namespace {

using record::Kind;

using fixture::id_text;

// The nine required fields, in declaration order, as JSON member texts.
std::vector<std::string> required_members() {
  return {R"("space":)" + id_text(0, 0),
          R"("kind_schema_map":[[)" + id_text(1, 0) + R"(,"Request"]])",
          R"("signature_required_kinds":["Selection","Request"])",
          R"("author_keys":{"alice":[)" + id_text(2, 0) + "]}",
          R"("author_roles":{"alice":"User"})",
          R"("admin_retraction_actors":[])",
          R"("allowed_summary_types":["Lesson"])",
          R"("evidence_thresholds":{"Selection":"Inferred","Candidate":"Reported"})",
          R"("max_context_records":10)"};
}

std::string object(const std::vector<std::string>& members) {
  std::string s = "{";
  for (size_t i = 0; i < members.size(); ++i) s += (i ? "," : "") + members[i];
  return s + "}";
}

std::string read_error(const std::string& text) {
  auto r = base::from_json<VerifierRules>(text);
  return r ? "ok" : r.error().to_string();
}

TEST(Rules, DefaultsAndArrayForm) {
  auto r = base::from_json<VerifierRules>(object(required_members()));
  ASSERT_TRUE(r) << r.error().to_string();
  EXPECT_EQ(r->min_binding, record::BindingMode::reported);
  EXPECT_TRUE(r->selection_requires_evaluation);
  EXPECT_TRUE(r->reaffirmation_actors.empty());
  EXPECT_EQ(r->max_considered, 4096u);
  EXPECT_FALSE(r->selection_requires_approval);
  EXPECT_FALSE(r->reject_compromised_continuation);

  auto nine = base::from_json<VerifierRules>("[" + id_text(0, 0) + ",[],[],{},{},[],[],{},7]");
  ASSERT_TRUE(nine) << nine.error().to_string();
  EXPECT_EQ(nine->max_context_records, 7u);
  EXPECT_EQ(read_error("[" + id_text(0, 0) + ",[],[],{},{},[],[],{}]").substr(0, 66),
            "invalid length 8, expected struct VerifierRules with 15 elements a");
}

TEST(Rules, ReaderRefusals) {
  auto members = required_members();
  EXPECT_EQ(read_error(object({members.begin() + 1, members.end()})).substr(0, 21), "missing field `space`");

  auto keys = [&](std::string value) {
    auto m = members;
    m[3] = R"("author_keys":)" + value;
    return read_error(object(m));
  };
  EXPECT_EQ(keys(R"({"a":[)" + id_text(2, 0) + "," + id_text(2, 0) + "]}").substr(0, 24), "duplicate key for author");
  EXPECT_EQ(keys(R"({"a":[],"a":[)" + id_text(2, 0) + "]}").substr(0, 31), "duplicate author in author_keys");
  EXPECT_EQ(keys(R"({"a":[)" + id_text(2, 0) + R"(],"b":[)" + id_text(2, 0) + "],\"c\":[]}"), "ok");
  EXPECT_EQ(keys("[]").substr(0, 86),
            "invalid type: sequence, expected an actor-key object with unique actors and keys at li");
  members.push_back(R"("extra":1)");
  EXPECT_EQ(read_error(object(members)).substr(0, 62),
            "unknown field `extra`, expected one of `space`, `kind_schema_m");
}

TEST(Rules, WritersAndHash) {
  Id space{};
  space[0] = 9;
  auto rules = VerifierRules::create(space, 5);
  std::string compact = base::compact_json(rules), canonical = *base::canonical_json(rules);
  EXPECT_EQ(canonical.find(R"({"admin_retraction_actors":[],"allowed_summary_types":["Procedure","Pattern","Lesson","StateSnapshot"],"author_keys":{})"), 0u);
  EXPECT_EQ(*base::from_json<VerifierRules>(compact), rules);
  EXPECT_EQ(*base::from_json<VerifierRules>(canonical), rules);

  auto baseline = VerifierRules(rules).with_baseline_thresholds();
  EXPECT_EQ(base::compact_json(baseline.evidence_thresholds),
            R"({"Candidate":"Reported","Evaluation":"Reported","Selection":"Inferred"})");
  auto pinned = rules;
  pinned.evidence_thresholds[Kind::Selection] = record::Evidence::Verified;
  EXPECT_EQ(std::move(pinned).with_baseline_thresholds().evidence_thresholds.at(Kind::Selection),
            record::Evidence::Inferred);

  // Every field, defaults included, is part of the hash.
  const Id base_hash = *rules_hash(rules);
  std::vector<VerifierRules> variants(4, rules);
  variants[0].max_considered = 4095;
  variants[1].min_binding = record::BindingMode::manifest;
  variants[2].reject_compromised_continuation = true;
  variants[3].max_context_records = 6;
  for (const auto& v : variants) EXPECT_NE(*rules_hash(v), base_hash);
}

}  // namespace
}  // namespace quintrel::verify
