"""Writer.evaluate and Writer.select: refusals in check order, and payloads."""
import hashlib
import json

import pytest

import quintrel
from conftest import MISSING, ROLES, SEED, fill, ints, record_of, refs_of, refused

TREE = "a" * 40
SEED_KEY = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a"  # the public key of SEED
EXACTLY_ONE = "exactly one of passed, failed, score, blocked, insufficient, stale, or not_run is required"
EXTENDED = "the extended evaluation ({}) requires both evaluator and basis ('recomputed' or 'declared')"
NOT_REQUIREMENT = "requirement {} is not an accepted Requirement in this log"
SELECT_ONE = "exactly one of choose or none=True is required"
CRITERION = "invalid payload: evaluation criterion must be non-empty"


def error_of(message):
    if message.startswith("Writer."):
        return OverflowError if "out of range" in message else TypeError
    return ValueError


def schema(name):
    return hashlib.sha256(name.encode()).hexdigest()


@pytest.fixture
def writer(log_dir):
    """Bot signs, with its key pinned, so that its attested evaluations verify."""
    rules = quintrel.default_rules(ROLES, admins=["alice"], author_keys={"bot": [SEED_KEY]})
    return quintrel.Writer(log_dir, rules, {"bot": SEED})


@pytest.fixture
def ids(writer):
    """Two candidates, an evaluation of the first, two requirements of a request."""
    out = {"cand": writer.candidate("alice", TREE).id, "cand2": writer.candidate("alice", "b" * 40).id}
    out["eval"] = writer.evaluate("alice", out["cand"], "tests", passed=True).id
    request = writer.request("alice", "ship").id
    out["lo"], out["hi"] = sorted(writer.requirement("alice", request, key, "d").id for key in ("k1", "k2"))
    out["smaller"] = min(out["hi"], out["cand"])
    out["CAND"] = out["cand"].upper()
    return out


EXT = {"evaluator": "ci", "basis": "declared", "passed": True}
EVALUATE_ROWS = [
    ("mallory", {"candidate": "bad"}, 'author "mallory" is not registered in the rules\' author_roles'),
    ("alice", {"candidate": "bad", "attested": True}, 'invalid record id "bad"'),
    ("alice", {"attested": True, "passed": True, "failed": True},
     'attested=True requires a signer for "alice": pass signers={{...}} to Writer'),
    ("alice", {"score": 7, "passed": True, "failed": True}, "score requires scale (the denominator)"),
    ("alice", {}, EXACTLY_ONE),
    ("alice", {"passed": True, "score": 1, "scale": 0}, EXACTLY_ONE),
    ("alice", {"blocked": True}, EXTENDED.format("blocked")),
    ("alice", {"not_run": True, "requirements": [], "evaluator_version": "1", "evaluator": ""},
     EXTENDED.format("evaluator, evaluator_version, requirements, not_run")),
    ("alice", {"insufficient": True, "procedure_hash": "x", "input_hash": "y", "requirements": ["bad"]},
     EXTENDED.format("procedure_hash, input_hash, requirements, insufficient")),
    # every requirement text is parsed before any is looked up, the smallest id first
    ("alice", dict(EXT, requirements=[MISSING, "bad\udfff", "worse"]), 'invalid record id "bad\\u{{dfff}}"'),
    ("alice", dict(EXT, requirements=["{hi}", "{cand}"], uses=["bad"]), NOT_REQUIREMENT.format("{smaller}")),
    ("alice", {"passed": True, "uses": ["{eval}", "BAD"], "criterion": ""}, 'invalid record id "BAD"'),
    ("bot", {"passed": True, "attested": True, "criterion": ""},
     "attested=True requires the extended shape: give evaluator and basis"),
    ("alice", dict(EXT, evaluator="", basis="nonsense"), "evaluator must be non-empty"),
    ("alice", dict(EXT, basis="Declared", procedure_hash="x"),
     "invalid basis \"Declared\" (expected 'recomputed' or 'declared')"),
    ("alice", dict(EXT, procedure_hash="\ud800", input_hash="x"),
     'invalid procedure_hash "\\u{{d800}}" (expected 64 hex chars)'),
    ("alice", dict(EXT, input_hash="{CAND}", artifacts=["bad"]), 'invalid input_hash "{CAND}" (expected 64 hex chars)'),
    ("alice", dict(EXT, artifacts=["bad"], criterion=""), 'invalid artifact "bad" (expected scheme:digest[:name])'),
    ("alice", {"score": 1, "scale": 13, "candidate": MISSING},
     "invalid payload: score scale above 12 at line 1 column 206"),
    ("alice", {"score": -2 ** 53, "scale": 0, "evaluator": "ci", "basis": "declared"},
     "integer -9007199254740992 exceeds the I-JSON safe range required by JCS"),
    ("bot", dict(EXT, passed=False, stale=True, criterion="", attested=True), CRITERION),
    # converted before every check, the author's included
    ("mallory", {"candidate": "bad", "passed": 1}, "Writer.evaluate() argument 'passed' must be bool, not int"),
    ("mallory", {"candidate": "bad", "score": 1.0}, "Writer.evaluate() argument 'score' must be int, not float"),
    ("mallory", {"candidate": "bad", "score": 2 ** 63},
     "Writer.evaluate() argument 'score' is out of range (-9223372036854775808 to 9223372036854775807)"),
    ("mallory", {"candidate": "bad", "scale": 256, "uses": 1},
     "Writer.evaluate() argument 'scale' is out of range (0 to 255)"),
    ("mallory", {"candidate": "bad", "uses": "a" * 64},
     "Writer.evaluate() argument 'uses' must be a list of str, not str"),
]


