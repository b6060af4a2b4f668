// The index of prior records and the view every check reads through.
#include "log_fixture.h"
#include "record/evolution_payloads.h"
#include "verify/prior.h"

namespace quintrel::verify {
namespace {

using namespace quintrel::fixture;

// Facts kept from a payload read for a judgement are those a later read would
// give, and only for the record the index finds under that id.
TEST(PriorIndex, FirstPositionWinsAndOnlyIndexedRecordsAreSeen) {
  const std::vector<Record> records{make_record(1, Kind::Request, record::RequestData{"o", id_of(9)}),
                                    raw_record(2, Kind::Request, "{}"),
                                    make_record(1, Kind::Request, record::RequestData{"o", id_of(8)})};
  PriorIndex index;
  const Prior prior(records, index);
  index.insert(0, records[0]);
  EXPECT_EQ(prior.find(id_of(2)), nullptr);  // in the sequence, not yet indexed
  index.insert(1, records[1]);
  index.insert(2, records[2]);
  EXPECT_EQ(prior.find(id_of(1)), &records[0]);
  EXPECT_EQ(prior.find(id_of(2)), &records[1]);
  EXPECT_EQ(PriorIndex::of(records).position(id_of(1)), 0u);
  index.keep_facts(2, record::Payload(records[2]));  // not the record found under id 1
  index.keep_facts(1, record::Payload(records[1]));
  ASSERT_NE(prior.facts<RequestFacts>(records[0]), nullptr);
  EXPECT_EQ(prior.facts<RequestFacts>(records[0])->scope, id_of(9));
  EXPECT_EQ(prior.facts<RequestFacts>(records[1]), nullptr);
}

TEST(PriorIndex, VerdictsMarkEachCauseTarget) {
  const PriorIndex index = PriorIndex::of(std::vector<Record>{
      raw_record(2, Kind::Selection, "b", {cause(1)}),  // no Verdict: marks nothing
      raw_record(3, Kind::Verdict, "c", {cause(4), cause(5), use(6), replace(7)})});
  for (uint8_t t : {1, 3, 4, 5, 6, 7}) EXPECT_EQ(index.verdicted(id_of(t)), t == 4 || t == 5) << int(t);
}

// A record's facts are read on first use and kept, an unreadable payload's
// absence too, at the same address however much the index grows after.
TEST(PriorIndex, FactsReadOnceAndKept) {
  std::vector<Record> records{make_record(1, Kind::Request, record::RequestData{"o", id_of(9)}),
                              raw_record(2, Kind::Request, "{}")};
  for (uint8_t i = 3; i < 100; ++i) records.push_back(make_record(i, Kind::Request, record::RequestData{"o", {}}));
  PriorIndex index;
  const Prior prior(records, index);
  index.insert(0, records[0]);
  index.insert(1, records[1]);
  const RequestFacts* first = prior.facts<RequestFacts>(records[0]);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(prior.facts<RequestFacts>(records[1]), nullptr);
  for (size_t i = 2; i < records.size(); ++i) {
    index.insert(i, records[i]);
    ASSERT_NE(prior.facts<RequestFacts>(records[i]), nullptr);
  }
  EXPECT_EQ(prior.facts<RequestFacts>(records[0]), first);
  EXPECT_EQ(first->scope, id_of(9));
}

}  // namespace
}  // namespace quintrel::verify
