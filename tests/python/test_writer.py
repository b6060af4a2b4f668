"""Writer: construction, signers, the lock, head, len, repr, records and receipt."""
import gc
import json
import pathlib

import pytest

import quintrel
from conftest import ROLES, SEED, ZERO, refused, run_on_thread

RULES = quintrel.default_rules(ROLES, admins=["alice"])


def canonical(value):
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()


def alice_signs_with(keys, expected):
    return [(("x", RULES), {"signers": {"alice": key}}, ValueError, f'signer for "alice": {expected}') for key in keys]


@pytest.mark.parametrize("args, kwargs, error, message", [
    ((pathlib.Path("x"), "{}"), {}, TypeError, "Writer() argument 'log_dir' must be str, not PosixPath"),
    (("x", 5), {}, TypeError, "Writer() argument 'rules' must be str, not int"),
    (("x", "{}"), {"signers": []}, TypeError, "Writer() argument 'signers' must be a dict, not list"),
    (("x", "{}"), {"signers": {1: SEED}}, TypeError, "Writer() argument 'signers' key must be str, not int"),
    (("x",), {}, TypeError, "Writer() missing 1 required positional argument: 'rules'"),
    # the rules come before any signer
    (("x", "{}"), {"signers": {"ghost": 5}}, ValueError,
     "invalid rules JSON: missing field `space` at line 1 column 2"),
    (("x", RULES + " x"), {}, ValueError,
     f"invalid rules JSON: trailing characters at line 1 column {len(RULES) + 2}"),
    # a str is only ever hex, never raw bytes
    *alice_signs_with([SEED.upper(), SEED[:32], "\ud800"], "expected 64 hex characters or 32 bytes"),
    *alice_signs_with([bytes(31), list(range(33))], "expected exactly 32 bytes"),
    *alice_signs_with([5, [256] + [0] * 31, ["0"] * 32], "expected a hex string or bytes"),
    # the name is checked before the key, and names in byte order
    (("x", RULES), {"signers": {"zed": 5, "mallory": "bad"}}, ValueError,
     "signer \"mallory\" is not registered in the rules' author_roles"),
])
def test_construction_refusals(tmp_path, args, kwargs, error, message):
    args = (str(tmp_path / args[0]) if isinstance(args[0], str) else args[0],) + args[1:]
    assert refused(lambda: quintrel.Writer(*args, **kwargs), error) == message
    assert not (tmp_path / "x").exists()  # nothing touched


@pytest.mark.parametrize("key", [
    SEED, " \t" + SEED + "\n", "\u3000" + SEED, bytes.fromhex(SEED), bytearray.fromhex(SEED),
    list(bytes.fromhex(SEED)), tuple(bytes.fromhex(SEED)),
])
def test_signer_forms_sign_with_one_key(log_dir, rules, key):
    w = quintrel.Writer(log_dir, rules, signers={"alice": key})
    w.request("alice", "signed"), w.request("bob", "unsigned")
    assert [r.signed for r in w.records] == [True, False, False, False]
    assert json.loads(quintrel.read(w.receipt()).records[0].payload_json)["objective"] == "signed"
    assert quintrel.validate(w.receipt()).is_clean


def test_empty_log_and_first_commit(log_dir, rules):
    w = quintrel.Writer(log_dir + "/nested/deeper", rules)
    assert (len(w), w.head, repr(w), w.records) == (0, ZERO, "Writer(records=0)", [])
    expected = b'{"records":[],"rules":' + canonical(json.loads(rules)) + b',"spec_version":"0.4"}'
    assert w.receipt() == w.receipt(None) == expected
    # no stored objective is a lone surrogate
    assert (w.frontier(), w.selected("x"), w.selected("\ud800")) == (
        {"frontier": []}, {"objective": "x", "selections": []}, {"objective": "\ud800", "selections": []})
    c = w.request("alice", "hello")
    assert w.standing(c.id) == {
        "node": {"id": c.id, "kind": "Request", "retracted": False, "standing": "n/a", "tainted": False},
        "restorations": []}
    records = w.records
    assert [r.kind for r in records] == ["Request", "Verdict"]
    assert records[0].id == c.id and w.head == records[1].id
    assert (len(w), repr(w)) == (2, "Writer(records=2)")
    assert records is not w.records and records[0] is not w.records[0]
    # the views outlive their writer
    receipt, report = w.receipt(), quintrel.validate(w.receipt())
    del w
    assert records[0].id == c.id and report.is_clean and quintrel.read(receipt).records[0].id == c.id