@pytest.mark.parametrize("author, kwargs, message", EVALUATE_ROWS)
def test_evaluate_refusals(writer, ids, author, kwargs, message):
    kwargs = dict({"candidate": ids["cand"], "criterion": "tests"}, **{k: fill(v, ids) for k, v in kwargs.items()})
    before = writer.receipt()
    assert refused(lambda: writer.evaluate(author, **kwargs), error_of(message)) == fill(message, ids)
    assert writer.receipt() == before


def test_evaluation_payloads(writer, ids):
    cand = ids["cand"]
    c = writer.evaluate("alice", cand, "tests", passed=True, scale=2, uses=[cand])
    assert c.accepted and record_of(writer, c.id).schema == schema("quintrel.evaluation.v1")
    assert record_of(writer, c.id).payload_json == (
        '{"candidate":' + ints(cand) + ',"criterion":"tests","outcome":"passed","procedure":null}')
    assert refs_of(writer, c.id) == [("Use", cand)]
    c = writer.evaluate("alice", cand, "size", score=0, scale=0, procedure="wc -c", uses=[ids["eval"]])
    assert record_of(writer, c.id).payload_json == (
        '{"candidate":' + ints(cand) + ',"criterion":"size","outcome":{"scored":{"scale":0,"value":0}},'
        '"procedure":"wc -c"}')
    assert refs_of(writer, c.id) == sorted([("Use", cand), ("Use", ids["eval"])])
    # an unknown id in uses is the verifier's to refuse
    assert writer.evaluate("alice", cand, "x", failed=True, uses=[MISSING]).reason == "RefUnresolved"

    lo, hi = ids["lo"], ids["hi"]
    text = ('{"basis":"declared","candidate":' + ints(cand) + ',"criterion":"tests","evaluator":{"id":"ci",'
            '"input_hash":null,"procedure_hash":null,"version":null},"evidence":[],"outcome":"passed",'
            '"procedure":null,"requirements":[]}')
    for author, attested, name in (("alice", False, "quintrel.evaluation.v2"),
                                   ("bot", True, "quintrel.evaluation.attested.v1")):
        c = writer.evaluate(author, cand, "tests", attested=attested, **EXT)
        record = record_of(writer, c.id)
        assert (c.accepted, record.payload_json, record.schema, record.signed) == (True, text, schema(name), attested)

    full = writer.evaluate("alice", cand, "tests", blocked=True, evaluator="ci", evaluator_version="2.1",
                           procedure_hash="1" * 64, input_hash="2" * 64, basis="recomputed", uses=[cand],
                           requirements=[hi, lo, lo], artifacts=[f"sha256-bytes:{'f' * 64}", f"git-tree-sha1:{TREE}"])
    assert full.accepted and refs_of(writer, full.id) == sorted([("Use", cand), ("Use", lo), ("Use", hi)])
    assert record_of(writer, full.id).payload_json == (
        '{"basis":"recomputed","candidate":' + ints(cand) + ',"criterion":"tests","evaluator":{"id":"ci",'
        '"input_hash":' + ints("2" * 64) + ',"procedure_hash":' + ints("1" * 64) + ',"version":"2.1"},'
        '"evidence":[{"digest":"' + TREE + '","name":null,"scheme":"git-tree-sha1"},{"digest":"' + "f" * 64 +
        '","name":null,"scheme":"sha256-bytes"}],"outcome":"blocked","procedure":null,"requirements":[' +
        ints(lo) + "," + ints(hi) + "]}")
    for outcome, kwargs in [("insufficient", {"insufficient": True}), ("not_run", {"not_run": True}),
                            ({"scored": {"scale": 1, "value": -15}}, {"score": -15, "scale": 1})]:
        c = writer.evaluate("alice", cand, "t", evaluator="ci", basis="declared", **kwargs)
        assert json.loads(record_of(writer, c.id).payload_json)["outcome"] == outcome


