// The C++ side of bench/python_bench.py: the same work as the Python calls
// it is compared with, done through the core directly, in a process that
// the script drives line by line so that both sides run in turn, in one run.
//
//   generate DIR BYTES   a log of request/candidate/evaluation/selection cycles
//                        below BYTES in DIR/records.log; prints its rules JSON
//   open DIR RULES       opens DIR with the rules in the file RULES
//   request N            commits N requests by "user", one at a time, through
//                        the log writer; prints each commit's time in us
//   close                closes the open log
//   replay DIR RULES     one replay (verify_log) of the log in DIR; prints ms
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "../bench_log.h"
#include "verify/replay.h"

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

int run() {
  std::optional<log::LogWriter> writer;
  verify::VerifierRules rules;
  size_t committed = 0;
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream in(line);
    std::string verb, dir, path;
    in >> verb;
    if (verb == "generate") {
      uint64_t bytes = 0;
      in >> dir >> bytes;
      BenchLog b("python bench", {{"user", record::AuthorType::User}, {"agent", record::AuthorType::Provider}});
      grow_cycles(b, bytes);
      std::filesystem::create_directories(dir);
      std::ofstream(dir + "/records.log", std::ios::binary) << b.file_bytes();
      std::cout << base::compact_json(b.rules()) << std::endl;
    } else if (verb == "open") {
      in >> dir >> path;
      rules = rules_from(path);
      writer.emplace(open_log(dir, rules));
      std::cout << "ok " << writer->records().size() << std::endl;
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
        auto out = writer->commit(std::move(input), rules, writer->state());
        const auto t1 = Clock::now();
        if (!out) {
          std::cerr << "commit: " << out.error().message() << "\n";
          return 1;
        }
        std::cout << (i ? " " : "") << std::chrono::duration<double, std::micro>(t1 - t0).count();
      }
      std::cout << std::endl;
    } else if (verb == "close") {
      writer.reset();
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
