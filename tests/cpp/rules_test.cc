// Verifier rules: the reader, defaults, writers and hash; and their strict
// collections (repetitions refused, members in order, objects by UTF-16 units).
#include <gtest/gtest.h>

#include "base/codec.h"
#include "id_text.h"
#include "record/evidence.h"
#include "record/kind.h"
#include "verify/rules.h"

namespace quintrel::verify {
namespace {

using fixture::id_text;
using record::AuthorType;
using record::Evidence;
using record::Kind;
using Roles = std::map<std::string, AuthorType>;
using Thresholds = std::map<Kind, Evidence>;
using Texts = std::set<std::string>;
using Kinds = std::set<Kind>;
using KindMap = std::map<Id, Kind>;

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

// The compact and the canonical text of what was read, or the error.
template <class T>
std::string probe(std::string_view text) {
  auto r = base::from_json<T>(text);
  return r ? base::compact_json(*r) + " | " + *base::canonical_json(*r) : r.error().to_string();
}

TEST(Rules, ReaderWritersHashAndStrictCollections) {
  EXPECT_TRUE(base::compact_json(base::from_json<VerifierRules>(object(required_members())).value()).ends_with(
      R"(,"max_context_records":10,"min_binding":"reported","selection_requires_evaluation":true,)"
      R"("reaffirmation_actors":[],"max_considered":4096,"selection_requires_approval":false,)"
      R"("reject_compromised_continuation":false})"));

  // The array form may stop after the nine.
  EXPECT_EQ(base::from_json<VerifierRules>("[" + id_text(0, 0) + ",[],[],{},{},[],[],{},7]").value().max_context_records, 7u);
  EXPECT_EQ(read_error("[" + id_text(0, 0) + ",[],[],{},{},[],[],{}]").substr(0, 66),
            "invalid length 8, expected struct VerifierRules with 15 elements a");

  auto members = required_members();
  EXPECT_EQ(read_error(object({members.begin() + 1, members.end()})).substr(0, 21), "missing field `space`");

  auto keys = [&](std::string v) { auto m = members; m[3] = R"("author_keys":)" + v; return read_error(object(m)); };
  EXPECT_EQ(keys(R"({"a":[)" + id_text(2, 0) + "," + id_text(2, 0) + "]}").substr(0, 24), "duplicate key for author");
  EXPECT_EQ(keys(R"({"a":[],"a":[)" + id_text(2, 0) + "]}").substr(0, 31), "duplicate author in author_keys");
  EXPECT_EQ(keys(R"({"a":[)" + id_text(2, 0) + R"(],"b":[)" + id_text(2, 0) + "],\"c\":[]}"), "ok");
  EXPECT_EQ(keys("[]").substr(0, 86),
            "invalid type: sequence, expected an actor-key object with unique actors and keys at li");
  members.push_back(R"("extra":1)");
  EXPECT_EQ(read_error(object(members)).substr(0, 62),
            "unknown field `extra`, expected one of `space`, `kind_schema_m");
  // Both writers read back; the hash covers every field.
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

  // The strict collections, read and written.
  const std::string one = id_text(1, 0), two = id_text(2, 0);
  // Kind's refusal, whose whole text record_test pins, as a map key.
  const std::string nope = base::from_json<Kind>(R"("Nope")").error().message + " at line 1 column 7";
  const struct {
    std::string (*probe)(std::string_view);
    std::string input, expected;
  } table[] = {
      {probe<KindMap>, "[]", "[] | []"},
      // Enumeration keys and members in ordinal order; object keys canonically by name.
      {probe<Kinds>, R"(["Selection","Request"])", R"(["Request","Selection"] | ["Request","Selection"])"},
      {probe<Thresholds>, R"({"Action":"Inferred","Request":"Assumed"})",
       R"({"Request":"Assumed","Action":"Inferred"} | {"Action":"Inferred","Request":"Assumed"})"},
      // U+FB01 sorts before U+1F600 by bytes, after it by UTF-16 units.
      {probe<Texts>, "[\"\U0001F600\",\"\uFB01\"]", "[\"\uFB01\",\"\U0001F600\"] | [\"\uFB01\",\"\U0001F600\"]"},
      {probe<Roles>, "{\"\U0001F600\":\"User\",\"\uFB01\":\"System\"}",
       "{\"\uFB01\":\"System\",\"\U0001F600\":\"User\"} | {\"\U0001F600\":\"User\",\"\uFB01\":\"System\"}"},
      {probe<KindMap>, "[[" + two + ",\"Plan\"],[" + one + ",\"Usage\"]]",
       "[[" + one + ",\"Usage\"],[" + two + ",\"Plan\"]] | [[" + one + ",\"Usage\"],[" + two + ",\"Plan\"]]"},

      {probe<Roles>, R"({"a":"User","\u0061":"System"})", "duplicate map key at line 1 column 30"},
      {probe<Thresholds>, R"({"Nope":"Reported"})", nope},
      {probe<Roles>, R"("x")",
       R"(invalid type: string "x", expected a JSON object with unique keys at line 1 column 3)"},
      {probe<Texts>, "{}", "invalid type: map, expected a sequence with unique members at line 1 column 0"},
      {probe<Kinds>, R"(["Plan",{"Plan":null}])", "duplicate set member at line 1 column 22"},
      {probe<KindMap>, "{}", "invalid type: map, expected a sequence of unique [key, value] pairs at line 1 column 0"},
      {probe<KindMap>, "[[" + one + "]]", "invalid length 1, expected a tuple of size 2 at line 1 column 68"},
      {probe<KindMap>, "[[" + one + ",\"Plan\",1]]", "trailing characters at line 1 column 76"},
      {probe<KindMap>, "[[" + one + ",\"Plan\"],[" + one + ",\"Usage\"]]",
       "duplicate key in pair-encoded map at line 1 column 152"},
  };
  for (const auto& c : table) EXPECT_EQ(c.probe(c.input), c.expected) << c.input;
}

}  // namespace
}  // namespace quintrel::verify
