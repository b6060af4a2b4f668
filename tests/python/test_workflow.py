"""Whole workflows from Python: a receipt declaring the three profiles read as
values and as text, the standing of a lineage, evidence shared by many claims,
and a log that survives its writer being killed."""
import hashlib
import json
import signal
import subprocess
import sys

import quintrel
from conftest import SEED, SEED_KEY

PROFILES = ["quintrel-core-v1", "quintrel-core-signed-v1", "delivery-receipt-v1"]


def clauses(status):
    """The declared profiles' clauses, as (id, passed, detail), over the log of the first test."""
    return {
        "quintrel-core-v1": [
            ("B1", True, f"status {status}"),
            ("B2", True, "2 registered author role(s)"),
            ("B3", True, "Candidate=Reported, Evaluation=Reported, Selection=Inferred"),
            ("B4", True, "max_context_records 200"),
            ("B5", True, "admin_retraction_actors [alice], reaffirmation_actors []"),
            ("B6", True, "candidates: 0 manifest-bound, 0 reported"),
        ],
        "quintrel-core-signed-v1": [
            ("S0", True, "quintrel-core-v1: Conformant (declared, declaration matches)"),
            ("S1", True, "signatures required for Candidate, Evaluation, Selection, Retraction, Requirement"),
            ("S2", True, "1 pinned author(s) of evolution records: [alice]"),
            ("S3", True, "0 evaluation(s) used by selections, all attested"),
        ],
        "delivery-receipt-v1": [
            ("D0", False, "no delivery claim: no accepted Selected selection whose used evaluations bind to "
                          "requirements of exactly one request"),
        ] + [(f"D{n}", False, "no claim to evaluate") for n in range(1, 8)],
    }


def expected(status, receipt, records, rules, retracted=()):
    """The report's profiles and text, worked out here; the profiles' hashes
    are those the receipt declares (the C++ tests pin them)."""
    canonical_rules = json.dumps(json.loads(rules), sort_keys=True, separators=(",", ":")).encode()
    lines = [
        f"status:          {status.upper()}",
        "spec version:    0.4",
        f"records:         {len(records)}",
        f"checked:         {len(records)}",
        f"last time:       {len(records)}",
        "head hash:       " + hashlib.sha256(b"".join(bytes.fromhex(r.id) for r in records)).hexdigest(),
        "rules hash:      " + hashlib.sha256(canonical_rules).hexdigest(),
    ]
    if retracted:
        lines += [f"retracted ({len(retracted)}):"] + [f"  {i}" for i in sorted(retracted)]
    profiles = []
    for declared in json.loads(receipt)["profiles"]:
        name, table_hash, rows = declared["id"], bytes(declared["hash"]).hex(), clauses(status)[declared["id"]]
        met = all(passed for _, passed, _ in rows)
        profiles.append({"id": name, "hash": table_hash, "status": "Conformant" if met else "NonConformant",
                         "declared": True, "declaration_matches": True, "met": met,
                         "clauses": [{"id": i, "passed": p, "detail": d} for i, p, d in rows]})
        lines += [f"profile {name}: {'' if met else 'NON-'}CONFORMANT (declared, declaration matches)",
                  f"  hash:          {table_hash}"] + [f"  {'ok  ' if p else 'FAIL'} {i}: {d}" for i, p, d in rows]
    return profiles, "".join(line + "\n" for line in lines)


def test_a_reopened_log_retracted_and_its_receipts(log_dir):
    rules = quintrel.default_rules({"alice": "user", "bob": "user"}, admins=["alice"], signed=True,
                                   author_keys={"alice": [SEED_KEY]})
    w = quintrel.Writer(log_dir, rules, {"alice": SEED})
    request = w.request("alice", "ship the parser")
    assert request.accepted and w.requirement("alice", request.id, "tests", "the parser has tests").accepted
    assert w.requirement("bob", request.id, "docs", "unsigned, so rejected").reason == "SignatureMissing"
    del w

    w = quintrel.Writer(log_dir, rules, {"alice": SEED})
    assert len(w) == 6
    clean = w.receipt(PROFILES)
    report = quintrel.validate(clean)
    assert (report.status, report.is_clean, report.reason, report.problem) == ("clean", True, None, None)
    assert (report.profiles, str(report)) == expected("Clean", clean, w.records, rules)

    assert w.retract("alice", request.id, "the parser was never asked for").accepted
    tainted = w.receipt(PROFILES)
    report = quintrel.validate(tainted)
    assert (report.status, report.retracted, report.tainted) == ("tainted", [request.id], [])
    assert (report.profiles, str(report)) == expected("Tainted", tainted, w.records, rules, [request.id])
    assert repr(report) == 'Report(status="tainted", records=8, spec_version="0.4")'
    # the earlier receipt is unchanged by what came later
    assert quintrel.validate(clean).is_clean


