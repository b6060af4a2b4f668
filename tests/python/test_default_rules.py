import hashlib
import json

import pytest

import quintrel

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
ROLES = " (user|provider|system|executor|verifier)"


def rules(*args, **kwargs):
    return json.loads(default_rules(*args, **kwargs))


@pytest.mark.parametrize("kwargs, message", [
    # an empty authors dict is reported before anything else
    ({"authors": {}, "admins": ["ghost"], "author_keys": {"x": []}},
     "default_rules needs at least one author binding"),
    ({"authors": {"": "user"}}, "author id must be non-empty"),
    # ascending key order: "a" (empty role) before "b"
    ({"authors": {"b": "nobody", "a": ""}}, 'invalid role ""' + ROLES),
    # byte order of the UTF-8 keys, not insertion order
    ({"authors": {"\u00e9": "first", "z": "second"}}, 'invalid role "second"' + ROLES),
    # the role is reported lowercased, and only ASCII letters are folded
    ({"authors": {"a": "NoBody"}}, 'invalid role "nobody"' + ROLES),
    ({"authors": {"a": "\u00c9XECUTOR"}}, 'invalid role "\u00c9xecutor"' + ROLES),
    ({"authors": {"a": " user"}}, 'invalid role " user"' + ROLES),
    ({"authors": {"a": "bad"}, "admins": ["ghost"]}, 'invalid role "bad"' + ROLES),
    ({"authors": {"a": "user"}, "admins": ["a", "b"], "reaffirmers": ["c"]},
     'admins entry "b" has no author binding; add it to authors'),
    ({"authors": {"a": "user"}, "reaffirmers": ("a", "c")},
     'reaffirmers entry "c" has no author binding; add it to authors'),
    ({"authors": {"alice": "user"}, "admins": ["Alice"]},
     'admins entry "Alice" has no author binding; add it to authors'),
    ({"authors": {"a": "user"}, "admins": ['q"\\\n\x00']},
     'admins entry "q\\"\\\\\\n\\0" has no author binding; add it to authors'),
    ({"authors": {"a": "user"}, "author_keys": {"z": [KEY], "b": []}},
     'author_keys entry "b" has no author binding; add it to authors'),
    ({"authors": {"a": "user"}, "author_keys": {"a": []}}, 'author_keys entry "a" lists no keys'),
    ({"authors": {"a": "user"}, "author_keys": {"a": [KEY.upper()]}},
     'author_keys entry "a": a public key must be 64 lowercase hex characters'),
    ({"authors": {"a": "user"}, "author_keys": {"a": [KEY, KEY[:-1]]}},
     'author_keys entry "a": a public key must be 64 lowercase hex characters'),
    ({"authors": {"a": "user"}, "author_keys": {"a": [KEY + "\x00"]}},
     'author_keys entry "a": a public key must be 64 lowercase hex characters'),
])
def test_refused_values(kwargs, message):
    with pytest.raises(ValueError) as e:
        default_rules(**kwargs)
    assert str(e.value) == message


@pytest.mark.parametrize("kwargs, param", [
    ({"authors": ["a"]}, "authors"),
    ({"authors": {1: "user"}}, "authors"),
    ({"authors": {"a": None}}, "authors"),
    ({"authors": {"a": "user"}, "max_context": "5"}, "max_context"),
    ({"authors": {"a": "user"}, "max_context": 5.0}, "max_context"),
    ({"authors": {"a": "user"}, "admins": "a"}, "admins"),
    ({"authors": {"a": "user"}, "admins": {"a": 1}}, "admins"),
    ({"authors": {"a": "user"}, "reaffirmers": ("a", 1)}, "reaffirmers"),
    ({"authors": {"a": "user"}, "signed": 1}, "signed"),
    ({"authors": {"a": "user"}, "signed": None}, "signed"),
    ({"authors": {"a": "user"}, "author_keys": {"a": KEY}}, "author_keys"),
    ({"authors": {"a": "user"}, "author_keys": {"a": [1]}}, "author_keys"),
    ({"authors": {"a": "user"}, "author_keys": {b"a": [KEY]}}, "author_keys"),
    # conversion comes first, in parameter order, before any value check
    ({"authors": {}, "signed": 1}, "signed"),
    ({"authors": {1: "x"}, "max_context": -1}, "authors"),
])
def test_wrong_types(kwargs, param):
    with pytest.raises(TypeError) as e:
        default_rules(**kwargs)
    assert f"argument '{param}'" in str(e.value)


