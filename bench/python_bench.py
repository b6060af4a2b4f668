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
    finally:
        peer.close()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
