"""A whole workflow from Python, and a log that survives its writer being killed."""
import hashlib
import json
import os
import signal
import subprocess
import sys

import quintrel

CORE_HASH = "651c26e3d5e90f27991c4e9191ac54f0928d70cc9c408d6a4e42e1a6a8e4350e"


def head_hash(records):
    return hashlib.sha256(b"".join(bytes.fromhex(r.id) for r in records)).hexdigest()


def rules_hash(rules):
    canonical = json.dumps(json.loads(rules), sort_keys=True, separators=(",", ":")).encode()
    return hashlib.sha256(canonical).hexdigest()


def expected_text(status, records, rules, retracted=()):
    lines = [
        f"status:          {status.upper()}",
        "spec version:    0.4",
        f"records:         {len(records)}",
        f"checked:         {len(records)}",
        f"last time:       {len(records)}",
        f"head hash:       {head_hash(records)}",
        f"rules hash:      {rules_hash(rules)}",
    ]
    if retracted:
        lines += [f"retracted ({len(retracted)}):"] + [f"  {i}" for i in sorted(retracted)]
    lines += [
        "profile quintrel-core-v1: CONFORMANT (declared, declaration matches)",
        f"  hash:          {CORE_HASH}",
        f"  ok   B1: status {status}",
        "  ok   B2: 2 registered author role(s)",
        "  ok   B3: Candidate=Reported, Evaluation=Reported, Selection=Inferred",
        "  ok   B4: max_context_records 200",
        "  ok   B5: admin_retraction_actors [alice], reaffirmation_actors []",
        "  ok   B6: candidates: 0 manifest-bound, 0 reported",
    ]
    return "".join(line + "\n" for line in lines)


def test_request_requirements_retraction_and_receipts(log_dir):
    rules = quintrel.default_rules({"alice": "user", "bot": "provider"}, admins=["alice"])
    w = quintrel.Writer(log_dir, rules)
    request = w.request("alice", "ship the parser")
    tests = w.requirement("alice", request.id, "tests", "the parser has tests")
    docs = w.requirement("bot", request.id, "docs", "the parser is documented", required=False)
    assert request.accepted and tests.accepted and docs.accepted
    del w

    w = quintrel.Writer(log_dir, rules)
    assert len(w) == 6
    clean = w.receipt(["quintrel-core-v1"])
    report = quintrel.validate(clean)
    assert (report.status, report.is_clean, report.reason, report.problem) == ("clean", True, None, None)
    assert str(report) == expected_text("Clean", w.records, rules)

    assert w.retract("alice", request.id, "the parser was never asked for").accepted
    tainted = w.receipt(["quintrel-core-v1"])
    receipt = quintrel.read(tainted)
    assert [r.id for r in receipt.records] == [r.id for r in w.records] and len(receipt) == 8
    report = quintrel.validate(tainted)
    assert (report.status, report.retracted, report.tainted) == ("tainted", [request.id], [])
    assert str(report) == expected_text("Tainted", w.records, rules, retracted=[request.id])
    assert repr(report) == 'Report(status="tainted", records=8, spec_version="0.4")'
    # the earlier receipt is unchanged by what came later
    assert quintrel.validate(clean).is_clean


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
        child = subprocess.Popen([sys.executable, "-c", CHILD, log_dir, rules], stdout=subprocess.PIPE,
                                 env=dict(os.environ), text=True)
        for _ in range(25):
            printed.append(child.stdout.readline().strip())
        child.send_signal(signal.SIGKILL)
        child.wait()
        child.stdout.close()
        w = quintrel.Writer(log_dir, rules)
        ids = {r.id for r in w.records}
        assert all(i in ids for i in printed)
        assert quintrel.validate(w.receipt()).is_clean
        assert w.records[-1].kind == "Verdict"
        del w
