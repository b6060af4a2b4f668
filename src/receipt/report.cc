#include "receipt/report.h"

#include "base/hash.h"

namespace quintrel::receipt {
namespace {

constexpr std::string_view kStatusWords[] = {"CLEAN", "TAINTED", "INVALID"};
constexpr std::string_view kProfileWords[] = {"CONFORMANT", "NON-CONFORMANT", "UNKNOWN"};

std::string_view declaration_label(const profiles::ProfileResult& p) {
  if (!p.declared) return "required";
  if (!p.declaration_matches) return "declared";
  return *p.declaration_matches ? "declared, declaration matches" : "declared, DECLARATION MISMATCH";
}

// Line-at-a-time output that remembers a refused write.
class Lines {
 public:
  explicit Lines(const TextSink& sink) : sink_(sink) {}
  // Labels are padded to 17 columns so that every value starts in column 18.
  bool labelled(std::string_view label, std::string_view value) {
    line_.assign(label);
    line_.resize(17, ' ');
    line_.append(value);
    return emit();
  }
  bool plain(std::string_view a, std::string_view b = {}, std::string_view c = {}) {
    line_.assign(a).append(b).append(c);
    return emit();
  }
  bool ids(std::string_view heading, const base::IdSet& set) {
    if (set.empty()) return true;
    if (!plain(heading, " (" + std::to_string(set.size()) + "):")) return false;
    for (const auto& id : set)
      if (!plain("  ", base::hex_encode(id))) return false;
    return true;
  }

 private:
  bool emit() {
    line_.push_back('\n');
    return sink_(line_);
  }
  const TextSink& sink_;
  std::string line_;
};

}  // namespace

bool write_text(const Report& r, const TextSink& sink) {
  Lines out(sink);
  if (!out.labelled("status:", kStatusWords[static_cast<size_t>(r.status)])) return false;
  // Texts taken from the receipt go through one_line, so that none can forge a line.
  using profiles::one_line;
  if (r.problem && !out.labelled("problem:", one_line(*r.problem))) return false;
  if (r.reason && !out.labelled("reject reason:", base::enum_name(*r.reason))) return false;
  if (!out.labelled("spec version:", one_line(r.spec_version)) ||
      !out.labelled("records:", std::to_string(r.record_count)) ||
      !out.labelled("checked:", std::to_string(r.checked_records)) ||
      !out.labelled("last time:", std::to_string(r.last_time)) ||
      !out.labelled("head hash:", base::hex_encode(r.head_hash)) ||
      !out.labelled("rules hash:", base::hex_encode(r.rules_hash)))
    return false;
  if (!out.ids("retracted", r.retracted) || !out.ids("tainted", r.tainted) ||
      !out.ids("standing-compromised", r.standing.compromised) ||
      !out.ids("unsound selections", r.standing.unsound))
    return false;
  const auto& restorations = r.standing.restorations;
  if (!restorations.empty()) {
    if (!out.plain("restorations (", std::to_string(restorations.size()), "):")) return false;
    bool ok = true;
    restorations.for_each([&](const base::Id& key, const auto& restorers) {
      ok = ok && out.plain("  ", base::hex_encode(key), " <- ");
      for (const auto& id : restorers) ok = ok && out.plain("    ", base::hex_encode(id));
    });
    if (!ok) return false;
  }
  for (const auto& p : r.profiles) {
    if (!out.plain("profile " + one_line(p.id) + ": ", kProfileWords[static_cast<size_t>(p.status)],
                   " (" + std::string(declaration_label(p)) + ")"))
      return false;
    if (p.status == profiles::ProfileStatus::Unknown) continue;
    if (!out.labelled("  hash:", base::hex_encode(p.hash))) return false;
    for (const auto& c : p.clauses)
      if (!out.plain(c.passed ? "  ok   " : "  FAIL ", one_line(c.id) + ": ", one_line(c.detail))) return false;
  }
  return true;
}

std::string to_text(const Report& report) {
  std::string text;
  write_text(report, [&](std::string_view piece) {
    text.append(piece);
    return true;
  });
  return text;
}

}  // namespace quintrel::receipt
