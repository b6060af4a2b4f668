import gc
import json
import threading

import pytest

import quintrel

ZERO = "0" * 64
MISSING = "ab" * 32  # well formed, names no record
SEED = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60"
SEED_KEY = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a"  # the public key of SEED
TREE = "a" * 40


def refused(call, error=ValueError):
    """The text of the exception the call raises."""
    with pytest.raises(error) as e:
        call()
    return str(e.value)


def record_of(writer, commit_id):
    (record,) = [r for r in writer.records if r.id == commit_id]
    return record


def payload(writer, commit_id):
    return json.loads(record_of(writer, commit_id).payload_json)


def refs_of(writer, commit_id):
    return [(r["type"], r["target"]) for r in record_of(writer, commit_id).refs]


def ints(hex_id):
    """An id as a canonical payload writes it: an array of its bytes."""
    return "[" + ",".join(str(b) for b in bytes.fromhex(hex_id)) + "]"


def fill(value, ids):
    """A row's texts (or lists of them) with `{name}` filled from ids."""
    if isinstance(value, list):
        return [fill(v, ids) for v in value]
    return value.format(**ids) if isinstance(value, str) else value


def run_on_thread(fn):
    """Runs fn on a new thread; returns (result, exception)."""
    out = {}

    def run():
        try:
            out["result"] = fn()
        except BaseException as e:  # the panic exception is a BaseException
            # Without its traceback: the thread's frame would keep `fn` and
            # what it holds in a cycle, which the collector might then free
            # on any thread.
            out["error"] = e.with_traceback(None)

    t = threading.Thread(target=run)
    t.start()
    t.join()
    return out.get("result"), out.get("error")


@pytest.fixture(autouse=True)
def collect_cycles():
    """Frees what a test left in reference cycles (a raised exception's
    frames holding a Writer, say) here, on the Writer's own thread, rather
    than wherever the collector next happens to run."""
    yield
    gc.collect()


ROLES = {"alice": "user", "bob": "user", "bot": "provider", "sys": "system",
         "exec": "executor", "judge": "verifier"}


@pytest.fixture
def rules():
    return quintrel.default_rules(ROLES, admins=["alice"])


@pytest.fixture
def log_dir(tmp_path):
    return str(tmp_path / "log")


@pytest.fixture
def writer(log_dir):
    """Bot signs, with its key pinned, so that its attested evaluations verify."""
    rules = quintrel.default_rules(ROLES, admins=["alice"], author_keys={"bot": [SEED_KEY]})
    return quintrel.Writer(log_dir, rules, {"bot": SEED})


@pytest.fixture
def ids(writer):
    """Bot's candidates `cand` and `cand2`, an evaluation `eval` and a selection
    `sel` of the first, a rejected candidate, and a request `req` with two
    requirements `lo` < `hi`; `smaller` is the smaller of `hi` and `cand`."""
    out = {"cand": writer.candidate("bot", TREE).id, "cand2": writer.candidate("bot", "b" * 40).id}
    out["eval"] = writer.evaluate("bot", out["cand"], "tests", passed=True).id
    out["sel"] = writer.select("alice", "ship", [out["cand"]], choose=[out["cand"]], uses_eval=[out["eval"]]).id
    rejected = writer.candidate("judge", TREE)
    assert not rejected.accepted
    out["rejected"], out["req"] = rejected.id, writer.request("alice", "ship").id
    out["lo"], out["hi"] = sorted(writer.requirement("alice", out["req"], key, "d").id for key in ("k1", "k2"))
    return dict(out, smaller=min(out["hi"], out["cand"]), CAND=out["cand"].upper())
