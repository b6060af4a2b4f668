// Receipts: the round trip through bytes, the strict reader's messages,
// validation step by step and with profiles required, and the report's text
// form.
#include <functional>
#include <new>

#include "alloc_failure.h"
#include "base/hash.h"
#include "profiles/registry.h"
#include "receipt/validate.h"
#include "receipt_fixture.h"
#include "record/evolution_payloads.h"

namespace quintrel::receipt {
namespace {

using namespace quintrel::fixture;
using profiles::ProfileRef;
using S = ValidationStatus;
using R = ReasonCode;

constexpr ValidationLimits kLimits{1 << 20, 100, 1 << 16, 8};

// The standard claim with a signed request after it: 12 records, the 7th
// the first with two refs.
World signed_claim() {
  World w;
  one_claim(w);
  Draft d = draft(Kind::Request, "user", record::RequestData{"signed", base::sha256("scope")});
  d.signer = &signer(1);
  w.add("signed", d);
  return w;
}

ProfileRef declaration(std::string id) { return {std::move(id), 1, {}}; }

TEST(Receipt, RoundTrip) {
  const World w = signed_claim();
  const Receipt receipt = receipt_of(w.log);
  const std::string bytes = bytes_of(receipt);
  auto read = Receipt::from_bytes(bytes);
  ASSERT_TRUE(read) << read.error().to_string();
  EXPECT_EQ(*read, receipt);
  EXPECT_EQ(bytes_of(*read), bytes);
  EXPECT_EQ(bytes_of(receipt_of(w.log)), bytes);  // the same log, the same bytes

  // Keys in canonical order, "profiles" only when something is declared;
  // ids and data as arrays of integers. The whole empty receipt: the Python
  // tests.
  EXPECT_TRUE(bytes.starts_with("{\"records\":[{\"author\":")) << bytes.substr(0, 40);

  auto declared = Receipt::with_declared_profiles(receipt, std::vector<std::string>{"quintrel-core-v1"});
  ASSERT_TRUE(declared);
  const std::string with_profiles = bytes_of(*declared);
  EXPECT_TRUE(with_profiles.starts_with("{\"profiles\":[{\"hash\":[")) << with_profiles.substr(0, 40);
  EXPECT_EQ(Receipt::from_bytes(with_profiles).value(), *declared);

  // An empty "profiles" array reads as none and is written without the key.
  std::string explicit_empty = bytes;
  explicit_empty.insert(1, "\"profiles\":[],");
  EXPECT_EQ(bytes_of(Receipt::from_bytes(explicit_empty).value()), bytes);
}

TEST(Receipt, StrictReader) {
  const std::string rules = base::canonical_json(test_rules()).value();
  const std::string ref = "{\"id\":\"p\",\"version\":1,\"hash\":" + base::canonical_json(Id{}).value() + "}";
  const struct {
    std::string json;
    std::string error;  // empty: reads
  } cases[] = {
      {"[\"0.4\",[" + ref + "]," + rules + ",[]]", ""},
      {"{\"spec_version\":\"0.4\",\"profiles\":[[\"p\",1," + base::canonical_json(Id{}).value() + "]],\"rules\":" +
           rules + ",\"records\":[]}",
       ""},
      {"{\"spec_version\":\"0.4\",\"Records\":[]}",
       "unknown field `Records`, expected one of `spec_version`, `profiles`, `rules`, `records` at line 1 column 31"},
      {"{\"spec_version\":\"0.4\",\"spec_version\":\"0.4\"}", "duplicate field `spec_version` at line 1 column 36"},
      {"{\"spec_version\":\"0.4\",\"records\":[]}", "missing field `rules` at line 1 column 35"},
      {"[\"0.4\"]", "invalid length 2, expected struct Receipt with 4 elements at line 1 column 7"},
      {"{\"spec_version\":\"0.4\",\"profiles\":null}",
       "invalid type: null, expected a sequence at line 1 column 37"},
      {"{\"spec_version\":\"0.4\",\"rules\":" + rules + ",\"records\":[]} x",
       "trailing characters at line 1 column " + std::to_string(rules.size() + 46)},
      {"{\"profiles\":[{\"id\":\"p\",\"version\":\"1\"}]}",
       "invalid type: string \"1\", expected u32 at line 1 column 36"},
  };
  for (const auto& c : cases) {
    auto read = Receipt::from_bytes(c.json);
    EXPECT_EQ(read ? "" : read.error().to_string(), c.error) << c.json.substr(0, 80);
  }
}

TEST(Validate, EachStep) {
  const World base = signed_claim();
  ASSERT_EQ(base.log.records().size(), 12u);
  using Change = std::function<std::string(Receipt&, ValidationLimits&)>;
  auto edit = [](std::function<void(Receipt&)> f) -> Change {
    return [f](Receipt& r, ValidationLimits&) { return f(r), bytes_of(r); };
  };
  auto limit = [](std::function<void(ValidationLimits&)> f) -> Change {
    return [f](Receipt& r, ValidationLimits& l) { return f(l), bytes_of(r); };
  };
  auto version = [&](std::string v) { return edit([v](Receipt& r) { r.spec_version = v; }); };
  auto declare = [&](std::vector<std::string> ids) {
    return edit([ids](Receipt& r) { for (const auto& id : ids) r.profiles.push_back(declaration(id)); });
  };
  const struct {
    const char* name;
    Change change;
    S status;
    std::optional<std::string> problem = std::nullopt;
    std::optional<R> reason = std::nullopt;
    std::string spec_version = "0.4";
  } cases[] = {
      {"valid", edit([](Receipt&) {}), S::Clean},
      {"exactly max_bytes long: parsed",
       [](Receipt&, ValidationLimits& l) { return l.max_bytes = 10, std::string(10, ' '); }, S::Invalid,
       "unparseable receipt: EOF while parsing a value at line 1 column 10", {}, ""},
      {"one record over the limit", limit([](ValidationLimits& l) { l.max_records = 11; }), S::Invalid,
       "receipt exceeds record limit (12 > 11)"},
      {"records exactly at the limits", limit([](ValidationLimits& l) { l.max_records = 12, l.max_refs = 2; }),
       S::Clean},
      {"a payload over the limit, tested before the refs and the version", [](Receipt& r, ValidationLimits& l) {
         r.records[3].data.resize(1001, ' ');
         r.records[3].refs.resize(9, r.records[3].refs[0]);
         r.records[5].refs.resize(9, r.records[5].refs[0]);
         r.spec_version = "0.5";
         l.max_payload_bytes = 1000;
         return bytes_of(r);
       },
       S::Invalid, "record 3 exceeds payload size limit", {}, "0.5"},
      {"the first record over the ref limit", limit([](ValidationLimits& l) { l.max_refs = 1; }), S::Invalid,
       "record 6 exceeds ref-count limit"},
      {"an odd spec version", version("0.4\n\"x"), S::Invalid,
       "unsupported spec version \"0.4\\n\\\"x\" (this validator implements \"0.4\" and validates 0.3, 0.4)", {},
       "0.4\n\"x"},
      {"declarations on 0.3", edit([](Receipt& r) { r.spec_version = "0.3", r.profiles = {declaration("p")}; }),
       S::Invalid, "profile declarations require spec 0.4 or later (receipt declares \"0.3\")", {}, "0.3"},
      {"an empty id before a repeat", declare({"a", "", "a"}), S::Invalid, "profile declaration 1 has an empty id"},
      {"a repeat before an empty id", declare({"b", "a", "b", ""}), S::Invalid,
       "profile \"b\" is declared more than once"},
      {"unknown and mismatching declarations are no problem", declare({"quintrel-core-v1", "other"}), S::Clean},
      {"a requirement under 0.3", version("0.3"), S::Invalid, {}, R::UnknownSchema, "0.3"},
      {"a tampered signature", edit([](Receipt& r) {
         r.records[10].author.signature->sig[0] ^= 1;
         Log::seal(r.records[10]);
         r.records[11] = make_verdict(r.records[10], std::nullopt);
       }),
       S::Invalid, {}, R::SignatureInvalid},
  };
  for (const auto& c : cases) {
    Receipt receipt = receipt_of(base.log);
    ValidationLimits limits = kLimits;
    const std::string bytes = c.change(receipt, limits);
    const Report r = validate_with_limits(bytes, limits);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.problem, c.problem) << c.name;
    EXPECT_EQ(r.reason, c.reason) << c.name;
    EXPECT_EQ(r.spec_version, c.spec_version) << c.name;
    if (c.problem) {  // and every other value zero
      EXPECT_EQ(r, (Report{c.status, c.reason, c.problem, c.spec_version})) << c.name;
      continue;
    }
    // The hashes are over what is stored: the rules before restriction, the
    // ids as written.
    std::vector<Id> ids;
    for (const auto& rec : receipt.records) ids.push_back(rec.id);
    EXPECT_EQ(r.head_hash, base::sha256_concat_ids(ids)) << c.name;
    EXPECT_EQ(r.rules_hash, verify::rules_hash(receipt.rules).value()) << c.name;
    EXPECT_EQ(r.record_count, 12u) << c.name;
    EXPECT_EQ(r.last_time, 12u) << c.name;
    EXPECT_EQ(r.profiles.size(), receipt.profiles.size()) << c.name;
  }
}

TEST(Validate, ReplayOutcomes) {
  // A 0.3 receipt replays under the 0.3 schemas: the Requirement is unknown
  // there, and nothing is judged past it; a log of kinds it knows is clean.
  World w, older;
  const Id selection = one_claim(w);
  const Id request = older.request("R"), candidate = older.candidate("C", request, {});
  older.select("S", {candidate}, {older.v1_evaluation("E", candidate, "system")});
  for (auto [world, checked] : {std::pair{&w, 2u}, {&older, 8u}}) {
    Receipt old = receipt_of(world->log);
    old.spec_version = "0.3";
    const Report r = validate_with_limits(bytes_of(old), kLimits);
    EXPECT_EQ(r.checked_records, checked);
    EXPECT_EQ(r.status, checked == 2 ? S::Invalid : S::Clean);
  }

  w.retract(selection, "user");
  const Report r = validate_with_limits(bytes_of(receipt_of(w.log)), kLimits);
  EXPECT_EQ(r.status, S::Tainted);
  EXPECT_EQ(r.retracted, base::IdSet{selection});
  EXPECT_EQ(r.standing.unsound, base::IdSet{selection});
  EXPECT_EQ(r.checked_records, w.log.records().size());
}

TEST(Validate, RequiredProfiles) {
  Receipt receipt = receipt_of(signed_claim().log);
  receipt.profiles = {declaration("other"), *profiles::profile_ref("quintrel-core-v1")};
  const std::vector<std::string> required = {"quintrel-core-v1", "x", "other", "x"};
  auto ids = [](const Report& r) {
    std::vector<std::string> out;
    for (const auto& p : r.profiles) out.push_back(p.id + (p.declared ? " declared" : ""));
    return out;
  };
  const std::string bytes = bytes_of(receipt);
  EXPECT_EQ(validate_with_profiles(bytes, kLimits, {}), validate_with_limits(bytes, kLimits));
  EXPECT_EQ(ids(validate_with_profiles(bytes, kLimits, required)),
            (std::vector<std::string>{"other declared", "quintrel-core-v1 declared", "x"}));
  // A structural problem gets no profiles; a replay failure does (the Python tests).
  receipt.profiles.push_back(declaration("x"));
  receipt.profiles.push_back(declaration("x"));
  EXPECT_TRUE(validate_with_profiles(bytes_of(receipt), kLimits, required).profiles.empty());
}

// Validation is exception-neutral: when an allocation fails anywhere inside
// it, std::bad_alloc leaves with everything released (the leak checker of the
// sanitizer build watches), and the next call is unaffected.
TEST(Validate, OutOfMemoryLeavesNothingBroken) {
  const std::string bytes = bytes_of(receipt_of(signed_claim().log));
  const Report expected = validate_with_limits(bytes, kLimits);
  int failed = 0;
  for (long k = 0; k < 20000; k += 1 + k / 64) {
    fail_allocation_after(k);
    try {
      const Report r = validate_with_profiles(bytes, kLimits, std::vector<std::string>{"quintrel-core-v1"});
      fail_allocation_after(-1);
      EXPECT_EQ(r.status, expected.status) << k;
    } catch (const std::bad_alloc&) {
      fail_allocation_after(-1);
      ++failed;
    }
  }
  EXPECT_GT(failed, 100);
  EXPECT_EQ(validate_with_limits(bytes, kLimits), expected);
}

std::string hex(const Id& id) { return base::hex_encode(id); }

// A clean and a tainted report whole, and an oversized receipt's first lines:
// the Python tests.
TEST(ReportText, Shapes) {
  const std::string zeros(64, '0');
  Report full;
  full.reason = R::RefUnresolved;
  full.spec_version = "0.4";
  full.record_count = 4, full.checked_records = 2, full.last_time = 4;
  full.retracted = {id_of(1)};
  full.tainted = {id_of(2), id_of(3)};
  full.standing.compromised = {id_of(4)};
  full.standing.unsound = {id_of(1), id_of(2)};
  full.standing.restorations = {{id_of(2), {id_of(6), id_of(5)}}, {id_of(1), {id_of(7)}}};
  const Id h = base::sha256("table");
  full.profiles = {
      {"quintrel-core-v1", h, profiles::ProfileStatus::Conformant, true, true, {{"B1", true, "status Clean"}}},
      {"p2", h, profiles::ProfileStatus::NonConformant, true, false, {{"S1", false, "no"}, {"S2", true, "yes"}}},
      {"p3", h, profiles::ProfileStatus::Conformant, false, std::nullopt, {}},
      {"mystery", {}, profiles::ProfileStatus::Unknown, true, std::nullopt, {}},
  };
  const std::string text = to_text(full);
  EXPECT_EQ(text, "status:          INVALID\n"
                  "reject reason:   RefUnresolved\n"
                  "spec version:    0.4\n"
                  "records:         4\n"
                  "checked:         2\n"
                  "last time:       4\n"
                  "head hash:       " + zeros + "\n"
                  "rules hash:      " + zeros + "\n"
                  "retracted (1):\n"
                  "  " + hex(id_of(1)) + "\n"
                  "tainted (2):\n"
                  "  " + hex(id_of(2)) + "\n"
                  "  " + hex(id_of(3)) + "\n"
                  "standing-compromised (1):\n"
                  "  " + hex(id_of(4)) + "\n"
                  "unsound selections (2):\n"
                  "  " + hex(id_of(1)) + "\n"
                  "  " + hex(id_of(2)) + "\n"
                  "restorations (2):\n"
                  "  " + hex(id_of(1)) + " <- \n"
                  "    " + hex(id_of(7)) + "\n"
                  "  " + hex(id_of(2)) + " <- \n"
                  "    " + hex(id_of(5)) + "\n"
                  "    " + hex(id_of(6)) + "\n"
                  "profile quintrel-core-v1: CONFORMANT (declared, declaration matches)\n"
                  "  hash:          " + hex(h) + "\n"
                  "  ok   B1: status Clean\n"
                  "profile p2: NON-CONFORMANT (declared, DECLARATION MISMATCH)\n"
                  "  hash:          " + hex(h) + "\n"
                  "  FAIL S1: no\n"
                  "  ok   S2: yes\n"
                  "profile p3: CONFORMANT (required)\n"
                  "  hash:          " + hex(h) + "\n"
                  "profile mystery: UNKNOWN (declared)\n");

  // A refused write stops the rendering at once.
  int writes = 0;
  EXPECT_FALSE(write_text(full, [&](std::string_view) { return ++writes < 20; }));
  EXPECT_EQ(writes, 20);
}

}  // namespace
}  // namespace quintrel::receipt
