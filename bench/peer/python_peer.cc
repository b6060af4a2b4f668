// The C++ side of bench/python_bench.py: the same work as the Python calls
// it is compared with, done through the core directly, in a process that
// the script drives line by line so that both sides run in turn, in one run.
//
//   generate DIR BYTES   a log of request/candidate/evaluation/selection cycles
//                        below BYTES in DIR/records.log; prints its rules JSON
//   chains DIR BYTES     a log of continuation chains (one of 10,000 Candidates,
//                        the others of 100) below BYTES in DIR/records.log;
//                        prints its rules JSON
//   open DIR RULES       opens DIR with the rules in the file RULES
//   request N            commits N requests by "user", one at a time, through
//                        the log writer; prints each commit's time in us
//   close                closes the open log
//   replay DIR RULES     one replay (verify_log) of the log in DIR; prints ms
//   wopen DIR RULES      opens DIR as a writer::Writer, the core the module binds
//   cycle I              runs cycle I of python_bench.py's verbs through that
//                        Writer; prints each call's time in us, in order
//   floor N              N rounds of the sync floor beside the Writer's log, at
//                        the sizes of its last record and Verdict; prints us
//   wclose               closes the Writer
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "../bench_log.h"
#include "../sync_floor.h"
#include "log/intent.h"
#include "verify/replay.h"
#include "writer/writer.h"