def test_standing_follows_the_lineage(writer):
    def accepted(commit):
        assert commit.accepted, commit
        return commit.id

    root = accepted(writer.candidate("bot", f"{1:040x}"))
    eval_root = accepted(writer.evaluate("bot", root, "tests", passed=True))
    first = accepted(writer.select("alice", "ship", [root], choose=[root], uses_eval=[eval_root]))
    left = accepted(writer.candidate("bot", f"{2:040x}", continues=first, parent=root))
    right = accepted(writer.candidate("bot", f"{3:040x}", continues=first, parent=root))
    evals = [accepted(writer.evaluate("bot", c, "tests", score=9, scale=1)) for c in (left, right)]
    merged = accepted(writer.candidate("bot", f"{4:040x}", derives_from=[left, right]))
    upgraded = accepted(writer.candidate("bot", f"{4:040x}", upgrades=merged, note="same tree, new toolchain"))
    eval_upgraded = accepted(writer.evaluate("bot", upgraded, "tests", passed=True))
    final = accepted(writer.select("alice", "merge", [left, right, merged, upgraded], choose=[upgraded],
                                   uses_eval=evals + [eval_upgraded]))
    report = quintrel.validate(writer.receipt(["quintrel-core-v1"]))
    assert (report.is_clean, report.standing) == (True, {"compromised": [], "unsound": [], "restorations": {}})

    assert accepted(writer.retract("bot", root, "the root was built from the wrong tree"))
    # the first selection chose the root and is withdrawn with it; a
    # reaffirmation of its objective restores it, but chooses another parent
    again = accepted(writer.select("alice", "ship", [root], none=True, replaces=first))
    report = quintrel.validate(writer.receipt(["quintrel-core-v1"]))
    # what Uses or Requires the root is tainted
    assert (report.status, report.retracted, report.tainted) == ("tainted", [root], sorted([eval_root, first]))
    # the continuations rest on the root as their parent, and what derives
    # from them on them; the last selection stands: it chose a candidate, not
    # a lineage
    assert report.standing == {
        "compromised": sorted([root, left, right, merged, upgraded]),
        "unsound": [first],
        "restorations": {first: [again]},
    }
    assert final not in report.standing["unsound"] and report.profiles[0]["met"] is True


def artifacts(numbers):
    return [f"sha256-bytes:{hashlib.sha256(str(n).encode()).hexdigest()}" for n in numbers]


def shared_evaluation(w, carried, cited, claims):
    """A candidate carrying `carried`, an evaluation of it bound to no
    requirement citing `cited`, and `claims` requests, each with a required
    requirement, an evaluation of its own bound to it citing the first carried
    artifact, and a selection of the candidate using both."""
    bound = dict(passed=True, evaluator="ci", basis="recomputed", procedure_hash=SEED_KEY, input_hash=SEED_KEY)
    c = w.candidate("bot", "a" * 40, artifacts=artifacts(carried)).id
    shared = w.evaluate("sys", c, "build", artifacts=artifacts(cited), **bound).id
    selections = []
    for i in range(claims):
        q = w.requirement("alice", w.request("alice", f"release {i}").id, "tests", "the tests pass").id
        own = w.evaluate("sys", c, "tests", requirements=[q], artifacts=artifacts(carried[:1]), **bound).id
        selections.append(w.select("alice", "ship", [c], choose=[c], uses_eval=[shared, own]).id)
    receipt = w.receipt()
    return receipt, quintrel.validate(receipt, "delivery-receipt-v1"), shared, selections


def test_evidence_shared_by_many_claims(tmp_path, rules):
    """Whether an evaluation's evidence is on the record is worked out once
    for all the claims that share it: a sound receipt passes however many
    citations its claims repeat; a failing one lists a bounded number of its
    citations per claim and counts the rest."""
    _, sound, _, _ = shared_evaluation(quintrel.Writer(str(tmp_path / "a"), rules), range(5000), range(5000), 16)
    assert sound.profiles[0]["status"] == "Conformant"
    receipt, crafted, e, (s, *_) = shared_evaluation(
        quintrel.Writer(str(tmp_path / "b"), rules), range(1), range(1, 2001), 6)
    d3 = crafted.profiles[0]["clauses"][3]
    cites = [f"{e[:12]} cites {a} which is not on the record" for a in sorted(artifacts(range(1, 2001)))[:4]]
    part = f"{s[:12]}: " + "; ".join(cites + [f"{e[:12]} cites 1996 more artifact(s) which are not on the record"])
    assert not d3["passed"] and d3["detail"].startswith(part + "; ")
    assert len(str(crafted)) < len(receipt) / 4


CHILD = """
import sys, quintrel
w = quintrel.Writer(sys.argv[1], sys.argv[2])
i = 0
while True:
    print(w.request("alice", "request %d" % i).id, flush=True)
    i += 1
"""


def test_commits_survive_a_killed_writer(log_dir):
    rules = quintrel.default_rules({"alice": "user"})
    printed = []
    for _ in range(3):
        child = subprocess.Popen([sys.executable, "-c", CHILD, log_dir, rules], stdout=subprocess.PIPE, text=True)
        printed += [child.stdout.readline().strip() for _ in range(25)]
        child.send_signal(signal.SIGKILL)
        child.wait()
        child.stdout.close()
        w = quintrel.Writer(log_dir, rules)
        assert set(printed) <= {r.id for r in w.records}
        assert quintrel.validate(w.receipt()).is_clean and w.records[-1].kind == "Verdict"
        del w
