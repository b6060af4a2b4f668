"""The Python module against the core it binds, side by side in one run.

    python3 bench/python_bench.py [--peer build/bench/python_peer] [--dir DIR] [--rounds N]

The C++ side is bench/peer/python_peer.cc (built with -DQUINTREL_BENCH=ON),
driven line by line so that the two sides take turns on the same files and
the same device. Every figure is a median over repetitions.

1. Commits: Writer.request from Python against the same requests committed
   through the C++ log writer, in turn, on an empty log and on one near the
   64 MiB limit (where a commit that rebuilt its state from the log would
   show). Microseconds per commit; the Python rate over the C++ rate.
2. Validation: validate of the near-limit log's receipt against CPython's
   json.loads of the same bytes. Milliseconds; validate over json.loads.
3. Opening: Writer construction on the near-limit log against one C++ replay
   (verify_log) of its records. Milliseconds; Writer over replay.
4. Verbs: each writing verb from Python against the same call of the core
   Writer from C++ (the same arguments, so the same records), in turn, cycle
   by cycle, from empty logs, with the sync floor beside them. Microseconds
   per call: each side minus the floor, and the binding's own share (Python
   minus C++), whose target is at most 20 us for every verb. On a disk the
   syncs vary by far more than that share from one commit to the next; with
   --dir on a tmpfs (/dev/shm) the floor nearly vanishes and the share shows.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import quintrel

NEAR_LIMIT = (64 << 20) - (2 << 20)


class Peer:
    def __init__(self, path):
        self.process = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def ask(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        answer = self.process.stdout.readline()
        if not answer:
            sys.exit(f"the C++ peer failed on: {line}")
        return answer.strip()

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def objective(i):
    return f"request {i}: " + "x" * 70


def commits(peer, root, name, source, rules_path, rules, rounds, per_round):
    """Per-commit microseconds, Python and C++, committing in turn."""
    py_dir, cpp_dir = (os.path.join(root, f"{name}-{side}") for side in ("py", "cpp"))
    for d in (py_dir, cpp_dir):
        os.makedirs(d)
        if source:
            shutil.copy(source, os.path.join(d, "records.log"))
    writer = quintrel.Writer(py_dir, rules)
    peer.ask(f"open {cpp_dir} {rules_path}")
    py, cpp, n = [], [], 0
    for _ in range(rounds):
        for _ in range(per_round):
            t0 = time.perf_counter()
            writer.request("user", objective(n))
            py.append((time.perf_counter() - t0) * 1e6)
            n += 1
        cpp += [float(t) for t in peer.ask(f"request {per_round}").split()]
    peer.ask("close")
    records = len(writer)
    del writer
    return statistics.median(py), statistics.median(cpp), records


VERBS = ("request", "requirement", "candidate (root, 2 artifacts)", "candidate (derivation)",
         "evaluate (plain)", "evaluate (extended)", "select", "retract")


def cycle(w, i):
    """One call of each verb, as the peer's cycle() makes them; each call's
    time in us, in order."""
    times = []

    def timed(call, *args, **kwargs):
        t0 = time.perf_counter()
        commit = call(*args, **kwargs)
        times.append((time.perf_counter() - t0) * 1e6)
        return commit.id

    tree1, tree2, digest = f"{2 * i:040x}", f"{2 * i + 1:040x}", f"{i:064x}"
    request = timed(w.request, "user", f"objective {i} " + "x" * 64)
    requirement = timed(w.requirement, "user", request, f"key {i}", "the change has tests")
    root = timed(w.candidate, "agent", tree1, note=f"candidate {i}",
                 artifacts=[f"sha256-bytes:{digest}:out.tar", {"scheme": "git-tree-sha1", "digest": tree1}])
    derived = timed(w.candidate, "agent", tree2, derives_from=[root])
    plain = timed(w.evaluate, "agent", root, "tests", passed=True, procedure="make check")
    extended = timed(w.evaluate, "agent", derived, "tests", score=97, scale=2, evaluator="ci", basis="recomputed",
                     requirements=[requirement], artifacts=[f"sha256-bytes:{digest}"])
    timed(w.select, "agent", f"objective {i}", [root, derived], choose=[derived], uses_eval=[plain, extended],
          rationale="the higher score")
    timed(w.retract, "agent", plain, "flaky run")
    return times


def verbs(peer, root, rules_path, rules, rounds, per_round):
    """Per-verb medians in us: Python, C++, and the sync floor of one commit."""
    py_dir, cpp_dir = (os.path.join(root, f"verbs-{side}") for side in ("py", "cpp"))
    writer = quintrel.Writer(py_dir, rules)
    peer.ask(f"wopen {cpp_dir} {rules_path}")
    py, cpp, floor, n = [[] for _ in VERBS], [[] for _ in VERBS], [], 0
    for _ in range(rounds):
        for _ in range(per_round):
            for k, t in enumerate(cycle(writer, n)):
                py[k].append(t)
            for k, t in enumerate(peer.ask(f"cycle {n}").split()):
                cpp[k].append(float(t))
            n += 1
        floor += [float(t) for t in peer.ask(f"floor {per_round}").split()]
    peer.ask("wclose")
    same = [r.id for r in writer.records] == [r.id for r in quintrel.Writer(cpp_dir, rules).records]
    rejected = sum(1 for r in writer.records if r.kind == "Verdict" and '"Reject"' in r.payload_json)
    del writer
    return ([statistics.median(v) for v in py], [statistics.median(v) for v in cpp], statistics.median(floor),
            same, rejected, n)


def alternate(rounds, first, second):
    a, b = [], []
    for _ in range(rounds):
        a.append(first())
        b.append(second())
    return statistics.median(a), statistics.median(b)


def timed_ms(fn):
    t0 = time.perf_counter()
    fn()
    return (time.perf_counter() - t0) * 1e3


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--peer", default="build/bench/python_peer")
    parser.add_argument("--dir", default=os.environ.get("QUINTREL_BENCH_DIR", tempfile.gettempdir()))
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()

    peer = Peer(args.peer)
    root = tempfile.mkdtemp(prefix="quintrel-python-bench-", dir=args.dir)
    try:
        near = os.path.join(root, "near")
        rules = peer.ask(f"generate {near} {NEAR_LIMIT}")
        rules_path = os.path.join(root, "rules.json")
        with open(rules_path, "w") as f:
            f.write(rules)
        log_bytes = os.path.getsize(os.path.join(near, "records.log"))
        print(f"python {sys.version.split()[0]}, quintrel {quintrel.__version__}, files under {args.dir}")
        print(f"near-limit log: {log_bytes / 2**20:.1f} MiB\n")

        print("1. commits of a request (median us per commit; rate ratio = C++ time / Python time)")
        for name, source in (("empty", None), ("near-limit", os.path.join(near, "records.log"))):
            py, cpp, records = commits(peer, root, name, source, rules_path, rules, args.rounds, 20)
            print(f"   {name:<10} ({records:>6} records after)  Python {py:8.1f} us   C++ {cpp:8.1f} us"
                  f"   Python rate / C++ rate {cpp / py:.3f}")

        writer = quintrel.Writer(near, rules)
        receipt = writer.receipt()
        del writer
        print(f"\n2. validate of a {len(receipt) / 2**20:.1f} MiB receipt (median ms)")
        report = quintrel.validate(receipt)
        assert report.is_clean, str(report)
        v, j = alternate(max(3, args.rounds // 2), lambda: timed_ms(lambda: quintrel.validate(receipt)),
                         lambda: timed_ms(lambda: json.loads(receipt)))
        print(f"   validate {v:8.1f} ms   json.loads {j:8.1f} ms   validate / json.loads {v / j:.3f}")

        print(f"\n3. opening the {log_bytes / 2**20:.1f} MiB log (median ms)")

        def construct():
            t0 = time.perf_counter()
            w = quintrel.Writer(near, rules)
            elapsed = (time.perf_counter() - t0) * 1e3
            del w
            return elapsed

        o, r = alternate(args.rounds, construct, lambda: float(peer.ask(f"replay {near} {rules_path}")))
        print(f"   Writer() {o:8.1f} ms   C++ replay {r:8.1f} ms   Writer / replay {o / r:.3f}")

        py, cpp, floor, same, rejected, cycles = verbs(peer, root, rules_path, rules, args.rounds, 10)
        print(f"\n4. verbs from Python against the core Writer from C++ (median us per call over {cycles} cycles;"
              f" sync floor {floor:.1f} us)")
        print(f"   same records on both sides: {same}; rejected by the verifier: {rejected}")
        print(f"   {'verb':<30} {'Python':>9} {'C++':>9} {'Py-floor':>9} {'C++-floor':>9} {'binding':>8}")
        for name, p, c in zip(VERBS, py, cpp):
            print(f"   {name:<30} {p:9.1f} {c:9.1f} {p - floor:9.1f} {c - floor:9.1f} {p - c:8.1f}")
    finally:
        peer.close()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