namespace quintrel::bench {
namespace {

using Clock = std::chrono::steady_clock;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

verify::VerifierRules rules_from(const std::string& path) {
  auto rules = base::from_json<verify::VerifierRules>(read_file(path));
  if (!rules) {
    std::cerr << "rules: " << rules.error().to_string() << "\n";
    std::exit(1);
  }
  return *rules;
}

log::LogWriter open_log(const std::string& dir, const verify::VerifierRules& rules) {
  auto w = log::LogWriter::open(dir, rules);
  if (!w) {
    std::cerr << "open: " << w.error().message() << "\n";
    std::exit(1);
  }
  return std::move(*w);
}

std::string hex_number(size_t n, int width) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%0*zx", width, n);
  return buf;
}

writer::ArtifactEntry text_artifact(std::string text) {
  return {writer::ArtifactEntry::Form::Text, std::move(text)};
}

// The calls of python_bench.py's cycle(), with the same arguments; each
// call's time in us. Exits on a refusal.
std::vector<double> cycle(writer::Writer& w, size_t i) {
  std::vector<double> times;
  auto timed = [&](auto&& call) {
    const auto t0 = Clock::now();
    writer::Result<log::CommitOutcome> out = call();
    const auto t1 = Clock::now();
    if (!out) {
      std::cerr << "cycle " << i << ": " << out.error().message << "\n";
      std::exit(1);
    }
    times.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    return base::hex_encode(out->id);
  };
  const std::string tree1 = hex_number(2 * i, 40), tree2 = hex_number(2 * i + 1, 40), digest = hex_number(i, 64);
  const std::string request =
      timed([&] { return w.request({"user", "objective " + std::to_string(i) + " " + std::string(64, 'x')}); });
  const std::string requirement = timed(
      [&] { return w.requirement({"user", request, "key " + std::to_string(i), "the change has tests"}); });
  const std::string root = timed([&] {
    writer::CandidateArgs a{"agent", tree1};
    a.note = "candidate " + std::to_string(i);
    writer::ArtifactEntry dict{writer::ArtifactEntry::Form::Dict};
    dict.scheme = {writer::ArtifactField::State::Text, "git-tree-sha1"};
    dict.digest = {writer::ArtifactField::State::Text, tree1};
    a.artifacts = {text_artifact("sha256-bytes:" + digest + ":out.tar"), dict};
    return w.candidate(std::move(a));
  });
  const std::string derived = timed([&] {
    writer::CandidateArgs a{"agent", tree2};
    a.derives_from = {{root}};
    return w.candidate(std::move(a));
  });
  const std::string plain = timed([&] {
    writer::EvaluateArgs a{"agent", root, "tests"};
    a.passed = true;
    a.procedure = "make check";
    return w.evaluate(std::move(a));
  });
  const std::string extended = timed([&] {
    writer::EvaluateArgs a{"agent", derived, "tests"};
    a.score = 97;
    a.scale = 2;
    a.evaluator = "ci";
    a.basis = "recomputed";
    a.requirements = {{requirement}};
    a.artifacts = {text_artifact("sha256-bytes:" + digest)};
    return w.evaluate(std::move(a));
  });
  timed([&] {
    writer::SelectArgs a{"agent", "objective " + std::to_string(i), {root, derived}};
    a.choose = {{derived}};
    a.uses_eval = {{plain, extended}};
    a.rationale = "the higher score";
    return w.select(std::move(a));
  });
  timed([&] { return w.retract({"agent", plain, "flaky run"}); });
  return times;
}

int run() {
  std::optional<log::LogWriter> log_writer;
  std::optional<writer::Writer> verbs;
  std::string verbs_dir;
  verify::VerifierRules rules;
  size_t committed = 0;
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream in(line);
    std::string verb, dir, path;
    in >> verb;
    if (verb == "generate" || verb == "chains") {
      uint64_t bytes = 0;
      in >> dir >> bytes;
      BenchLog b("python bench", {{"user", record::AuthorType::User}, {"agent", record::AuthorType::Provider}});
      if (verb == "generate")
        grow_cycles(b, bytes);
      else
        grow_chains(b, 10000, bytes);
      std::filesystem::create_directories(dir);
      std::ofstream(dir + "/records.log", std::ios::binary) << b.file_bytes();
      std::cout << base::compact_json(b.rules()) << std::endl;
    } else if (verb == "open") {
      in >> dir >> path;
      rules = rules_from(path);
      log_writer.emplace(open_log(dir, rules));
      std::cout << "ok " << log_writer->records().size() << std::endl;
    } else if (verb == "request") {
      size_t n = 0;
      in >> n;
      static const base::Id kSchema = base::schema_id("quintrel.request.v1");
      for (size_t i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        record::RequestData payload{free_text("request", committed++), rules.space, {}, std::nullopt};
        log::RecordInput input{{"user", record::AuthorType::User, std::nullopt},
                               base::to_bytes(*base::canonical_json(payload)),
                               {},
                               rules.space,
                               rules.space,
                               kSchema,
                               record::Kind::Request};
        auto out = log_writer->commit(std::move(input), rules, log_writer->state());
        const auto t1 = Clock::now();
        if (!out) {
          std::cerr << "commit: " << out.error().message() << "\n";
          return 1;
        }
        std::cout << (i ? " " : "") << std::chrono::duration<double, std::micro>(t1 - t0).count();
      }
      std::cout << std::endl;
    } else if (verb == "close") {
      log_writer.reset();
      std::cout << "ok" << std::endl;
    } else if (verb == "replay") {
      in >> dir >> path;
      const verify::VerifierRules replay_rules = rules_from(path);
      const std::vector<record::Record> records = open_log(dir, replay_rules).records();
      const auto t0 = Clock::now();
      const verify::LogVerdict verdict = verify::verify_log(records, replay_rules);
      const auto t1 = Clock::now();
      if (verdict.failure) {
        std::cerr << "replay failed\n";
        return 1;
      }
      std::cout << std::chrono::duration<double, std::milli>(t1 - t0).count() << std::endl;
    } else if (verb == "wopen") {
      in >> verbs_dir >> path;
      auto opened = writer::Writer::open(verbs_dir, read_file(path), {});
      if (!opened) {
        std::cerr << "wopen: " << opened.error().message << "\n";
        return 1;
      }
      verbs.emplace(std::move(*opened));
      std::cout << "ok" << std::endl;
    } else if (verb == "cycle") {
      size_t i = 0;
      in >> i;
      const std::vector<double> times = cycle(*verbs, i);
      for (size_t k = 0; k < times.size(); ++k) std::cout << (k ? " " : "") << times[k];
      std::cout << std::endl;
    } else if (verb == "floor") {
      size_t n = 0;
      in >> n;
      const auto& records = verbs->records();
      const record::Record& subject = records[records.size() - 2];
      SyncFloor floor(verbs_dir, log::encode_record(subject)->bytes.size(),
                      log::encode_record(records.back())->bytes.size(),
                      base::canonical_json(log::CommitIntent{subject.id, false})->size());
      for (size_t i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        if (!floor.run()) {
          std::cerr << "floor: a file operation failed\n";
          return 1;
        }
        std::cout << (i ? " " : "") << std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
      }
      std::cout << std::endl;
    } else if (verb == "wclose") {
      verbs.reset();
      std::cout << "ok" << std::endl;
    } else if (!verb.empty()) {
      std::cerr << "unknown command " << verb << "\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace
}  // namespace quintrel::bench

int main() { return quintrel::bench::run(); }
