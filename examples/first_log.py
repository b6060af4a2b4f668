"""Opens a log, commits a request and a requirement under it, a candidate, an
evaluation of it against the requirement and a selection of it, exports the
log as a receipt, validates the receipt and prints the report.

    python3 examples/first_log.py [LOG_DIR]

Without LOG_DIR the log goes to a new temporary directory.
"""
import sys
import tempfile

import quintrel

log_dir = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="quintrel-example-")
rules = quintrel.default_rules({"alice": "user", "agent": "provider"}, admins=["alice"])
writer = quintrel.Writer(log_dir, rules)

request = writer.request("alice", "parse the configuration file")
requirement = writer.requirement("alice", request.id, "tests", "the parser has tests")
candidate = writer.candidate("agent", "4b825dc642cb6eb9a060e54bf8d69288fbee4904", note="a first parser")
evaluation = writer.evaluate("agent", candidate.id, "tests", passed=True, evaluator="ci", basis="recomputed",
                             requirements=[requirement.id])
selection = writer.select("alice", "parse the configuration file", [candidate.id], choose=[candidate.id],
                          uses_eval=[evaluation.id], rationale="its tests pass")
for name, commit in [("request", request), ("requirement", requirement), ("candidate", candidate),
                     ("evaluation", evaluation), ("selection", selection)]:
    print(f"{name:<12} {commit.id} accepted={commit.accepted}")

receipt = writer.receipt(["quintrel-core-v1"])
report = quintrel.validate(receipt)
print(f"\nreceipt of {len(writer)} records ({len(receipt)} bytes) in {log_dir}:\n")
print(report, end="")
