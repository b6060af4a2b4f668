"""Opens a log, commits a request and a requirement under it, exports the log
as a receipt, validates the receipt and prints the report.

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
print(f"request      {request.id} accepted={request.accepted}")
print(f"requirement  {requirement.id} accepted={requirement.accepted}")

receipt = writer.receipt(["quintrel-core-v1"])
report = quintrel.validate(receipt)
print(f"\nreceipt of {len(writer)} records ({len(receipt)} bytes) in {log_dir}:\n")
print(report, end="")
