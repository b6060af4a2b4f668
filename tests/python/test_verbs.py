"""request, retract and requirement: refusals in check order, payloads, rejections."""
import hashlib
import json

import pytest

from conftest import MISSING, record_of, refs_of, refused

SPACE = list(hashlib.sha256(b"quintrel.default_space.v1").digest())
NOT_REGISTERED = "author {} is not registered in the rules' author_roles"
NOT_ACCEPTED = "request {} is not an accepted Request in this log"
EMPTY = "key and description must be non-empty"
BOUND = "provenance {} cannot be authored by {} (role {}): provenance is bound to the author's role"
INVALID = "invalid provenance {} (expected user_authored or derived)"


def payload(writer, commit_id):
    return json.loads(record_of(writer, commit_id).payload_json)


@pytest.fixture
def request_id(writer):
    return writer.request("alice", "build it").id


# (call, message); `req` is an accepted Request's id. Rows that fail two
# checks at once pin which comes first.
VALUE_ROWS = [
    (lambda w, req: w.request("Alice", "x"), NOT_REGISTERED.format('"Alice"')),
    (lambda w, req: w.retract("mallory", "XYZ", "r"), NOT_REGISTERED.format('"mallory"')),
    (lambda w, req: w.retract("alice", "bad\ud800", "r"), 'invalid record id "bad\\u{d800}"'),
    (lambda w, req: w.requirement("mallory", "bad", "", ""), NOT_REGISTERED.format('"mallory"')),
    (lambda w, req: w.requirement("exec", "bad", "", ""), 'invalid record id "bad"'),
    (lambda w, req: w.requirement("exec", MISSING, "", ""), NOT_ACCEPTED.format(f'"{MISSING}"')),
    (lambda w, req: w.requirement("exec", req, "", "d"), EMPTY),
    (lambda w, req: w.requirement("alice", req, "k", ""), EMPTY),
    (lambda w, req: w.requirement("exec", req, "k", "d", provenance="nonsense"),
     'author "exec" has role Executor, which cannot author a Requirement'),
    (lambda w, req: w.requirement("sys", req, "k", "d", provenance="user-authored"),
     BOUND.format('"user_authored"', '"sys"', "System")),
    (lambda w, req: w.requirement("alice", req, "k", "d", provenance="derived"),
     BOUND.format('"derived"', '"alice"', "User")),
    (lambda w, req: w.requirement("alice", req, "k", "d", provenance="Derived"), INVALID.format('"Derived"')),
    (lambda w, req: w.request("alice"), "Writer.request() missing 1 required positional argument: 'objective'"),
    (lambda w, req: w.requirement("alice", "r", "k", "d", True),
     "Writer.requirement() takes exactly 4 positional arguments but 5 were given"),
    # conversion, in signature order, comes before every value check
    (lambda w, req: w.request("mallory", objective=5), "Writer.request() argument 'objective' must be str, not int"),
    (lambda w, req: w.requirement("mallory", "bad", "", "", required=1),
     "Writer.requirement() argument 'required' must be bool, not int"),
    (lambda w, req: w.requirement("alice", "bad", "k", "d", expected_evidence=1, provenance=2),
     "Writer.requirement() argument 'expected_evidence' must be str, not int"),
]


@pytest.mark.parametrize("call, message", VALUE_ROWS)
def test_refusals_write_nothing(writer, request_id, call, message):
    before = writer.receipt()
    error = TypeError if message.startswith("Writer.") else ValueError
    assert refused(lambda: call(writer, request_id), error) == message
    assert writer.receipt() == before


def test_request_payload_rejection_and_retractions(writer):
    c = writer.request("alice", "")  # an empty objective is passed on
    assert payload(writer, c.id) == {"attachments": [], "objective": "", "parent_request_id": None, "scope": SPACE}
    rejected = writer.request("bot", "a provider may not request")
    assert (rejected.accepted, rejected.result, rejected.reason) == (False, "reject", "AuthorRoleInvalid")
    assert repr(rejected) == f'Commit(id={rejected.id[:12]}..., accepted=False, reason=Some("AuthorRoleInvalid"))'
    assert repr(c) == f"Commit(id={c.id[:12]}..., accepted=True, reason=None)"
    assert (c.result, c.reason) == ("accept", None)
    assert len(writer) == 4
    # who may retract what is the verifier's to judge; here, what the verb commits
    missing = writer.retract("alice", MISSING, "")
    assert (missing.accepted, missing.reason) == (False, "RefUnresolved")
    assert payload(writer, missing.id) == {"reason": "", "target_id": list(bytes.fromhex(MISSING))}
    own = writer.retract("alice", c.id, "wrong")
    assert own.accepted and refs_of(writer, own.id) == [("Cause", c.id)]


def test_requirement_payloads(writer, request_id):
    c = writer.requirement("alice", request_id, "k1", " ")
    assert payload(writer, c.id) == {
        "description": " ", "expected_evidence": None, "key": "k1", "provenance": "user_authored",
        "required": True}
    c = writer.requirement("alice", request_id, "k2", "d", required=False, expected_evidence="a log",
                           provenance="user-authored")
    assert payload(writer, c.id) == {
        "description": "d", "expected_evidence": "a log", "key": "k2", "provenance": "user_authored",
        "required": False}
    c = writer.requirement(author="bot", request=request_id, key="k3", description="d")
    assert c.accepted and payload(writer, c.id)["provenance"] == "derived"
    assert refs_of(writer, c.id) == [("Cause", request_id)]
    rejected = writer.request("bot", "x").id
    for target in (rejected, c.id):
        assert refused(lambda: writer.requirement("alice", target, "k", "d")) == NOT_ACCEPTED.format(f'"{target}"')


def test_numpy_bools_are_bools(writer, request_id):
    # a class named like numpy's bool is no bool
    fake = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: True})
    with pytest.raises(TypeError, match="argument 'required' must be bool, not bool_"):
        writer.requirement("alice", request_id, "k", "d", required=fake())
    np = pytest.importorskip("numpy")
    c = writer.requirement("alice", request_id, "k", "d", required=np.bool_(False))
    assert payload(writer, c.id)["required"] is False
    for value in (np.int64(1), np.array(True)):
        with pytest.raises(TypeError, match="argument 'required' must be bool"):
            writer.requirement("alice", request_id, "k3", "d", required=value)
