import gc
import threading

import pytest

import quintrel

ZERO = "0" * 64
MISSING = "ab" * 32  # well formed, names no record
SEED = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60"


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
def writer(log_dir, rules):
    return quintrel.Writer(log_dir, rules)