def test_open_refusals(tmp_path, log_dir, rules):
    def opening(path, rules=rules):
        return refused(lambda: quintrel.Writer(path, rules), RuntimeError)

    assert opening(str(tmp_path / "a\x00b")) == "cannot open log: I/O error: path contains a NUL character"
    assert list(tmp_path.iterdir()) == []
    first = quintrel.Writer(log_dir, rules)
    first.request("alice", "x")
    assert opening(log_dir) == "cannot open log: log is already locked by another writer"
    del first
    assert opening(log_dir, quintrel.default_rules({"alice": "provider"})) == (
        "cannot open log: existing log failed replay verification: AuthorRoleInvalid")
    assert len(quintrel.Writer(log_dir, rules)) == 2  # unlocked again, nothing changed


def test_receipt_declarations_and_failed_commits(writer):
    writer.request("alice", "x")
    declared = json.loads(writer.receipt(["quintrel-core-v1"]))
    assert [p["id"] for p in declared["profiles"]] == ["quintrel-core-v1"]
    assert writer.receipt(("quintrel-core-v1",)) == writer.receipt(["quintrel-core-v1"])
    before = writer.receipt()
    for profiles, message in [
        (["nope"], 'unknown profile "nope"'),
        (["quintrel-core-v1", "quintrel-core-v1"], 'profile "quintrel-core-v1" declared more than once'),
    ]:
        assert refused(lambda: writer.receipt(profiles)) == message
    for profiles in ["quintrel-core-v1", [1], {"quintrel-core-v1": 1}]:
        with pytest.raises(TypeError, match="Writer.receipt\\(\\) argument 'profiles'"):
            writer.receipt(profiles)
    assert writer.receipt() == before and len(writer) == 2

    # Arguments are converted before the Writer is borrowed: a sequence whose
    # items commit to the same Writer works, and its records are in the
    # receipt that is being exported.
    class Profiles:
        def __len__(self):
            return len(writer) // 1000 + 1

        def __getitem__(self, i):
            if i >= 1:
                raise IndexError
            writer.request("alice", "from inside")
            return "quintrel-core-v1"

    receipt = json.loads(writer.receipt(Profiles()))
    assert len(receipt["records"]) == 4 and len(writer) == 4

    # a failed commit is raised and writes nothing
    failed = refused(lambda: writer.request("alice", "x" * (64 << 20)), RuntimeError)
    assert failed.startswith("commit failed: log size of ")
    assert failed.endswith(" bytes exceeds configured limit of 67108864 bytes")
    assert len(writer) == 4 and writer.request("alice", "after").accepted


def test_writer_used_or_dropped_on_another_thread(writer, tmp_path, rules, monkeypatch):
    sent = "quintrel::Writer is unsendable, but sent to another thread"
    for call in (lambda: len(writer), lambda: repr(writer), lambda: writer.head, lambda: writer.records,
                 lambda: writer.receipt(), lambda: writer.request("alice", "x"), lambda: writer.frontier()):
        _, error = run_on_thread(call)
        assert not isinstance(error, Exception) and sent in str(error)
    _, error = run_on_thread(lambda: writer.request("alice"))  # arity first
    assert isinstance(error, TypeError)
    assert len(writer) == 0 and writer.request("alice", "mine").accepted

    # dropped there, it keeps its lock
    seen, log_dir = [], str(tmp_path / "dropped")
    gc.collect()
    monkeypatch.setattr("sys.unraisablehook", seen.append)
    holder = [quintrel.Writer(log_dir, rules)]

    def drop():
        del holder[0]

    run_on_thread(drop)
    assert len(seen) == 1 and isinstance(seen[0].exc_value, RuntimeError) and seen[0].object is not None
    assert str(seen[0].exc_value) == "quintrel::Writer is unsendable, but is being dropped on another thread"
    assert refused(lambda: quintrel.Writer(log_dir, rules), RuntimeError) == (
        "cannot open log: log is already locked by another writer")
