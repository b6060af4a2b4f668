// A Candidate: a git tree, optionally bound to a directory's manifest and to
// artifacts, placed in a lineage by at most one of continues (with parent),
// derives_from and upgrades. Malformed and contradictory arguments are refused
// here, and an upgrade's target is checked against the log; what the lineage
// ids name is the verifier's to judge inside the commit.
#include "base/json_reader.h"
#include "manifest/manifest.h"
#include "record/schema.h"
#include "writer/writer.h"

namespace quintrel::writer {

namespace {

using record::CandidateBasis;
using record::RefType;

struct Lineage {
  CandidateBasis basis = CandidateBasis::root;
  std::optional<base::Id> parent;
  std::vector<record::Ref> refs;  // all Cause refs
};

Result<record::SourceAlgo> algo_of(const std::string& algo) {
  if (algo == "sha1") return record::SourceAlgo::sha1;
  if (algo == "sha256") return record::SourceAlgo::sha256;
  return std::unexpected(Refusal::value("invalid algo " + base::debug_quote(algo)));
}

// The target of an upgrade: a live Candidate of this log with the same tree.
// Taint alone does not refuse it.
Result<base::Id> upgrade_target(const Writer& w, const std::string& upgrades, const std::string& git_tree) {
  auto id = parse_id(upgrades);
  if (!id) return id;
  const std::string quoted = base::debug_quote(upgrades);
  // Ids are content hashes: the first record with this id is every one.
  const record::Record* target = w.find(*id);
  std::optional<record::CandidateData> data;
  if (target && target->kind == record::Kind::Candidate)
    if (auto read = base::from_json<record::CandidateData>(base::as_text(target->data))) data = std::move(*read);
  if (!data) return std::unexpected(Refusal::value("upgrades target " + quoted + " is not a Candidate in this log"));
  const state::State& state = w.log().state();
  if (!state.accepted_records.contains(*id))
    return std::unexpected(Refusal::value("upgrades target " + quoted + " is not an accepted Candidate"));
  if (state.retracted_records.contains(*id))
    return std::unexpected(
        Refusal::value("upgrades target " + quoted + " is retracted; upgrade a live candidate"));
  if (git_tree != data->source.git.tree)
    return std::unexpected(Refusal::value("refusing upgrade: git_tree " + base::debug_quote(git_tree) +
                                          " differs from the target's tree " +
                                          base::debug_quote(data->source.git.tree)));
  return id;
}

Result<Lineage> lineage_of(const Writer& w, const CandidateArgs& args) {
  const int given = int(args.continues.has_value()) + int(args.derives_from.has_value()) +
                    int(args.upgrades.has_value());
  if (given > 1) return std::unexpected(Refusal::value("continues, derives_from, and upgrades are mutually exclusive"));
  if (!args.continues && args.parent) return std::unexpected(Refusal::value("parent is only valid with continues"));
  if (args.continues && !args.parent)
    return std::unexpected(Refusal::value("continues requires parent (the continued candidate id)"));

  Lineage lineage;
  if (args.continues) {
    auto parent = parse_id(*args.parent);
    if (!parent) return std::unexpected(std::move(parent.error()));
    auto continues = parse_id(*args.continues);
    if (!continues) return std::unexpected(std::move(continues.error()));
    lineage = {CandidateBasis::continuation, *parent, {{RefType::Cause, *continues}}};
  } else if (args.derives_from) {
    if (args.derives_from->empty()) return std::unexpected(Refusal::value("derives_from requires at least one id"));
    auto ids = parse_ids(*args.derives_from);
    if (!ids) return std::unexpected(std::move(ids.error()));
    lineage.basis = CandidateBasis::derivation;
    // Repeats pass on; the commit drops duplicate refs.
    for (const base::Id& id : *ids) lineage.refs.push_back({RefType::Cause, id});
  } else if (args.upgrades) {
    auto target = upgrade_target(w, *args.upgrades, args.git_tree);
    if (!target) return std::unexpected(std::move(target.error()));
    lineage = {CandidateBasis::derivation, std::nullopt, {{RefType::Cause, *target}}};
  }
  return lineage;
}

// The manifest hash of the directory at `path`, resolved as the operating
// system resolves it.
Result<base::Id> manifest_of(const std::string& path) {
  auto entries = manifest::manifest_from_dir(path, {});
  if (!entries) return std::unexpected(Refusal::value("cannot walk tree " + path + ": " + entries.error().message));
  auto hash = manifest::manifest_hash(*entries);
  if (!hash) return std::unexpected(Refusal::value("manifest has duplicate paths"));
  return *hash;
}

}  // namespace

Result<log::CommitOutcome> Writer::candidate(CandidateArgs args) {
  auto author = resolve_author(args.author);
  if (!author) return std::unexpected(std::move(author.error()));

  std::optional<std::vector<record::ArtifactRef>> artifacts;
  if (args.artifacts) {
    auto parsed = parse_artifacts(*args.artifacts);
    if (!parsed) return std::unexpected(std::move(parsed.error()));
    artifacts = std::move(*parsed);
  }
  auto algo = algo_of(args.algo);
  if (!algo) return std::unexpected(std::move(algo.error()));
  auto lineage = lineage_of(*this, args);
  if (!lineage) return std::unexpected(std::move(lineage.error()));

  record::SourceBinding source{{*algo, std::move(args.git_tree), std::move(args.git_commit)},
                               std::nullopt,
                               record::BindingMode::reported};
  if (args.manifest) {
    auto hash = manifest_of(*args.manifest);
    if (!hash) return std::unexpected(std::move(hash.error()));
    source.manifest_hash = *hash;
    source.binding = record::BindingMode::manifest;
  }

  record::CandidateData payload{std::move(source), lineage->basis, lineage->parent, std::move(args.note),
                                std::move(artifacts)};
  auto bytes = checked_encode(payload);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return do_commit(std::move(*author), record::schema_id(record::Schema::Candidate), std::move(*bytes), record::Kind::Candidate,
                   std::move(lineage->refs));
}

}  // namespace quintrel::writer
