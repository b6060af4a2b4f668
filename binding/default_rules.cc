// default_rules: starter verifier rules as compact JSON.
#include "call.h"  // first: Python.h comes before the standard headers

#include <algorithm>
#include <array>

#include "base/hash.h"
#include "module.h"
#include "verify/rules.h"

namespace quintrel::py {

namespace {

constexpr char kProse[] =
    "Build a starter verifier-rules JSON string, binding each actor id to a role.\n"
    "\n"
    "It removes the need to hand-author a rules object before opening a\n"
    "`Writer`. `authors` maps an actor id to one of `user`, `provider`,\n"
    "`system`, `executor` or `verifier` (case-insensitive). The result is a\n"
    "JSON string ready to pass to `Writer`.\n"
    "\n"
    "`admins` lists actors allowed to retract records they did not author (a\n"
    "Retraction is otherwise valid only from the target's own author, and an\n"
    "Executor may never author one). `reaffirmers`, when non-empty, restricts\n"
    "reaffirming selections to the listed actors. Both must also appear in\n"
    "`authors`: an actor with no role binding could never author an accepted\n"
    "record, so listing it would be a silent no-op.\n"
    "\n"
    "The result carries the `quintrel-core-v1` baseline evidence thresholds\n"
    "(Candidate `Reported`, Evaluation `Reported`, Selection `Inferred`, the\n"
    "schema base classes), so a log committed under it conforms to the\n"
    "baseline profile out of the box.\n"
    "\n"
    "Example:\n"
    "\n"
    "    rules = quintrel.default_rules(\n"
    "        {\"agent\": \"provider\", \"evaluator\": \"provider\"}, admins=[\"agent\"])\n"
    "    writer = quintrel.Writer(\"./log\", rules)\n";

struct RulesArgs {
  std::map<std::string, std::string> authors;
  uint32_t max_context = 200;
  std::optional<std::vector<std::string>> admins;
  std::optional<std::vector<std::string>> reaffirmers;
  bool sign = false;
  std::optional<std::map<std::string, std::vector<std::string>>> author_keys;
};

const Params<RulesArgs>& params() {
  static const Params<RulesArgs> table(
      "default_rules", Shape::kFunction, "",
      {arg<&RulesArgs::authors>("authors"), arg<&RulesArgs::max_context>("max_context", "200"),
       arg<&RulesArgs::admins>("admins", "None"), arg<&RulesArgs::reaffirmers>("reaffirmers", "None"),
       arg<&RulesArgs::sign>("signed", "False"), arg<&RulesArgs::author_keys>("author_keys", "None")},
      kProse);
  return table;
}

constexpr std::array<std::pair<std::string_view, record::AuthorType>, 5> kRoles = {{
    {"user", record::AuthorType::User},
    {"provider", record::AuthorType::Provider},
    {"system", record::AuthorType::System},
    {"executor", record::AuthorType::Executor},
    {"verifier", record::AuthorType::Verifier},
}};

std::string ascii_lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

Ref default_rules(RulesArgs args) {
  const auto& [authors, max_context, admins, reaffirmers, sign, keys] = args;
  const auto author_keys = keys.value_or(std::map<std::string, std::vector<std::string>>{});
  if (authors.empty()) return value_error("default_rules needs at least one author binding");

  verify::VerifierRules rules =
      verify::VerifierRules::create(base::sha256_utf8("quintrel.default_space.v1"), max_context)
          .with_baseline_thresholds();

  for (const auto& [actor, role] : authors) {
    if (actor.empty()) return value_error("author id must be non-empty");
    std::string lowered = ascii_lower(role);
    auto match = std::find_if(kRoles.begin(), kRoles.end(),
                              [&](const auto& r) { return r.first == lowered; });
    if (match == kRoles.end()) {
      return value_error("invalid role " + quoted(lowered) +
                         " (user|provider|system|executor|verifier)");
    }
    rules.author_roles.emplace(actor, match->second);
  }

  const std::pair<std::string_view, const std::optional<std::vector<std::string>>*> lists[] = {
      {"admins", &admins}, {"reaffirmers", &reaffirmers}};
  for (const auto& [list_name, list] : lists) {
    if (!*list) continue;
    for (const std::string& actor : **list) {
      if (!authors.contains(actor)) {
        return value_error(std::string(list_name) + " entry " + quoted(actor) +
                           " has no author binding; add it to authors");
      }
    }
  }
  if (admins) rules.admin_retraction_actors.insert(admins->begin(), admins->end());
  if (reaffirmers) rules.reaffirmation_actors.insert(reaffirmers->begin(), reaffirmers->end());

  if (sign) {
    rules.signature_required_kinds = {record::Kind::Candidate, record::Kind::Evaluation,
                                      record::Kind::Selection, record::Kind::Retraction,
                                      record::Kind::Requirement};
  }

  for (const auto& [actor, keys] : author_keys) {
    if (!authors.contains(actor)) {
      return value_error("author_keys entry " + quoted(actor) +
                         " has no author binding; add it to authors");
    }
    if (keys.empty()) return value_error("author_keys entry " + quoted(actor) + " lists no keys");
    for (const std::string& key : keys) {
      auto decoded = base::hex_decode(trim_whitespace(key));
      if (!decoded) {
        return value_error("author_keys entry " + quoted(actor) +
                           ": a public key must be 64 lowercase hex characters");
      }
      rules.author_keys[actor].insert(*decoded);
    }
  }

  // The compact writer cannot fail on rules, so "cannot serialize rules" has
  // no path here.
  return str(base::compact_json(rules));
}

}  // namespace

PyMethodDef* default_rules_def() {
  static PyMethodDef def = function_def<RulesArgs, params, default_rules>();
  return &def;
}

}  // namespace quintrel::py