SELECT_ROWS = [
    ({"author": "mallory", "consider": []}, 'author "mallory" is not registered in the rules\' author_roles'),
    ({"consider": [], "choose": ["bad"], "none": True}, "consider requires at least one candidate id"),
    ({"consider": ["{cand}", "bad"]}, 'invalid record id "bad"'),
    ({"choose": ["{cand}"], "none": True}, SELECT_ONE),
    ({"uses_eval": ["{eval}"], "replaces": "bad"}, SELECT_ONE),
    ({"choose": ["\udc00"]}, 'invalid record id "\\u{{dc00}}"'),
    ({"choose": ["{cand}"]}, "choose requires uses_eval with at least one evaluation"),
    ({"choose": ["{cand}"], "uses_eval": [], "replaces": "bad"}, "uses_eval requires at least one evaluation"),
    ({"choose": ["{cand}"], "uses_eval": ["{eval}", "bad"], "replaces": "worse"}, 'invalid record id "bad"'),
    ({"none": True, "replaces": "{CAND}", "objective": ""}, 'invalid record id "{CAND}"'),
    ({"none": True, "objective": ""}, "invalid payload: selection objective must be non-empty"),
    ({"consider": "a" * 64}, "Writer.select() argument 'consider' must be a list of str, not str"),
    ({"author": "mallory", "choose": ("a", 1)}, "Writer.select() argument 'choose' item 1 must be str, not int"),
]


@pytest.mark.parametrize("kwargs, message", SELECT_ROWS)
def test_select_refusals(writer, ids, kwargs, message):
    kwargs = dict({"author": "alice", "objective": "ship", "consider": [ids["cand"]]},
                  **{k: fill(v, ids) for k, v in kwargs.items()})
    before = writer.receipt()
    assert refused(lambda: writer.select(**kwargs), error_of(message)) == fill(message, ids)
    assert writer.receipt() == before


def test_selection_payloads(writer, ids):
    cand, cand2, ev = ids["cand"], ids["cand2"], ids["eval"]
    twice = writer.select("alice", "ship", (cand2, cand), choose=[cand, cand], uses_eval=[ev, ev])
    assert record_of(writer, twice.id).payload_json == (
        '{"considered":[' + ints(cand2) + "," + ints(cand) + '],"objective":"ship","outcome":{"selected":'
        '{"candidates":[' + ints(cand) + "," + ints(cand) + ']}},"rationale":null}')
    # considered ids travel only in the payload; repeats give one ref, and a
    # repeated choice is the verifier's to refuse
    assert refs_of(writer, twice.id) == [("Use", ev), ("Require", cand)] and twice.reason == "SelectionInvalid"
    chosen = writer.select("alice", "ship", (cand2, cand), choose=[cand], uses_eval=[ev])
    # with none, uses_eval is not even read
    none = writer.select("alice", "ship", [cand2, cand], none=True, uses_eval=["not an id"], replaces=chosen.id,
                         rationale="nothing fits")
    assert chosen.accepted and none.accepted and refs_of(writer, none.id) == [("Replace", chosen.id)]
    assert record_of(writer, none.id).payload_json == (
        '{"considered":[' + ints(cand2) + "," + ints(cand) + '],"objective":"ship","outcome":"none",'
        '"rationale":"nothing fits"}')
    # an empty choose is a present one, judged by the verifier
    empty = writer.select("alice", "ship", [cand], choose=[], uses_eval=[ev])
    assert (empty.reason, refs_of(writer, empty.id)) == ("SelectionInvalid", [("Use", ev)])
    assert json.loads(record_of(writer, empty.id).payload_json)["outcome"] == {"selected": {"candidates": []}}
