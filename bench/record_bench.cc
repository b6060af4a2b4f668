// Record ids and signatures: compute_id against its two parts (one canonical
// encoding, one SHA-256), and signing and verification against the bare
// libsodium calls on the same message.
#include <benchmark/benchmark.h>

#include "summary.h"
#include <sodium.h>

#include <cstdio>
#include <map>
#include <string>

#include "base/hash.h"
#include "record/record.h"
#include "record/sign.h"

namespace quintrel::record {
namespace {

Record make_record(size_t payload) {
  Record r;
  r.space.fill(0x11);
  r.thread.fill(0x11);
  r.time = 12345;
  r.author = {"provider-7", AuthorType::Provider, std::nullopt};
  r.kind = Kind::Candidate;
  r.schema = base::sha256("quintrel.candidate.v1");
  std::string text = R"({"note":")";
  while (text.size() + 2 < payload) text += static_cast<char>('a' + text.size() % 26);
  text += "\"}";
  r.data = base::to_bytes(text);
  for (uint8_t i = 0; i < 3; ++i) r.refs.push_back({static_cast<RefType>(i), base::sha256(std::string(1, i))});
  r.evidence = Evidence::Reported;
  return r;
}

const Record& record_of(int64_t payload) {
  static std::map<int64_t, Record> cache;
  auto it = cache.find(payload);
  if (it == cache.end()) it = cache.emplace(payload, make_record(payload)).first;
  return it->second;
}

const Ed25519Signer& the_signer() {
  static const Ed25519Signer s = [] {
    std::array<uint8_t, 32> seed;
    seed.fill(42);
    return Ed25519Signer::from_secret_bytes(seed);
  }();
  return s;
}

void ComputeId(benchmark::State& state) {
  const Record& r = record_of(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(r.compute_id());
  state.SetItemsProcessed(state.iterations());
}

void EncodeIdForm(benchmark::State& state) {
  const Record& r = record_of(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(base::canonical_json(CanonicalIdForm{r}));
  state.SetItemsProcessed(state.iterations());
}

void Sha256IdForm(benchmark::State& state) {
  const std::string bytes = *base::canonical_json(CanonicalIdForm{record_of(state.range(0))});
  for (auto _ : state) benchmark::DoNotOptimize(base::sha256(bytes));
  state.SetItemsProcessed(state.iterations());
  state.counters["bytes"] = static_cast<double>(bytes.size());
}

void EncodeSigningForm(benchmark::State& state) {
  const Record& r = record_of(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(base::canonical_json(DomainSeparatedSigningForm{r}));
  state.SetItemsProcessed(state.iterations());
}

void Sign(benchmark::State& state) {
  const Record& r = record_of(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(the_signer().sign(r));
  state.SetItemsProcessed(state.iterations());
}

// The bare primitive, with the secret key libsodium derives from the same seed.
void SignBare(benchmark::State& state) {
  const std::string message = *base::canonical_json(DomainSeparatedSigningForm{record_of(state.range(0))});
  unsigned char pk[32], sk[64], sig[64], seed[32];
  std::fill(seed, seed + 32, 42);
  crypto_sign_seed_keypair(pk, sk, seed);
  for (auto _ : state) {
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(message.data()), message.size(), sk);
    benchmark::DoNotOptimize(sig);
  }
  sodium_memzero(sk, sizeof sk);
  state.SetItemsProcessed(state.iterations());
}

Record signed_record(int64_t payload) {
  Record r = record_of(payload);
  r.author.signature = *the_signer().sign(r);
  return r;
}

void Verify(benchmark::State& state) {
  const Record r = signed_record(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(verified_key(r));
  state.SetItemsProcessed(state.iterations());
}

void VerifyBare(benchmark::State& state) {
  const Record r = signed_record(state.range(0));
  const std::string message = *base::canonical_json(DomainSeparatedSigningForm{r});
  const auto& sig = r.author.signature->sig;
  const auto& pk = the_signer().public_key();
  for (auto _ : state)
    benchmark::DoNotOptimize(crypto_sign_verify_detached(
        sig.data(), reinterpret_cast<const unsigned char*>(message.data()), message.size(), pk.data()));
  state.SetItemsProcessed(state.iterations());
}

// Payloads: a typical record (about 300 bytes of payload) and 64 KiB; the
// summary takes the median of the repetitions.
#define PAYLOADS Arg(300)->Arg(64 << 10)->Repetitions(5)->DisplayAggregatesOnly(true)
BENCHMARK(ComputeId)->PAYLOADS;
BENCHMARK(EncodeIdForm)->PAYLOADS;
BENCHMARK(Sha256IdForm)->PAYLOADS;
BENCHMARK(EncodeSigningForm)->PAYLOADS;
BENCHMARK(Sign)->PAYLOADS;
BENCHMARK(SignBare)->PAYLOADS;
BENCHMARK(Verify)->PAYLOADS;
BENCHMARK(VerifyBare)->PAYLOADS;

}  // namespace
}  // namespace quintrel::record

// Prints, after the usual table, each operation's time over the time of its
// parts: compute_id over encoding + SHA-256, sign and verify over encoding +
// the bare call.
int main(int argc, char** argv) {
  return quintrel::bench::run_with_summary(argc, argv, [](quintrel::bench::Times& ns) {
    for (const char* arg : {"300", "65536"}) {
      auto t = [&](const char* name) { return ns[std::string(name) + "/" + arg]; };
      std::printf("payload %6s: compute_id / (encode + sha256) = %.3f\n", arg,
                  t("ComputeId") / (t("EncodeIdForm") + t("Sha256IdForm")));
      std::printf("payload %6s: sign / (encode + bare) = %.3f   sign / bare = %.3f\n", arg,
                  t("Sign") / (t("EncodeSigningForm") + t("SignBare")), t("Sign") / t("SignBare"));
      std::printf("payload %6s: verify / (encode + bare) = %.3f   verify / bare = %.3f\n", arg,
                  t("Verify") / (t("EncodeSigningForm") + t("VerifyBare")), t("Verify") / t("VerifyBare"));
    }
  });
}
