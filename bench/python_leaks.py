"""A check for leaked references and memory in the binding: each call below
runs 100,000 times (after a tenth as many to warm up), and the script reports, per call, the
growth of the process's resident memory, of the number of objects the
collector tracks, and of the reference counts of the argument objects passed
in every time. A leaked reference shows in the last; a leaked object or
buffer in the first two. Commits go to a log on a memory file system where
one is available, so that syncs do not dominate.

    python3 bench/python_leaks.py [--calls N]
"""
import argparse
import gc
import os
import sys
import tempfile

import quintrel

PAGE = os.sysconf("SC_PAGE_SIZE")


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE // 1024


def attempt(fn):
    try:
        fn()
    except (ValueError, TypeError, RuntimeError):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", type=int, default=100_000)
    args = parser.parse_args()
    root = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    rules = quintrel.default_rules({"alice": "user", "bot": "provider"}, admins=["alice"])
    w = quintrel.Writer(os.path.join(root, "log"), rules)
    request = w.request("alice", "x").id
    w.requirement("alice", request, "k", "d")
    receipt = w.receipt(["quintrel-core-v1"])
    author, objective, bad_id, key = "alice", "an objective", "XYZ", "key"
    profiles = ["quintrel-core-v1"]
    signer = {"alice": "ab" * 32}
    report = quintrel.validate(receipt)
    parsed = quintrel.read(receipt)
    record = parsed.records[0]

    cases = {
        "validate": lambda: quintrel.validate(receipt, profiles),
        "read": lambda: quintrel.read(receipt),
        "report getters": lambda: (report.profiles, report.standing, str(report), repr(report), report.head_hash),
        "receipt and record views": lambda: (parsed.records, repr(record), record.refs, record.payload_json),
        "Writer.receipt": lambda: w.receipt(profiles),
        "Writer.records, head, len": lambda: (w.records, w.head, len(w), repr(w)),
        "refused verbs": lambda: (attempt(lambda: w.retract(author, bad_id, objective)),
                                  attempt(lambda: w.requirement(author, bad_id, key, objective)),
                                  attempt(lambda: w.request(bad_id, objective)),
                                  attempt(lambda: w.request(author, 5))),
        "refused Writer()": lambda: (attempt(lambda: quintrel.Writer(root, rules, {"ghost": 1})),
                                     attempt(lambda: quintrel.Writer(root, "{}", signer)),
                                     attempt(lambda: quintrel.Writer(os.path.join(root, "log"), rules, signer))),
        "read of bad bytes": lambda: attempt(lambda: quintrel.read(b"{}")),
        "default_rules": lambda: quintrel.default_rules({"alice": "user"}, admins=[author]),
    }
    watched = (receipt, author, objective, bad_id, key, profiles, rules, signer, report, parsed, record, w)

    def counts():
        return [sys.getrefcount(o) for o in watched]

    def measure(name, fn, calls):
        for _ in range(calls // 10):  # the allocator's pools settle first
            fn()
        gc.collect()
        refs = counts()
        rss, objects = rss_kib(), len(gc.get_objects())
        for _ in range(calls):
            fn()
        gc.collect()
        grown = sum(now - before for now, before in zip(counts(), refs))
        print(f"{name:<28}{calls:>8}{rss_kib() - rss:>16}{len(gc.get_objects()) - objects:>17}{grown:>15}")

    print(f"python {sys.version.split()[0]}")
    print(f"{'call':<28}{'calls':>8}{'RSS growth KiB':>16}{'tracked objects':>17}{'argument refs':>15}")
    for name, fn in cases.items():
        measure(name, fn, args.calls)
    # A commit keeps its record and Verdict in the writer, and 100,000 of them
    # would pass the log's size limit: a quarter as many, against their size.
    before = len(w)
    measure("Writer.request (commits)", lambda: w.request(author, objective), args.calls // 4)
    kept = sum(len(r.payload_json) + 4 * 32 + 64 for r in w.records[before:])
    print(f"(the writer holds {len(w) - before} more records, about {kept // 1024} KiB of payloads and ids)")


if __name__ == "__main__":
    main()
