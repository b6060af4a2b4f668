import hashlib
import json

import pytest

from conftest import refused
from quintrel import default_rules

SPACE = list(hashlib.sha256(b"quintrel.default_space.v1").digest())
KEY = "0123456789abcdef" * 4
KEY_BYTES = list(bytes.fromhex(KEY))
FIELDS = [
    "space", "kind_schema_map", "signature_required_kinds", "author_keys", "author_roles",
    "admin_retraction_actors", "allowed_summary_types", "evidence_thresholds",
    "max_context_records", "min_binding", "selection_requires_evaluation",
    "reaffirmation_actors", "max_considered", "selection_requires_approval",
    "reject_compromised_continuation",
]
ROLE = 'invalid role "{}" (user|provider|system|executor|verifier)'
UNBOUND = '{} entry "{}" has no author binding; add it to authors'
NOT_A_KEY = 'author_keys entry "a": a public key must be 64 lowercase hex characters'
A = {"a": "user"}


def rules(*args, **kwargs):
    return json.loads(default_rules(*args, **kwargs))


@pytest.mark.parametrize("kwargs, message", [
    # an empty authors dict is reported before anything else
    ({"authors": {}, "admins": ["ghost"], "author_keys": {"x": []}},
     "default_rules needs at least one author binding"),
    ({"authors": {"": "user"}}, "author id must be non-empty"),
    # ascending key order: "a" (empty role) before "b"
    ({"authors": {"b": "nobody", "a": ""}}, ROLE.format("")),
    # byte order of the UTF-8 keys, not insertion order
    ({"authors": {"\u00e9": "first", "z": "second"}}, ROLE.format("second")),
    # the role is reported lowercased, and only ASCII letters are folded
    ({"authors": {"a": "\u00c9XECUTOR"}}, ROLE.format("\u00c9xecutor")),
    ({"authors": {"a": " user"}}, ROLE.format(" user")),
    ({"authors": {"a": "bad"}, "admins": ["ghost"]}, ROLE.format("bad")),
    ({"authors": A, "admins": ["a", "b"], "reaffirmers": ["c"]}, UNBOUND.format("admins", "b")),
    ({"authors": A, "reaffirmers": ("a", "c")}, UNBOUND.format("reaffirmers", "c")),
    ({"authors": A, "admins": ['q"\\\n\x00']}, UNBOUND.format("admins", 'q\\"\\\\\\n\\0')),
    ({"authors": A, "author_keys": {"z": [KEY], "b": []}}, UNBOUND.format("author_keys", "b")),
    ({"authors": A, "author_keys": {"a": []}}, 'author_keys entry "a" lists no keys'),
    ({"authors": A, "author_keys": {"a": [KEY.upper()]}}, NOT_A_KEY),
    ({"authors": A, "author_keys": {"a": [KEY, KEY[:-1]]}}, NOT_A_KEY),
    # a lone surrogate has no UTF-8 form: the interpreter's UnicodeEncodeError (an id keeps it)
    ({"authors": {"\ud800": "user"}},
     "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"),
])
def test_refused_values(kwargs, message):
    assert refused(lambda: default_rules(**kwargs)) == message


@pytest.mark.parametrize("kwargs, param", [
    ({"authors": ["a"]}, "authors"),
    ({"authors": {"a": None}}, "authors"),
    ({"authors": A, "max_context": 5.0}, "max_context"),
    ({"authors": A, "admins": "a"}, "admins"),
    ({"authors": A, "reaffirmers": ("a", 1)}, "reaffirmers"),
    *[({"authors": A, "author_keys": keys}, "author_keys") for keys in ({"a": KEY}, {"a": [1]}, {b"a": [KEY]})],
    # conversion comes first, in parameter order, before any value check
    ({"authors": {}, "signed": 1}, "signed"),
    ({"authors": {1: "x"}, "max_context": -1}, "authors"),
])
def test_wrong_types(kwargs, param):
    assert f"argument '{param}'" in refused(lambda: default_rules(**kwargs), TypeError)


@pytest.mark.parametrize("value", [-1, 2**32, 2**64, -(2**70)])
def test_max_context_out_of_range(value):
    assert "argument 'max_context'" in refused(lambda: default_rules({"a": "user"}, value), OverflowError)


def test_defaults_and_field_order():
    text = default_rules({"alice": "user"})
    assert text.startswith('{"space":[')
    assert not any(c.isspace() for c in text)
    got = json.loads(text)
    assert list(got) == FIELDS
    assert got["space"] == SPACE
    assert [got[k] for k in FIELDS[2:]] == [
        [], {}, {"alice": "User"}, [], ["Procedure", "Pattern", "Lesson", "StateSnapshot"],
        {"Candidate": "Reported", "Evaluation": "Reported", "Selection": "Inferred"}, 200, "reported", True, [], 4096,
        False, False]
    # keywords or positions, in any order, give one text
    assert default_rules({"a": "user", "b": "provider"}, 7, ["a"], ["b"], True, {"a": [KEY]}) == default_rules(
        author_keys={"a": [KEY]}, signed=True, reaffirmers=["b"], admins=["a"], max_context=7,
        authors={"b": "provider", "a": "user"})


@pytest.mark.parametrize("authors, kwargs, field, expected", [
    ({"u": "USER", "p": "Provider", "s": "sYsTeM", "e": "executor", "v": "VERIFIER"}, {}, "author_roles",
     {"e": "Executor", "p": "Provider", "s": "System", "u": "User", "v": "Verifier"}),
    ({"a": "user"}, {"signed": True}, "signature_required_kinds",
     ["Retraction", "Candidate", "Evaluation", "Selection", "Requirement"]),
    # sets, sorted
    ({"b": "user", "a": "provider"}, {"admins": ("b", "a", "b")}, "admin_retraction_actors", ["a", "b"]),
    ({"a": "user"}, {"reaffirmers": ["a", "a"]}, "reaffirmation_actors", ["a"]),
    ({"a": "user", "b": "user"},
     {"author_keys": {"b": [" \t" + KEY + "\n\u3000", KEY, "\u00a0" + KEY], "a": ("ff" * 32,)}}, "author_keys",
     {"a": [[255] * 32], "b": [KEY_BYTES]}),
    *[({"a": "user"}, {"max_context": value}, "max_context_records", int(value))
      for value in (0, 1, 200, 2**32 - 1, True)],
    # texts keep NUL and non-ASCII
    ({"a\x00b": "user", "\u00e9\U0001f600": "verifier"}, {}, "author_roles",
     {"a\x00b": "User", "\u00e9\U0001f600": "Verifier"}),
])
def test_values_as_stored(authors, kwargs, field, expected):
    assert rules(authors, **kwargs)[field] == expected
