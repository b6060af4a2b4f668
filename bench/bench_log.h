// A log grown through the log writer, over files in memory and without a
// size limit, for the benchmarks. An author given a key signs its records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/mem_file_system.h"
#include "base/schema.h"
#include "log/writer.h"
#include "record/activity_payloads.h"
#include "record/sign.h"
#include "verify/record_checks.h"

namespace quintrel::bench {

using record::Kind;
using record::Record;
using record::Ref;
using record::RefType;

class BenchLog {
 public:
  BenchLog(std::string_view space, std::map<std::string, record::AuthorType> roles)
      : rules_(verify::VerifierRules::create(base::sha256(space), 0).with_baseline_thresholds()),
        files_(std::make_unique<base::MemFileSystem>()) {
    rules_.author_roles = std::move(roles);
    writer_.emplace(check(log::LogWriter::open_with_max_bytes("/log", rules_, UINT64_MAX, *files_)));
  }

  template <class T>
  log::RecordInput input(Kind kind, const std::string& author, const char* schema, const T& payload,
                         std::vector<Ref> refs) const {
    return {{author, rules_.author_roles.at(author), std::nullopt},
            base::to_bytes(base::canonical_json(payload).value()),
            std::move(refs),
            rules_.space,
            rules_.space,
            base::schema_id(schema),
            kind};
  }

  // Signs the author's records from now on and pins its key in the rules;
  // only before the first commit, since the writer's rules cannot change.
  void sign_as(const std::string& author, record::Ed25519Signer signer) {
    if (size() != 0) {
      std::fprintf(stderr, "sign_as after the first commit\n");
      std::abort();
    }
    rules_.author_keys[author].insert(signer.public_key());
    signers_.insert_or_assign(author, std::move(signer));
    writer_.reset();
    writer_.emplace(check(log::LogWriter::open_with_max_bytes("/log", rules_, UINT64_MAX, *files_)));
  }

  template <class T>
  Record stamp(Kind kind, const std::string& author, const char* schema, const T& payload,
               std::vector<Ref> refs) const {
    return check(writer_->stamp(input(kind, author, schema, payload, std::move(refs)), writer_->state(), signer(author)));
  }

  record::Judgement judge(const Record& r) const {
    return verify::check_record(r, writer_->prior(), rules_, writer_->state());
  }

  // Commits a record with its Verdict; returns its id.
  template <class T>
  base::Id add(Kind kind, const std::string& author, const char* schema, const T& payload, std::vector<Ref> refs) {
    log::RecordInput in = input(kind, author, schema, payload, std::move(refs));
    const record::Ed25519Signer* key = signer(author);
    auto out = check(key ? writer_->commit_signed(std::move(in), rules_, writer_->state(), *key)
                         : writer_->commit(std::move(in), rules_, writer_->state()));
    if (!out.accepted) ++rejected_;
    for (size_t i = size() - 2; i < size(); ++i) file_size_ += log::encode_record(records()[i])->bytes.size();
    return out.id;
  }

  size_t size() const { return writer_->records().size(); }
  size_t rejected() const { return rejected_; }
  const verify::VerifierRules& rules() const { return rules_; }
  const std::vector<Record>& records() const { return writer_->records(); }
  std::vector<Record> take_records() { return writer_->records(); }
  // The frame file as written, and its size.
  std::string file_bytes() const { return files_->contents("/log/records.log").value(); }
  uint64_t file_size() const { return file_size_; }

 private:
  const record::Ed25519Signer* signer(const std::string& author) const {
    auto s = signers_.find(author);
    return s == signers_.end() ? nullptr : &s->second;
  }

  template <class T>
  static T check(std::expected<T, log::LogError> r) {
    if (!r) {
      std::fprintf(stderr, "building the benchmark log: %s\n", r.error().message().c_str());
      std::abort();
    }
    return std::move(*r);
  }

  verify::VerifierRules rules_;
  std::map<std::string, record::Ed25519Signer> signers_;
  std::unique_ptr<base::MemFileSystem> files_;
  std::optional<log::LogWriter> writer_;
  size_t rejected_ = 0;
  uint64_t file_size_ = 0;
};

}  // namespace quintrel::bench
