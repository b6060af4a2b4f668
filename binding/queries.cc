// The seven named queries, as methods of Writer and of Receipt: the same
// names, arguments and answers on both. Each answers from the object's query
// index (built by its first query, dropped by a Writer's commit) and returns
// the report's value tree as plain Python objects.
#include "call.h"  // first: Python.h comes before the standard headers

namespace quintrel::py {

namespace {

using queries::Queries;
using writer::Refusal;
using Index = std::expected<Queries, queries::QueryError>;

struct IdArgs {
  std::string id;
};
struct ObjectiveArgs {
  std::string objective;
};
struct NoArgs {};

const Index& index_of(const writer::Writer& w) { return w.queries(); }
const Index& index_of(const ReceiptValue& v) { return v.index.get(v.receipt.records, v.receipt.rules); }

// Runs on the index while the Writer is borrowed: the value tree it returns
// owns everything, so no Python code runs until the borrow is released.
template <class Owner, class Ask>
writer::Result<base::Json> answer(const Owner& owner, Ask ask) {
  const Index& index = index_of(owner);
  if (!index) return std::unexpected(Refusal::value(index.error().to_string()));
  auto report = ask(*index);
  if constexpr (requires { report.error(); }) {
    auto value = queries::to_value(report);
    if (!value) return std::unexpected(Refusal::value(std::move(value.error())));
    return std::move(*value);
  } else {
    return queries::to_value(report);
  }
}

template <class Owner, auto Query>
writer::Result<base::Json> by_id(const Owner& owner, IdArgs args) {
  // Parsed before anything is replayed.
  auto id = writer::parse_id(args.id);
  if (!id) return std::unexpected(std::move(id.error()));
  return answer(owner, [&](const Queries& q) { return std::invoke(Query, q, *id); });
}

template <class Owner>
writer::Result<base::Json> frontier(const Owner& owner, NoArgs) {
  return answer(owner, [](const Queries& q) { return q.frontier(); });
}

template <class Owner>
writer::Result<base::Json> selected(const Owner& owner, ObjectiveArgs args) {
  return answer(owner, [&](const Queries& q) { return q.selected(args.objective); });
}

constexpr char kWriter[] = "Writer";
constexpr char kReceipt[] = "Receipt";

constexpr char kDescent[] = "descent";
constexpr char kDescendants[] = "descendants";
constexpr char kSiblings[] = "siblings";
constexpr char kFrontier[] = "frontier";
constexpr char kStanding[] = "standing";
constexpr char kEvidence[] = "evidence";
constexpr char kSelected[] = "selected";

constexpr char kDescentOfWriter[] =
    "q1 `descent(id)`: the line of descent from a candidate back to its\n"
    "roots. Returns the shared surface JSON as dicts/lists -\n"
    "byte-for-byte the shapes `Receipt` emits.";
constexpr char kDescentOfReceipt[] =
    "q1 `descent(id)`: the line of descent from a candidate back to its\n"
    "roots. Returns the shared surface JSON as dicts/lists.";
constexpr char kDescendantsDoc[] =
    "q2 `descendants(id)`: every candidate whose descent passes through\n"
    "the record, in log order.";
constexpr char kSiblingsDoc[] =
    "q3 `siblings(id)`: the candidate's generation (same anchor Selection,\n"
    "or same exact derivation cause set), excluding itself.";
constexpr char kFrontierDoc[] =
    "q4 `frontier()`: candidates no accepted Selection considered, and\n"
    "chosen candidates with no continuation yet. Nothing is silently\n"
    "filtered; every node carries its annotations.";
constexpr char kStandingDoc[] =
    "q5 `standing(id)`: the record's standing, taint, and retraction\n"
    "status, plus any restoring Selection ids.";
constexpr char kEvidenceDoc[] =
    "q6 `evidence(id)`: what the record rests on. For a Selection, its own\n"
    "evidence; for a Candidate, the evidence of every anchor Selection\n"
    "along its full descent (unbounded by design).";
constexpr char kSelectedDoc[] =
    "q7 `selected(objective)`: the accepted Selected selections whose\n"
    "objective equals the string exactly (no patterns), with chosen\n"
    "candidates and evidence.";

template <const char* kOwner, const char* kName, const char* kDoc>
const Params<IdArgs>& id_params() {
  static const Params<IdArgs> table(kName, Shape::kMethod, kOwner, {arg<&IdArgs::id, Surrogates::kKept>("id")}, kDoc);
  return table;
}

template <const char* kOwner>
const Params<NoArgs>& frontier_params() {
  static const Params<NoArgs> table(kFrontier, Shape::kMethod, kOwner, {}, kFrontierDoc);
  return table;
}

template <const char* kOwner>
const Params<ObjectiveArgs>& selected_params() {
  static const Params<ObjectiveArgs> table(kSelected, Shape::kMethod, kOwner,
                                           {arg<&ObjectiveArgs::objective, Surrogates::kKept>("objective")},
                                           kSelectedDoc);
  return table;
}

// A Writer's queries share its borrow; a Receipt's take none.
template <class Owner, class A, const Params<A>& (*Table)(), auto Body>
PyMethodDef method() {
  if constexpr (std::is_same_v<Owner, writer::Writer>)
    return writer_method<A, Table, Access::kShared, Body>();
  else
    return view_method<Owner, A, Table, Body>();
}

template <class Owner, const char* kOwner, const char* kDescentDoc>
std::vector<PyMethodDef> query_methods() {
  return {
      method<Owner, IdArgs, id_params<kOwner, kDescent, kDescentDoc>, by_id<Owner, &Queries::descent>>(),
      method<Owner, IdArgs, id_params<kOwner, kDescendants, kDescendantsDoc>, by_id<Owner, &Queries::descendants>>(),
      method<Owner, IdArgs, id_params<kOwner, kSiblings, kSiblingsDoc>, by_id<Owner, &Queries::siblings>>(),
      method<Owner, NoArgs, frontier_params<kOwner>, frontier<Owner>>(),
      method<Owner, IdArgs, id_params<kOwner, kStanding, kStandingDoc>, by_id<Owner, &Queries::standing>>(),
      method<Owner, IdArgs, id_params<kOwner, kEvidence, kEvidenceDoc>, by_id<Owner, &Queries::evidence>>(),
      method<Owner, ObjectiveArgs, selected_params<kOwner>, selected<Owner>>(),
  };
}

}  // namespace

std::vector<PyMethodDef> writer_queries() { return query_methods<writer::Writer, kWriter, kDescentOfWriter>(); }

std::vector<PyMethodDef> receipt_queries() { return query_methods<ReceiptValue, kReceipt, kDescentOfReceipt>(); }

}  // namespace quintrel::py
