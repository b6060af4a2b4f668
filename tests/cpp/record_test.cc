// Records: the stored form and its strict reader, the content-address id over
// the id form, and the order of refs.
#include <gtest/gtest.h>

#include "base/hash.h"
#include "id_text.h"
#include "record/record.h"

namespace quintrel::record {
namespace {

using fixture::id_text;

base::Id filled(uint8_t byte) {
  base::Id id;
  id.fill(byte);
  return id;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

Record sample() {
  return {filled(9), filled(1), filled(2), 7, {"alice", AuthorType::User, std::nullopt}, Kind::Candidate,
          filled(3), base::to_bytes(R"({"a":1})"), {{RefType::Cause, filled(4)}, {RefType::Use, filled(5)}},
          Evidence::Reported};
}

// sample() in its stored form and in its id form, written out by hand.
const std::string kStored =
    R"({"author":{"id":"alice","signature":null,"type":"User"},"data":[123,34,97,34,58,49,125],)"
    R"("evidence":"Reported","id":)" + id_text(9) + R"(,"kind":"Candidate","refs":[{"target":)" + id_text(4) +
    R"(,"type":"Cause"},{"target":)" + id_text(5) + R"(,"type":"Use"}],"schema":)" + id_text(3) + R"(,"space":)" +
    id_text(1) + R"(,"thread":)" + id_text(2) + R"(,"time":7})";
const std::string kIdForm = replaced(replaced(kStored, R"(,"signature":null)", ""), R"("id":)" + id_text(9) + ",", "");
const std::string kArray = "[" + id_text(9) + "," + id_text(1) + "," + id_text(2) + R"(,7,["alice","User",null],"Candidate",)" +
                           id_text(3) + R"(,[123,34,97,34,58,49,125],[["Cause",)" + id_text(4) + R"(],["Use",)" + id_text(5) +
                           R"(]],"Reported")";

TEST(Record, StoredFormAndId) {
  const Record r = sample();
  EXPECT_EQ(*base::canonical_json(r), kStored);
  EXPECT_EQ(base::from_json<Record>(kStored), r);
  EXPECT_EQ(base::from_json<Record>(kArray + "]"), r);
  EXPECT_EQ(r.compute_id(), base::sha256(kIdForm));

  Record s = r;
  s.author.signature = Signature{"ab", {1, 2}};
  const std::string sig = R"("signature":{"key_id":"ab","sig":[1,2]})";
  EXPECT_EQ(*base::canonical_json(s), replaced(kStored, R"("signature":null)", sig));
  auto done = Record(s).with_computed_id();
  ASSERT_TRUE(done);
  EXPECT_EQ(done->id, base::sha256(replaced(kIdForm, R"("id":"alice",)", R"("id":"alice",)" + sig + ",")));

  // The time at and past the largest safe integer.
  s = r;
  s.time = 9007199254740991;
  EXPECT_EQ(s.compute_id(), base::sha256(replaced(kIdForm, R"("time":7)", R"("time":9007199254740991)")));
  s.time = 9007199254740992;
  const base::JsonError error{"integer 9007199254740992 exceeds the I-JSON safe range required by JCS", 0, 0};
  EXPECT_EQ(s.compute_id(), std::unexpected(error));
  EXPECT_EQ(std::move(s).with_computed_id(), std::unexpected(error));
  auto read = base::from_json<Record>(replaced(kStored, R"("time":7)", R"("time":18446744073709551615)"));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->time, UINT64_MAX);
}

template <class T>
std::string error_of(std::string_view text) {
  auto r = base::from_json<T>(text);
  return r ? "ok" : r.error().to_string();
}

TEST(Record, ReaderTexts) {
  const std::string fields =
      "expected one of `id`, `space`, `thread`, `time`, `author`, `kind`, `schema`, `data`, `refs`, `evidence`";
  EXPECT_EQ(error_of<Record>(replaced(kStored, R"(,"signature":null)", "")), "ok");
  const std::string unknown = replaced(kStored, R"("time":7)", R"("time":7,"x":1)"),
                    short_array = kArray.substr(0, kArray.rfind(',')) + "]";
  EXPECT_EQ(error_of<Record>(unknown),
            "unknown field `x`, " + fields + " at line 1 column " + std::to_string(unknown.find(R"("x")") + 3));
  EXPECT_EQ(error_of<Record>(short_array), "invalid length 9, expected struct Record with 10 elements at line 1 column " +
                                               std::to_string(short_array.size()));
  EXPECT_EQ(error_of<Author>(R"(["a","User"])"),
            "invalid length 2, expected struct Author with 3 elements at line 1 column 12");
}

TEST(Refs, SortAndDedup) {
  // A ref as its type (Cause, Use, reQuire, Replace), then the first and last
  // bytes of its target.
  auto parse = [](std::string_view text) {
    std::vector<Ref> refs;
    for (size_t i = 0; i + 2 < text.size(); i += 4) {
      Ref ref{static_cast<RefType>(std::string_view("CUQR").find(text[i])), {}};
      ref.target[0] = text[i + 1] == 'f' ? 0xff : text[i + 1] - '0';
      ref.target[31] = text[i + 2] - '0';
      refs.push_back(ref);
    }
    return refs;
  };
  const std::pair<std::string, std::string> cases[] = {
      {"R10 C20 U30 U30", "C20 U30 R10"},
      {"Uf0 U00", "U00 Uf0"},
      {"U02 U01 U10", "U01 U02 U10"},
      {"U10 Q10 U10", "U10 Q10"},
      {"R00 Q00 U00 C00 C00 R00", "C00 U00 Q00 R00"},
  };
  for (const auto& [input, expected] : cases) {
    auto refs = parse(input);
    sort_and_dedup_refs(refs);
    EXPECT_EQ(refs, parse(expected)) << input;
  }
}

}  // namespace
}  // namespace quintrel::record
