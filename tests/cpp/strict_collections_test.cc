// The collections of the verifier rules: repetitions refused, arrays in the
// collection's order (bytes, ordinals), canonical objects by UTF-16 units.
#include <gtest/gtest.h>

#include "base/codec.h"
#include "id_text.h"
#include "record/evidence.h"
#include "record/kind.h"

namespace quintrel::record {
namespace {

using Roles = std::map<std::string, AuthorType>;
using Thresholds = std::map<Kind, Evidence>;
using Texts = std::set<std::string>;
using Kinds = std::set<Kind>;
using KindMap = std::map<base::Id, Kind>;

// The compact and the canonical text of what was read, or the error.
template <class T>
std::string probe(std::string_view text) {
  auto r = base::from_json<T>(text);
  return r ? base::compact_json(*r) + " | " + *base::canonical_json(*r) : r.error().to_string();
}

using fixture::id_text;

TEST(StrictCollections, ReadAndWritten) {
  const std::string one = id_text(1, 0), two = id_text(2, 0), kinds =
      "expected one of `Request`, `Action`, `Response`, `Result`, `Summary`, `Approval`, `Capability`, "
      "`Usage`, `Refusal`, `Verdict`, `Plan`, `Retraction`, `Candidate`, `Evaluation`, `Selection`, `Requirement`";
  struct Case {
    std::string (*probe)(std::string_view);
    std::string input, expected;
  };
  const Case table[] = {
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
      {probe<Thresholds>, R"({"Nope":"Reported"})", "unknown variant `Nope`, " + kinds + " at line 1 column 7"},
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
}  // namespace quintrel::record
