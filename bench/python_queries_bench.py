"""The query methods from Python on a log near the 64 MiB limit made of
continuation chains (one of 10,000 Candidates, the others of 100).

    python3 bench/python_queries_bench.py [--peer build/bench/python_peer] [--dir DIR] [--rounds N]

The log is written by the C++ peer (bench/peer/python_peer.cc, built with
-DQUINTREL_BENCH=ON) and opened by a Writer. For each of the seven queries:

- first: the first query after a commit, which builds the Writer's query
  index (one replay of the log) before it answers; a request is committed
  before each round, untimed. Milliseconds, median over --rounds.
- repeated: the same query asked again and again of the index that the
  first one built, its argument drawn in turn from 64 ids (or objectives)
  of the short chains, so that no one answer sits in the processor's
  caches. Microseconds, median over 20 passes of the 64.

Then the same repeated queries on the long chain: the descent and the
evidence of its last Candidate, and the descendants of its root.
A call's time includes the conversion of its answer to Python objects.
"""
import argparse
import os
import random
import shutil
import statistics
import sys
import tempfile
import time

import quintrel
from python_bench import NEAR_LIMIT, Peer

BY_ID = ("descent", "descendants", "siblings", "standing", "evidence")


def timed(call):
    t0 = time.perf_counter()
    call()
    return time.perf_counter() - t0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--peer", default="build/bench/python_peer")
    parser.add_argument("--dir", default=os.environ.get("QUINTREL_BENCH_DIR", tempfile.gettempdir()))
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    peer = Peer(args.peer)
    root = tempfile.mkdtemp(prefix="quintrel-queries-bench-", dir=args.dir)
    try:
        log_dir = os.path.join(root, "log")
        rules = peer.ask(f"chains {log_dir} {NEAR_LIMIT}")
        peer.close()
        log_bytes = os.path.getsize(os.path.join(log_dir, "records.log"))
        t0 = time.perf_counter()
        w = quintrel.Writer(log_dir, rules)
        opened = time.perf_counter() - t0
        records = w.records
        candidates = [r.id for r in records if r.kind == "Candidate"]
        long_chain, short = candidates[:10000], candidates[10000:]
        objectives = sorted({f"short {i}" for i in range(len(short) // 100)})
        subjects = [r.id for r in records if r.kind != "Verdict"]
        del records
        print(f"python {sys.version.split()[0]}, quintrel {quintrel.__version__}, files under {args.dir}")
        print(f"log: {log_bytes / 2**20:.1f} MiB, {len(w)} records, {len(short) // 100} chains of 100 "
              f"and one of {len(long_chain)}; Writer() {opened * 1e3:.0f} ms\n")

        rng = random.Random(19)
        inputs = {q: rng.sample(short, 64) for q in BY_ID}
        inputs["standing"] = rng.sample(subjects, 64)
        inputs["selected"] = [rng.choice(objectives) for _ in range(64)]
        inputs["frontier"] = [None] * 64

        def call(query, arg):
            method = getattr(w, query)
            return (lambda: method()) if arg is None else (lambda: method(arg))

        print(f"{'query':<12} {'first (ms)':>11} {'repeated (us)':>14}")
        for query in ("descent", "descendants", "siblings", "frontier", "standing", "evidence", "selected"):
            first = []
            for n in range(args.rounds):
                w.request("user", f"between rounds {query} {n}")  # drops the index
                first.append(timed(call(query, rng.choice(inputs[query]))) * 1e3)
            repeated = [timed(call(query, a)) * 1e6 for _ in range(20) for a in inputs[query]]
            print(f"{query:<12} {statistics.median(first):11.1f} {statistics.median(repeated):14.1f}")

        print("\nthe long chain, repeated (us)")
        for query, arg, what in (("descent", long_chain[-1], "descent of its last Candidate"),
                                 ("evidence", long_chain[-1], "evidence of its last Candidate"),
                                 ("descendants", long_chain[0], "descendants of its root")):
            call(query, arg)()
            times = [timed(call(query, arg)) * 1e6 for _ in range(max(5, args.rounds))]
            print(f"   {what:<32} {statistics.median(times):10.1f}")
        del w
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
