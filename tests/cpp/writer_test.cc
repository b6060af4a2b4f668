// The writing verbs over a real log directory: refusals before anything is
// written, and a receipt of what they commit; upgrades over a log no verb
// would write.
#include <filesystem>
#include <fstream>

#include "base/hash.h"
#include "log_fixture.h"
#include "receipt/validate.h"
#include "temp_dir.h"
#include "writer/writer.h"

namespace quintrel::writer {
namespace {

using fixture::TempDir;
using record::AuthorType;

std::string rules_json() {
  auto rules = verify::VerifierRules::create(base::sha256("writer test"), 200).with_baseline_thresholds();
  rules.author_roles = {{"alice", AuthorType::User}, {"bob", AuthorType::User}, {"bot", AuthorType::Provider},
                        {"exec", AuthorType::Executor}};
  rules.admin_retraction_actors = {"alice"};
  return base::compact_json(rules);
}

std::string refusal(const Result<log::CommitOutcome>& r) { return r ? "committed" : r.error().message; }

// The other construction refusals (rules before signers, the directory
// untouched): the Python tests.
TEST(Writer, WhatTheVerbsCommitValidates) {
  TempDir t;
  SignerKeys ghost{{"ghost", {}}, {"alice", {SignerKey::Form::Bytes, "", std::vector<uint8_t>(31)}}};
  EXPECT_EQ(Writer::open(t.path + "/log", rules_json(), ghost).error().message,
            "signer for \"alice\": expected exactly 32 bytes");  // in name order
  auto w = Writer::open(t.path + "/log", rules_json(),
                        {{"alice", {SignerKey::Form::Text, std::string(64, '7'), {}}}});
  ASSERT_TRUE(w) << w.error().message;
  auto request = w->request({"alice", "build it"});
  ASSERT_TRUE(request && request->accepted);
  const std::string req = base::hex_encode(request->id);
  // The binding's tests walk every check in order; these are texts they do not
  // meet, and write nothing.
  EXPECT_EQ(refusal(w->retract({"alice", "bad\n", ""})), "invalid record id \"bad\\n\"");
  EXPECT_EQ(refusal(w->requirement({"alice", req, "k", "d", true, {}, "derived "})),
            "invalid provenance \"derived \" (expected user_authored or derived)");
  EXPECT_EQ(w->records().size(), 2u);

  EXPECT_TRUE(w->requirement({"bot", req, "k", "d"})->accepted);
  EXPECT_EQ(w->requirement({"bot", req, "k", "d"})->reason, record::ReasonCode::RequirementInvalid);  // committed
  EXPECT_TRUE(w->retract({"alice", req, "wrong"})->accepted);
  EXPECT_TRUE(w->records().front().author.signature.has_value());
  EXPECT_EQ(w->head(), w->records().back().id);

  auto bytes = w->receipt(std::vector<std::string>{"quintrel-core-v1"});
  ASSERT_TRUE(bytes);
  const receipt::Report report = receipt::validate_with_limits(*bytes, receipt::kStandardLimits);
  EXPECT_EQ(report.status, receipt::ValidationStatus::Tainted);
  EXPECT_EQ(report.record_count, w->records().size());
}

// A log whose records no verb would write: a Candidate whose payload does not
// read, and a root Candidate that Uses a Request, then the Request retracted,
// which taints the Candidate without retracting it.
struct HandWrittenLog {
  base::Id unreadable{}, tainted{};
  explicit HandWrittenLog(const std::string& dir) {
    using namespace fixture;
    Log log;
    log.rules = base::from_json<verify::VerifierRules>(rules_json()).value();
    unreadable = log.commit({record::Kind::Candidate, "alice", "{\"basis\":\"root\"}"}).id;
    const Id request = log.accept(draft(record::Kind::Request, "alice", record::RequestData{"x", log.rules.space}));
    record::CandidateData candidate;
    candidate.source.git.tree = std::string(40, 'a');
    tainted = log.accept(draft(record::Kind::Candidate, "alice", candidate, {use(request)}));
    log.accept(draft(record::Kind::Retraction, "alice", record::RetractionData{request, "wrong"}, {cause(request)}));
    std::filesystem::create_directory(dir);
    std::ofstream(dir + "/records.log", std::ios::binary) << log.files().contents("/log/records.log").value();
  }
};

TEST(Writer, UpgradeTargetsAreReadBeforeTheirStandingIsAsked) {
  TempDir t;
  const std::string dir = t.path + "/log";
  const HandWrittenLog hand(dir);
  auto w = Writer::open(dir, rules_json(), {});
  ASSERT_TRUE(w) << w.error().message;
  ASSERT_TRUE(w->log().state().tainted_records.contains(hand.tainted));

  // Rejected and unreadable: the payload is what is reported.
  const std::string unreadable = base::hex_encode(hand.unreadable);
  CandidateArgs args{"bot", std::string(40, 'a')};
  args.upgrades = unreadable;
  EXPECT_EQ(refusal(w->candidate(args)), "upgrades target \"" + unreadable + "\" is not a Candidate in this log");

  // Taint alone does not refuse an upgrade.
  args.upgrades = base::hex_encode(hand.tainted);
  auto upgraded = w->candidate(args);
  ASSERT_TRUE(upgraded) << upgraded.error().message;
  EXPECT_TRUE(upgraded->accepted);
}

}  // namespace
}  // namespace quintrel::writer
