// The doc texts of the query methods of `Writer` and `Receipt`: the text
// signature, "--", an empty line, then the docstring. Both classes share all
// but `descent`'s.
#pragma once

namespace quintrel::queries::doc {

inline constexpr char kDescentWriter[] =
    "descent($self, id)\n--\n\n"
    "q1 `descent(id)`: the line of descent from a candidate back to its\n"
    "roots. Returns the shared surface JSON as dicts/lists -\n"
    "byte-for-byte the shapes `Receipt` emits.";

inline constexpr char kDescentReceipt[] =
    "descent($self, id)\n--\n\n"
    "q1 `descent(id)`: the line of descent from a candidate back to its\n"
    "roots. Returns the shared surface JSON as dicts/lists.";

inline constexpr char kDescendants[] =
    "descendants($self, id)\n--\n\n"
    "q2 `descendants(id)`: every candidate whose descent passes through\n"
    "the record, in log order.";

inline constexpr char kSiblings[] =
    "siblings($self, id)\n--\n\n"
    "q3 `siblings(id)`: the candidate's generation (same anchor Selection,\n"
    "or same exact derivation cause set), excluding itself.";

inline constexpr char kFrontier[] =
    "frontier($self)\n--\n\n"
    "q4 `frontier()`: candidates no accepted Selection considered, and\n"
    "chosen candidates with no continuation yet. Nothing is silently\n"
    "filtered; every node carries its annotations.";

inline constexpr char kStanding[] =
    "standing($self, id)\n--\n\n"
    "q5 `standing(id)`: the record's standing, taint, and retraction\n"
    "status, plus any restoring Selection ids.";

inline constexpr char kEvidence[] =
    "evidence($self, id)\n--\n\n"
    "q6 `evidence(id)`: what the record rests on. For a Selection, its own\n"
    "evidence; for a Candidate, the evidence of every anchor Selection\n"
    "along its full descent (unbounded by design).";

inline constexpr char kSelected[] =
    "selected($self, objective)\n--\n\n"
    "q7 `selected(objective)`: the accepted Selected selections whose\n"
    "objective equals the string exactly (no patterns), with chosen\n"
    "candidates and evidence.";

}  // namespace quintrel::queries::doc
