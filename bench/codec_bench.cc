// Throughput of the typed reader and the canonical writer on a receipt-like
// document, beside a SAX reader that only tokenizes the same bytes.
#include <benchmark/benchmark.h>
#include <rapidjson/reader.h>

#include <random>

#include "base/codec.h"

namespace {

using quintrel::base::Id;

struct BenchAuthor {
  std::string id;
  std::string type;
  std::optional<std::string> signature;
};

struct BenchRef {
  std::string type;
  Id target{};
};

struct BenchRecord {
  Id id{}, space{}, thread{};
  uint64_t time = 0;
  BenchAuthor author;
  std::string kind;
  Id schema{};
  std::vector<uint8_t> data;
  std::vector<BenchRef> refs;
  std::string evidence;
};

struct BenchReceipt {
  std::string spec_version;
  std::vector<BenchRecord> records;
};

}  // namespace

namespace quintrel::base {
template <>
struct Fields<BenchAuthor> {
  static constexpr std::string_view name = "Author";
  static constexpr auto fields = std::make_tuple(field("id", &BenchAuthor::id), field("type", &BenchAuthor::type),
                                                 field("signature", &BenchAuthor::signature));
};
template <>
struct Fields<BenchRef> {
  static constexpr std::string_view name = "Ref";
  static constexpr auto fields = std::make_tuple(field("type", &BenchRef::type), field("target", &BenchRef::target));
};
template <>
struct Fields<BenchRecord> {
  using R = BenchRecord;
  static constexpr std::string_view name = "Record";
  static constexpr auto fields = std::make_tuple(
      field("id", &R::id), field("space", &R::space), field("thread", &R::thread), field("time", &R::time),
      field("author", &R::author), field("kind", &R::kind), field("schema", &R::schema), field("data", &R::data),
      field("refs", &R::refs), field("evidence", &R::evidence));
};
template <>
struct Fields<BenchReceipt> {
  static constexpr std::string_view name = "Receipt";
  static constexpr auto fields =
      std::make_tuple(field("spec_version", &BenchReceipt::spec_version), field("records", &BenchReceipt::records));
};
}  // namespace quintrel::base

namespace {

const BenchReceipt& receipt() {
  static const BenchReceipt r = [] {
    std::mt19937_64 rng(7);
    auto id = [&] {
      Id x;
      for (auto& b : x) b = static_cast<uint8_t>(rng());
      return x;
    };
    BenchReceipt out{"0.4", {}};
    for (uint64_t t = 1; t <= 12000; ++t) {
      BenchRecord rec;
      rec.id = id(), rec.space = id(), rec.thread = rec.space, rec.time = t;
      rec.author = {"agent-" + std::to_string(t % 7), "Provider", std::nullopt};
      rec.kind = "Candidate";
      rec.schema = id();
      rec.data.resize(400 + rng() % 800);
      for (auto& b : rec.data) b = static_cast<uint8_t>(rng());
      rec.refs = {{"Cause", id()}, {"Use", id()}};
      rec.evidence = "Reported";
      out.records.push_back(std::move(rec));
    }
    return out;
  }();
  return r;
}

const std::string& document() {
  static const std::string doc = *quintrel::base::canonical_json(receipt());
  return doc;
}

void BM_TypedReader(benchmark::State& state) {
  const std::string& doc = document();
  for (auto _ : state) {
    auto r = quintrel::base::from_json<BenchReceipt>(doc);
    if (!r) state.SkipWithError(r.error().to_string().c_str());
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
  state.counters["MiB"] = static_cast<double>(doc.size()) / (1 << 20);
}

void BM_RapidJsonSax(benchmark::State& state) {
  const std::string& doc = document();
  for (auto _ : state) {
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::Reader reader;
    rapidjson::StringStream stream(doc.c_str());
    auto ok = reader.Parse(stream, handler);
    if (!ok) state.SkipWithError("rapidjson parse failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void BM_CanonicalWriter(benchmark::State& state) {
  const BenchReceipt& r = receipt();
  size_t size = 0;
  for (auto _ : state) {
    auto bytes = quintrel::base::canonical_json(r);
    size = bytes->size();
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

BENCHMARK(BM_TypedReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonSax)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CanonicalWriter)->Unit(benchmark::kMillisecond);

}  // namespace
