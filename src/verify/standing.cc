#include "verify/standing.h"

#include "base/hash.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "record/evolution_payloads.h"

namespace quintrel::verify {
namespace {

using base::Id;
using record::CandidateBasis;

constexpr uint32_t kNo = UINT32_MAX;

// The per-call tables are vectors sorted by id and searched by bisection: no
// hashing, and ids chosen by a stranger cannot make a lookup slow.
uint32_t index_in(const std::vector<Id>& ids, const Id& id) {
  auto it = std::lower_bound(ids.begin(), ids.end(), id);
  return it != ids.end() && *it == id ? static_cast<uint32_t>(it - ids.begin()) : kNo;
}

// Which of the ascending `ids` are in `set`.
std::vector<uint8_t> membership(const std::vector<Id>& ids, const base::IdTableSet& set) {
  std::vector<uint8_t> in(ids.size(), 0);
  for (size_t i = 0; i < ids.size(); ++i) in[i] = set.contains(ids[i]);
  return in;
}

// Many ids are matched in one in-order pass over the set: a descent per id
// costs a cache miss at most of its levels once the set outgrows the cache.
std::vector<uint8_t> membership(const std::vector<Id>& ids, const base::IdSet& set) {
  std::vector<uint8_t> in(ids.size(), 0);
  if (ids.size() * 32 < set.size()) {
    for (size_t i = 0; i < ids.size(); ++i) in[i] = set.contains(ids[i]);
    return in;
  }
  auto it = set.begin();
  for (size_t i = 0; i < ids.size() && it != set.end(); ++i) {
    while (it != set.end() && *it < ids[i]) ++it;
    in[i] = it != set.end() && *it == ids[i];
  }
  return in;
}

struct SelInfo {
  std::vector<Id> chosen;  // ascending, no repeats
  std::optional<Id> replaces;
  bool withdrawn = false;  // retracted or tainted
};

enum class Memo : uint8_t { kNone, kInProgress, kSound, kUnsound };

struct CandInfo {
  std::vector<Id> causes;  // Cause targets in ref order
  std::optional<Id> parent;
  CandidateBasis basis = CandidateBasis::root;
  bool retracted = false;
  bool anchor_withdrawn = false;  // a continuation whose Selection is retracted or tainted
  uint32_t parent_index = kNo;    // of a continuation's parent, when it has a CandInfo
  std::vector<uint32_t> parents;  // the parent list, as candidate indices
  Memo memo = Memo::kNone;
};

// Accepted Selections and Candidates whose payloads read, each ascending by id.
struct Gathered {
  std::vector<Id> sel_ids;
  std::vector<SelInfo> sels;
  std::vector<Id> cand_ids;
  std::vector<CandInfo> cands;
};

// The facts F of records[i], null when its payload does not read: an index's,
// where it holds that record (a replay has kept them), else read now into
// `read`.
template <class F>
const F* facts_of(std::span<const record::Record> records, size_t i, const PriorIndex* index,
                  std::optional<F>& read) {
  if (index && index->position(records[i].id) == i) return index->facts<F>(records[i]);
  read = read_facts<F>(records[i]);
  return read ? &*read : nullptr;
}

Gathered gather(std::span<const record::Record> records, const state::State& state, const PriorIndex* index) {
  // The state's sets are matched in id order, one pass each.
  std::vector<std::pair<Id, uint32_t>> keyed;  // (id, position), ascending
  for (size_t i = 0; i < records.size(); ++i)
    if (records[i].kind == record::Kind::Candidate || records[i].kind == record::Kind::Selection)
      keyed.emplace_back(records[i].id, static_cast<uint32_t>(i));
  std::sort(keyed.begin(), keyed.end());
  std::vector<Id> ids(keyed.size());
  for (size_t k = 0; k < keyed.size(); ++k) ids[k] = keyed[k].first;
  const auto accepted = membership(ids, state.accepted_records);
  const auto retracted = membership(ids, state.retracted_records);
  const auto tainted = membership(ids, state.tainted_records);
  enum : uint8_t { kAccepted = 1, kRetracted = 2, kTainted = 4 };
  std::vector<uint8_t> flags(records.size(), 0);
  for (size_t k = 0; k < keyed.size(); ++k)
    flags[keyed[k].second] =
        (accepted[k] ? kAccepted : 0) | (retracted[k] ? kRetracted : 0) | (tainted[k] ? kTainted : 0);

  // Payloads are read front to back, then the tables are put in id order; for
  // a repeated id the last record that reads wins.
  std::vector<uint32_t> read_as(records.size(), kNo);
  std::vector<SelInfo> sels;
  std::vector<CandInfo> cands;
  for (size_t i = 0; i < records.size(); ++i) {
    if (!(flags[i] & kAccepted)) continue;
    const record::Record& r = records[i];
    if (r.kind == record::Kind::Candidate) {
      std::optional<CandidateFacts> read;
      const CandidateFacts* d = facts_of(records, i, index, read);
      if (!d) continue;
      cands.emplace_back(CandInfo{cause_targets(r.refs), d->parent, d->basis, (flags[i] & kRetracted) != 0});
      read_as[i] = static_cast<uint32_t>(cands.size() - 1);
    } else {
      std::optional<SelectionFacts> read;
      const SelectionFacts* d = facts_of(records, i, index, read);
      if (!d) continue;
      SelInfo& info = sels.emplace_back();
      if (d->chosen) {
        info.chosen = *d->chosen;
        std::sort(info.chosen.begin(), info.chosen.end());
        info.chosen.erase(std::unique(info.chosen.begin(), info.chosen.end()), info.chosen.end());
      }
      info.replaces = record::first_ref(r.refs, record::RefType::Replace);
      info.withdrawn = (flags[i] & (kRetracted | kTainted)) != 0;
      read_as[i] = static_cast<uint32_t>(sels.size() - 1);
    }
  }
  Gathered g;
  g.sel_ids.reserve(sels.size());
  g.sels.reserve(sels.size());
  g.cand_ids.reserve(cands.size());
  g.cands.reserve(cands.size());
  for (const auto& [id, i] : keyed) {
    if (read_as[i] == kNo) continue;
    const bool candidate = records[i].kind == record::Kind::Candidate;
    auto& table_ids = candidate ? g.cand_ids : g.sel_ids;
    const bool repeated = !table_ids.empty() && table_ids.back() == id;
    if (!repeated) table_ids.push_back(id);
    if (candidate) {
      if (repeated) g.cands.back() = std::move(cands[read_as[i]]);
      else g.cands.push_back(std::move(cands[read_as[i]]));
    } else {
      if (repeated) g.sels.back() = std::move(sels[read_as[i]]);
      else g.sels.push_back(std::move(sels[read_as[i]]));
    }
  }

  // Which continuations cite a withdrawn Selection, matched in id order too.
  std::vector<std::pair<Id, uint32_t>> anchors;
  for (size_t c = 0; c < g.cands.size(); ++c) {
    const CandInfo& info = g.cands[c];
    if (info.basis == CandidateBasis::continuation && info.parent && !info.causes.empty())
      anchors.emplace_back(info.causes.front(), static_cast<uint32_t>(c));
  }
  std::sort(anchors.begin(), anchors.end());
  ids.resize(anchors.size());
  for (size_t k = 0; k < anchors.size(); ++k) ids[k] = anchors[k].first;
  const auto anchor_retracted = membership(ids, state.retracted_records);
  const auto anchor_tainted = membership(ids, state.tainted_records);
  for (size_t k = 0; k < anchors.size(); ++k)
    g.cands[anchors[k].second].anchor_withdrawn = anchor_retracted[k] || anchor_tainted[k];

  // Parent lists by basis, keeping only parents that have a CandInfo.
  for (CandInfo& info : g.cands) {
    if (info.basis == CandidateBasis::continuation && info.parent) {
      info.parent_index = index_in(g.cand_ids, *info.parent);
      if (info.parent_index != kNo) info.parents.push_back(info.parent_index);
    } else if (info.basis == CandidateBasis::derivation) {
      for (const Id& t : info.causes)
        if (uint32_t p = index_in(g.cand_ids, t); p != kNo) info.parents.push_back(p);
    }
  }
  return g;
}

// Which sound Selections supersede a given id: those whose chain of Replace
// refs reaches it in one step or more. Each Selection has at most one Replace
// target, so the graph is a forest of in-trees whose roots are either a node
// without a target or a single cycle. Numbering the nodes by a depth-first walk
// against the Replace direction makes the superseders of any node a contiguous
// range of that numbering: its proper descendants, or its whole component when
// it lies on a cycle. Every question below is then a range query, so nothing
// walks a chain more than once, however long and shared the chains are.
class Supersession {
 public:
  // `asked` (ascending) are the candidates that superseded_choosing is asked about.
  Supersession(const Gathered& g, std::vector<Id> asked);