@pytest.mark.parametrize("value", [-1, 2**32, 2**64, -(2**70)])
def test_max_context_out_of_range(value):
    with pytest.raises(OverflowError, match="'max_context'"):
        default_rules({"a": "user"}, value)


@pytest.mark.parametrize("value", [0, 1, 200, 2**32 - 1, True])
def test_max_context_in_range(value):
    assert rules({"a": "user"}, max_context=value)["max_context_records"] == int(value)


def test_roles_in_any_case_bind_author_types():
    got = rules({"u": "USER", "p": "Provider", "s": "sYsTeM", "e": "executor", "v": "VERIFIER"})
    assert got["author_roles"] == {
        "e": "Executor", "p": "Provider", "s": "System", "u": "User", "v": "Verifier"}


def test_defaults_and_field_order():
    text = default_rules({"alice": "user"})
    assert text.startswith('{"space":[')
    assert not any(c.isspace() for c in text)
    got = json.loads(text)
    assert list(got) == FIELDS
    assert got["space"] == SPACE
    assert got["max_context_records"] == 200
    assert got["signature_required_kinds"] == []
    assert got["author_keys"] == {}
    assert got["admin_retraction_actors"] == [] and got["reaffirmation_actors"] == []
    assert got["evidence_thresholds"] == {
        "Candidate": "Reported", "Evaluation": "Reported", "Selection": "Inferred"}
    assert len(got["kind_schema_map"]) == 20
    assert [got[k] for k in FIELDS[9:]] == ["reported", True, [], 4096, False, False]


def test_signed_requires_the_evolution_kinds():
    assert rules({"a": "user"}, signed=True)["signature_required_kinds"] == [
        "Retraction", "Candidate", "Evaluation", "Selection", "Requirement"]
    assert rules({"a": "user"}, signed=False)["signature_required_kinds"] == []


def test_signed_takes_a_bool_and_nothing_that_merely_acts_like_one():
    lookalike = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: True})
    with pytest.raises(TypeError, match="signed"):
        quintrel.default_rules({"a": "user"}, signed=lookalike())


def test_admins_and_reaffirmers_collapse_into_sorted_sets():
    got = rules({"b": "user", "a": "provider"}, admins=("b", "a", "b"), reaffirmers=["a", "a"])
    assert got["admin_retraction_actors"] == ["a", "b"]
    assert got["reaffirmation_actors"] == ["a"]
    assert rules({"a": "user"}, admins=[], reaffirmers=None)["admin_retraction_actors"] == []


def test_author_keys_are_trimmed_and_collapse():
    padded = [" \t" + KEY + "\n\u3000", KEY, "\u00a0" + KEY]
    got = rules({"a": "user", "b": "user"}, author_keys={"b": padded, "a": ("ff" * 32,)})
    assert got["author_keys"] == {"a": [[255] * 32], "b": [KEY_BYTES]}


def test_texts_keep_nul_and_non_ascii():
    got = rules({"a\x00b": "user", "\u00e9\U0001f600": "verifier"}, admins=["a\x00b"])
    assert got["author_roles"] == {"a\x00b": "User", "\u00e9\U0001f600": "Verifier"}
    assert got["admin_retraction_actors"] == ["a\x00b"]


def test_equal_arguments_give_equal_texts():
    first = default_rules({"a": "user", "b": "provider"}, 7, ["a"], ["b"], True, {"a": [KEY]})
    second = default_rules(author_keys={"a": [KEY]}, signed=True, reaffirmers=["b"], admins=["a"],
                           max_context=7, authors={"b": "provider", "a": "user"})
    assert first == second