  // The sound superseders of `id`: a range of sound_in_order().
  std::pair<uint32_t, uint32_t> superseders(const Id& id) const {
    auto [lo, hi] = range_of(id);
    auto first = [&](uint32_t at) {
      return static_cast<uint32_t>(std::lower_bound(sound_at_.begin(), sound_at_.end(), at) - sound_at_.begin());
    };
    return {first(lo), first(hi)};
  }
  // The sound Selections in the order of the numbering.
  std::vector<Id> sound_in_order(const Gathered& g) const {
    std::vector<Id> out;
    out.reserve(sound_at_.size());
    for (uint32_t at : sound_at_) out.push_back(g.sel_ids[order_[at]]);
    return out;
  }

  // Whether a sound superseder of `id` chose `candidate`.
  bool superseded_choosing(const Id& id, const Id& candidate) const;

 private:
  uint32_t node_of(const Id& id) const {
    if (uint32_t s = index_in(*sel_ids_, id); s != kNo) return s;
    if (uint32_t e = index_in(extra_ids_, id); e != kNo) return static_cast<uint32_t>(sel_ids_->size()) + e;
    return kNo;
  }
  std::pair<uint32_t, uint32_t> range_of(const Id& id) const {
    const uint32_t v = node_of(id);
    return v == kNo ? std::pair<uint32_t, uint32_t>{0, 0} : std::pair{lo_[v], hi_[v]};
  }
  void number_from(uint32_t root);

  const std::vector<Id>* sel_ids_;
  std::vector<Id> extra_ids_;  // Replace targets that are no gathered Selection
  std::vector<uint32_t> next_;  // Replace target node, or kNo
  std::vector<uint32_t> child_begin_, children_;  // the reverse edges
  std::vector<uint8_t> on_cycle_;
  std::vector<uint32_t> pos_, lo_, hi_, order_;
  std::vector<uint32_t> sound_at_;  // positions of sound Selections, ascending
  std::vector<Id> asked_;
  std::vector<std::vector<uint32_t>> chosen_at_;  // per asked candidate: positions of its sound choosers
};

Supersession::Supersession(const Gathered& g, std::vector<Id> asked) : sel_ids_(&g.sel_ids), asked_(std::move(asked)) {
  const size_t sels = g.sels.size();
  for (size_t s = 0; s < sels; ++s)
    if (g.sels[s].replaces && index_in(g.sel_ids, *g.sels[s].replaces) == kNo)
      extra_ids_.push_back(*g.sels[s].replaces);
  std::sort(extra_ids_.begin(), extra_ids_.end());
  extra_ids_.erase(std::unique(extra_ids_.begin(), extra_ids_.end()), extra_ids_.end());
  const size_t n = sels + extra_ids_.size();

  next_.assign(n, kNo);
  for (size_t s = 0; s < sels; ++s)
    if (g.sels[s].replaces) next_[s] = node_of(*g.sels[s].replaces);

  child_begin_.assign(n + 1, 0);
  for (size_t v = 0; v < n; ++v)
    if (next_[v] != kNo) ++child_begin_[next_[v] + 1];
  for (size_t v = 0; v < n; ++v) child_begin_[v + 1] += child_begin_[v];
  children_.resize(child_begin_[n]);
  {
    std::vector<uint32_t> fill(child_begin_.begin(), child_begin_.end() - 1);
    for (size_t v = 0; v < n; ++v)
      if (next_[v] != kNo) children_[fill[next_[v]]++] = static_cast<uint32_t>(v);
  }

  // Cycles: follow each unvisited node's chain until it meets a node seen
  // before; if that node is on the current path, the path closes a cycle.
  on_cycle_.assign(n, 0);
  std::vector<std::vector<uint32_t>> cycles;
  {
    std::vector<uint8_t> color(n, 0);  // 0 unseen, 1 on the current path, 2 done
    std::vector<uint32_t> path;
    for (size_t v = 0; v < n; ++v) {
      if (color[v]) continue;
      uint32_t u = static_cast<uint32_t>(v);
      while (u != kNo && color[u] == 0) {
        color[u] = 1;
        path.push_back(u);
        u = next_[u];
      }
      if (u != kNo && color[u] == 1) {
        auto& cycle = cycles.emplace_back();
        uint32_t w = u;
        do {
          on_cycle_[w] = 1;
          cycle.push_back(w);
          w = next_[w];
        } while (w != u);
      }
      for (uint32_t p : path) color[p] = 2;
      path.clear();
    }
  }

  pos_.assign(n, 0);
  lo_.assign(n, 0);
  hi_.assign(n, 0);
  order_.reserve(n);
  for (size_t v = 0; v < n; ++v)
    if (next_[v] == kNo) number_from(static_cast<uint32_t>(v));
  for (const auto& cycle : cycles) {
    const auto begin = static_cast<uint32_t>(order_.size());
    for (uint32_t w : cycle) number_from(w);
    for (uint32_t w : cycle) {
      lo_[w] = begin;
      hi_[w] = static_cast<uint32_t>(order_.size());
    }
  }

  chosen_at_.resize(asked_.size());
  for (uint32_t at = 0; at < order_.size(); ++at) {
    const uint32_t v = order_[at];
    if (v >= sels || g.sels[v].withdrawn) continue;
    sound_at_.push_back(at);
    if (asked_.empty()) continue;
    for (const Id& c : g.sels[v].chosen)
      if (uint32_t k = index_in(asked_, c); k != kNo) chosen_at_[k].push_back(at);
  }
}

// Numbers the tree hanging from `root` (edges from a cycle node into the
// cycle are not followed). A node off the cycles gets its proper descendants
// as its range.
void Supersession::number_from(uint32_t root) {
  std::vector<std::pair<uint32_t, uint32_t>> stack;  // node, next child index
  auto enter = [&](uint32_t v) {
    pos_[v] = static_cast<uint32_t>(order_.size());
    order_.push_back(v);
    stack.emplace_back(v, child_begin_[v]);
  };
  enter(root);
  while (!stack.empty()) {
    auto [v, k] = stack.back();
    if (k < child_begin_[v + 1]) {
      stack.back().second = k + 1;
      const uint32_t c = children_[k];
      if (!on_cycle_[c]) enter(c);
      continue;
    }
    stack.pop_back();
    lo_[v] = pos_[v] + 1;
    hi_[v] = static_cast<uint32_t>(order_.size());
  }
}

bool Supersession::superseded_choosing(const Id& id, const Id& candidate) const {
  const uint32_t k = index_in(asked_, candidate);
  if (k == kNo) return false;
  auto [lo, hi] = range_of(id);
  // Filled in position order, so ascending.
  const auto& at = chosen_at_[k];
  auto it = std::lower_bound(at.begin(), at.end(), lo);
  return it != at.end() && *it < hi;
}

}  // namespace

std::vector<Id> cause_targets(std::span<const record::Ref> refs) {
  return record::targets_of(refs, record::RefType::Cause);
}

Restorations::Restorations(std::initializer_list<std::pair<const Id, base::IdSet>> entries) {
  // By key, and in given order within one key.
  std::vector<const std::pair<const Id, base::IdSet>*> by_key;
  for (const auto& e : entries) by_key.push_back(&e);
  std::sort(by_key.begin(), by_key.end(), [](auto* a, auto* b) {
    return base::IdLess{}(a->first, b->first) || (a->first == b->first && a < b);
  });
  for (size_t i = 0; i < by_key.size(); ++i) {
    if (i > 0 && by_key[i]->first == by_key[i - 1]->first) continue;
    add(by_key[i]->first, std::vector<Id>(by_key[i]->second.begin(), by_key[i]->second.end()));
  }
}

uint64_t Restorations::pairs() const {
  uint64_t n = 0;
  for (const Range& r : ranges_) n += r.end - r.begin;
  return n;
}

void Restorations::sorted_members(const Range& r, std::vector<Id>& out) const {
  out.assign(members_.begin() + r.begin, members_.begin() + r.end);
  std::sort(out.begin(), out.end(), base::IdLess{});
}

std::vector<Id> Restorations::of(const Id& id) const {
  auto it = std::lower_bound(ranges_.begin(), ranges_.end(), id,
                             [](const Range& r, const Id& k) { return base::IdLess{}(r.key, k); });
  std::vector<Id> out;
  if (it != ranges_.end() && it->key == id) sorted_members(*it, out);
  return out;
}

void Restorations::add(const Id& key, std::vector<Id> restorers_ascending) {
  const auto begin = static_cast<uint32_t>(members_.size());
  members_.insert(members_.end(), restorers_ascending.begin(), restorers_ascending.end());
  ranges_.push_back({key, begin, static_cast<uint32_t>(members_.size())});
}

bool Restorations::operator==(const Restorations& o) const {
  if (ranges_.size() != o.ranges_.size()) return false;
  if (members_ == o.members_ && ranges_ == o.ranges_) return true;
  std::vector<Id> mine, theirs;
  for (size_t i = 0; i < ranges_.size(); ++i) {
    const Range &a = ranges_[i], &b = o.ranges_[i];
    if (a.key != b.key || a.end - a.begin != b.end - b.begin) return false;
    sorted_members(a, mine);
    o.sorted_members(b, theirs);
    if (mine != theirs) return false;
  }
  return true;
}

StandingSection derive_standing(std::span<const record::Record> records, const state::State& state) {
  return derive_standing(records, state, nullptr);
}

StandingSection derive_standing(std::span<const record::Record> records, const state::State& state,
                                const PriorIndex* index) {
  Gathered g = gather(records, state, index);

  // Superseders are only ever asked for on behalf of a withdrawn id: an
  // unsound Selection's restorations, or a continuation whose Selection is
  // withdrawn. Without either, no table is built.
  std::vector<Id> asked;
  for (const CandInfo& c : g.cands)
    if (c.anchor_withdrawn) asked.push_back(*c.parent);
  std::sort(asked.begin(), asked.end());
  asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
  const bool any_unsound = std::any_of(g.sels.begin(), g.sels.end(), [](const SelInfo& s) { return s.withdrawn; });
  std::optional<Supersession> supersession;
  if (any_unsound || !asked.empty()) supersession.emplace(g, std::move(asked));

  auto evaluate = [&](const CandInfo& c) {
    switch (c.basis) {
      case CandidateBasis::root:
        return true;
      case CandidateBasis::derivation:
        return std::all_of(c.parents.begin(), c.parents.end(),
                           [&](uint32_t p) { return g.cands[p].memo == Memo::kSound; });
      case CandidateBasis::continuation:
        if (c.causes.empty() || !c.parent || c.parent_index == kNo) return false;
        // Through a withdrawn Selection only when a sound superseder of it
        // chose the same parent.
        if (c.anchor_withdrawn && !supersession->superseded_choosing(c.causes.front(), *c.parent)) return false;
        return g.cands[c.parent_index].memo == Memo::kSound;
    }
    return false;
  };

  // Depth-first over the lineage with an explicit stack of (candidate,
  // expanded). A candidate being expanded is not pushed again, so even a
  // lineage cycle (which no verified log has) cannot loop; such a parent
  // simply has no memo entry when its child is evaluated.
  std::vector<std::pair<uint32_t, bool>> stack;
  for (uint32_t start = 0; start < g.cands.size(); ++start) {
    if (g.cands[start].memo != Memo::kNone) continue;
    stack.emplace_back(start, false);
    while (!stack.empty()) {
      auto [top, expanded] = stack.back();
      CandInfo& c = g.cands[top];
      if (c.memo == Memo::kSound || c.memo == Memo::kUnsound) {
        stack.pop_back();
        continue;
      }
      if (c.retracted) {
        c.memo = Memo::kUnsound;
        stack.pop_back();
        continue;
      }
      if (!expanded) {
        const size_t before = stack.size();
        for (uint32_t p : c.parents)
          if (g.cands[p].memo == Memo::kNone) stack.emplace_back(p, false);
        if (stack.size() != before) {
          stack[before - 1].second = true;
          c.memo = Memo::kInProgress;
          continue;
        }
      }
      c.memo = evaluate(c) ? Memo::kSound : Memo::kUnsound;
      stack.pop_back();
    }
  }

  // The tables are ascending by id, so the ordered results are built by
  // appending.
  StandingSection out;
  for (size_t c = 0; c < g.cands.size(); ++c)
    if (g.cands[c].memo != Memo::kSound) out.compromised.insert(out.compromised.end(), g.cand_ids[c]);
  std::vector<Restorations::Range> ranges;
  for (size_t s = 0; s < g.sels.size(); ++s) {
    if (!g.sels[s].withdrawn) continue;
    const Id& x = g.sel_ids[s];
    out.unsound.insert(out.unsound.end(), x);
    auto [begin, end] = supersession->superseders(x);
    if (begin < end) ranges.push_back({x, begin, end});
  }
  if (!ranges.empty()) out.restorations = Restorations(supersession->sound_in_order(g), std::move(ranges));
  return out;
}

}  // namespace quintrel::verify
