"""Writer.evaluate and Writer.select: refusals in the order the checks run,
the three evaluation shapes, and payloads against texts written by hand."""
import json

import pytest

import quintrel
from conftest import MISSING, ROLES, SEED

TREE = "a" * 40
SEED_KEY = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a"  # the public key of SEED
EXACTLY_ONE = "exactly one of passed, failed, score, blocked, insufficient, stale, or not_run is required"
EXTENDED = "the extended evaluation ({}) requires both evaluator and basis ('recomputed' or 'declared')"
NOT_REQUIREMENT = "requirement {} is not an accepted Requirement in this log"
NO_SIGNER = 'attested=True requires a signer for "alice": pass signers={{...}} to Writer'
NEEDS_EXTENDED = "attested=True requires the extended shape: give evaluator and basis"
SELECT_ONE = "exactly one of choose or none=True is required"


def ints(hex_id):
    return "[" + ",".join(str(b) for b in bytes.fromhex(hex_id)) + "]"


def record_of(writer, commit_id):
    (record,) = [r for r in writer.records if r.id == commit_id]
    return record


def refs_of(writer, commit_id):
    return [(r["type"], r["target"]) for r in record_of(writer, commit_id).refs]


def refused(call, error=ValueError):
    with pytest.raises(error) as e:
        call()
    return str(e.value)


@pytest.fixture
def writer(log_dir):
    """Bot signs, and its key is pinned, so its attested evaluations verify."""
    rules = quintrel.default_rules(ROLES, admins=["alice"], author_keys={"bot": [SEED_KEY]})
    return quintrel.Writer(log_dir, rules, {"bot": SEED})


@pytest.fixture
def ids(writer):
    """Two candidates, an evaluation of the first, a request with two
    requirements and one rejected requirement."""
    out = {"cand": writer.candidate("alice", TREE).id, "cand2": writer.candidate("alice", "b" * 40).id}
    out["eval"] = writer.evaluate("alice", out["cand"], "tests", passed=True).id
    request = writer.request("alice", "ship").id
    reqs = sorted(writer.requirement("alice", request, key, "d").id for key in ("k1", "k2"))
    out["req_lo"], out["req_hi"] = reqs
    rejected = writer.requirement("alice", request, "k1", "d")
    assert not rejected.accepted
    out["req_rejected"] = rejected.id
    return out


def fill(value, ids):
    if isinstance(value, list):
        return [fill(v, ids) for v in value]
    if isinstance(value, str):
        return value.format(**ids)
    return value


def smallest(*texts):
    return min(texts)


# (author, keyword arguments, message); the candidate is `{cand}` unless given.
EVALUATE_ROWS = [
    ("mallory", {"candidate": "bad"}, 'author "mallory" is not registered in the rules\' author_roles'),
    ("alice", {"candidate": "bad", "attested": True}, 'invalid record id "bad"'),
    ("alice", {"attested": True, "passed": True, "failed": True}, NO_SIGNER),
    ("alice", {"score": 7, "passed": True, "failed": True}, "score requires scale (the denominator)"),
    ("alice", {"passed": True, "failed": True}, EXACTLY_ONE),
    ("alice", {}, EXACTLY_ONE),
    ("alice", {"passed": True, "score": 1, "scale": 0}, EXACTLY_ONE),
    ("alice", {"blocked": True, "stale": True}, EXACTLY_ONE),
    ("alice", {"blocked": True}, EXTENDED.format("blocked")),
    ("alice", {"passed": True, "basis": "declared"}, EXTENDED.format("basis")),
    ("alice", {"passed": True, "evaluator": ""}, EXTENDED.format("evaluator")),
    ("alice", {"not_run": True, "requirements": [], "evaluator_version": "1", "evaluator": "ci"},
     EXTENDED.format("evaluator, evaluator_version, requirements, not_run")),
    ("alice", {"passed": True, "artifacts": []}, EXTENDED.format("artifacts")),
    ("alice", {"insufficient": True, "procedure_hash": "x", "input_hash": "y", "requirements": ["bad"]},
     EXTENDED.format("procedure_hash, input_hash, requirements, insufficient")),
    ("alice", {"passed": True, "evaluator": "ci", "basis": "declared", "requirements": [MISSING, "bad", "worse"]},
     'invalid record id "bad"'),
    ("alice", {"passed": True, "evaluator": "ci", "basis": "declared", "requirements": ["{req_hi}", "{cand}"],
               "uses": ["bad"]},
     NOT_REQUIREMENT.format("{smallest}")),
    ("alice", {"passed": True, "evaluator": "ci", "basis": "declared", "requirements": ["{req_rejected}"]},
     NOT_REQUIREMENT.format("{req_rejected}")),
    ("alice", {"passed": True, "evaluator": "ci", "basis": "declared", "requirements": [MISSING]},
     NOT_REQUIREMENT.format(MISSING)),
    ("alice", {"passed": True, "uses": ["{eval}", "BAD"], "criterion": ""}, 'invalid record id "BAD"'),
    ("bot", {"passed": True, "attested": True, "criterion": ""}, NEEDS_EXTENDED),
    ("alice", {"passed": True, "evaluator": "", "basis": "nonsense"}, "evaluator must be non-empty"),
    ("alice", {"passed": True, "evaluator": "ci", "basis": "Declared", "procedure_hash": "x"},
     "invalid basis \"Declared\" (expected 'recomputed' or 'declared')"),
    ("alice", {"passed": True, "evaluator": "ci", "basis": "declared", "procedure_hash": "abc", "input_hash": "x"},
     'invalid procedure_hash "abc" (expected 64 hex chars)'),
    ("alice", {"passed": True, "evaluator": "ci", "basis": "declared", "input_hash": MISSING.upper(),
               "artifacts": ["bad"]},
     f'invalid input_hash "{MISSING.upper()}" (expected 64 hex chars)'),
    ("alice", {"passed": True, "evaluator": "ci", "basis": "declared", "artifacts": ["bad"], "criterion": ""},
     'invalid artifact "bad" (expected scheme:digest[:name])'),
    ("alice", {"score": 1, "scale": 13, "candidate": MISSING},
     "invalid payload: score scale above 12 at line 1 column 206"),
    ("alice", {"score": 2 ** 53, "scale": 0},
     "integer 9007199254740992 exceeds the I-JSON safe range required by JCS"),
    ("alice", {"score": -2 ** 53, "scale": 0, "evaluator": "ci", "basis": "declared"},
     "integer -9007199254740992 exceeds the I-JSON safe range required by JCS"),
    ("alice", {"passed": True, "criterion": ""}, "invalid payload: evaluation criterion must be non-empty"),
    ("bot", {"stale": True, "criterion": "", "evaluator": "ci", "basis": "recomputed", "attested": True},
     "invalid payload: evaluation criterion must be non-empty"),
]


@pytest.mark.parametrize("author, kwargs, message", EVALUATE_ROWS)
def test_evaluate_refusals(writer, ids, author, kwargs, message):
    ids = dict(ids, smallest=smallest(ids["req_hi"], ids["cand"]))
    kwargs = {k: fill(v, ids) for k, v in kwargs.items()}
    kwargs.setdefault("candidate", ids["cand"])
    kwargs.setdefault("criterion", "tests")
    before = writer.receipt()
    assert refused(lambda: writer.evaluate(author, **kwargs)) == fill(message, ids)
    assert writer.receipt() == before


@pytest.mark.parametrize("kwargs, error, message", [
    ({"passed": 1}, TypeError, "Writer.evaluate() argument 'passed' must be bool, not int"),
    ({"attested": None}, TypeError, "Writer.evaluate() argument 'attested' must be bool, not NoneType"),
    ({"score": "1"}, TypeError, "Writer.evaluate() argument 'score' must be int, not str"),
    ({"score": 1.0}, TypeError, "Writer.evaluate() argument 'score' must be int, not float"),
    ({"score": 2 ** 63}, OverflowError,
     "Writer.evaluate() argument 'score' is out of range (-9223372036854775808 to 9223372036854775807)"),
    ({"scale": 256}, OverflowError, "Writer.evaluate() argument 'scale' is out of range (0 to 255)"),
    ({"scale": -1}, OverflowError, "Writer.evaluate() argument 'scale' is out of range (0 to 255)"),
    ({"uses": "a" * 64}, TypeError, "Writer.evaluate() argument 'uses' must be a list of str, not str"),
    ({"requirements": [1]}, TypeError, "Writer.evaluate() argument 'requirements' item 0 must be str, not int"),
])
def test_evaluate_argument_types(writer, kwargs, error, message):
    # conversion comes before every check, the author's included
    assert refused(lambda: writer.evaluate("mallory", "bad", "", **kwargs), error) == message


def test_plain_evaluations(writer, ids):
    cand = ids["cand"]
    c = writer.evaluate("alice", cand, "tests", passed=True, scale=2, uses=[cand])
    assert c.accepted and record_of(writer, c.id).schema == quintrel_schema("quintrel.evaluation.v1")
    assert record_of(writer, c.id).payload_json == (
        '{"candidate":' + ints(cand) + ',"criterion":"tests","outcome":"passed","procedure":null}')
    assert refs_of(writer, c.id) == [("Use", cand)]

    c = writer.evaluate("alice", cand, "size", score=0, scale=0, procedure="wc -c", uses=[ids["eval"]])
    assert record_of(writer, c.id).payload_json == (
        '{"candidate":' + ints(cand) + ',"criterion":"size","outcome":{"scored":{"scale":0,"value":0}},'
        '"procedure":"wc -c"}')
    assert refs_of(writer, c.id) == sorted([("Use", cand), ("Use", ids["eval"])])

    c = writer.evaluate("alice", cand, "lint", failed=True)
    assert json.loads(record_of(writer, c.id).payload_json)["outcome"] == "failed"
    # an unknown id in uses is the verifier's to refuse
    assert writer.evaluate("alice", cand, "x", passed=True, uses=[MISSING]).reason == "RefUnresolved"


def quintrel_schema(name):
    import hashlib
    return hashlib.sha256(name.encode()).hexdigest()


def test_extended_and_attested_evaluations(writer, ids):
    cand, lo, hi = ids["cand"], ids["req_lo"], ids["req_hi"]
    minimal = dict(passed=True, evaluator="ci", basis="declared")
    c = writer.evaluate("alice", cand, "tests", **minimal)
    text = ('{"basis":"declared","candidate":' + ints(cand) + ',"criterion":"tests","evaluator":'
            '{"id":"ci","input_hash":null,"procedure_hash":null,"version":null},"evidence":[],"outcome":"passed",'
            '"procedure":null,"requirements":[]}')
    record = record_of(writer, c.id)
    assert c.accepted and record.payload_json == text and not record.signed
    assert record.schema == quintrel_schema("quintrel.evaluation.v2")

    attested = writer.evaluate("bot", cand, "tests", attested=True, **minimal)
    record = record_of(writer, attested.id)
    assert attested.accepted and record.signed and record.payload_json == text
    assert record.schema == quintrel_schema("quintrel.evaluation.attested.v1")

    full = writer.evaluate("alice", cand, "tests", blocked=True, evaluator="ci", evaluator_version="2.1",
                           procedure_hash="1" * 64, input_hash="2" * 64, basis="recomputed",
                           requirements=[hi, lo, lo], artifacts=["sha256-bytes:" + "f" * 64, "git-tree-sha1:" + "e" * 40],
                           uses=[cand], procedure="make check")
    assert full.accepted
    assert record_of(writer, full.id).payload_json == (
        '{"basis":"recomputed","candidate":' + ints(cand) + ',"criterion":"tests","evaluator":'
        '{"id":"ci","input_hash":' + ints("2" * 64) + ',"procedure_hash":' + ints("1" * 64) + ',"version":"2.1"},'
        '"evidence":[{"digest":"' + "e" * 40 + '","name":null,"scheme":"git-tree-sha1"},'
        '{"digest":"' + "f" * 64 + '","name":null,"scheme":"sha256-bytes"}],"outcome":"blocked",'
        '"procedure":"make check","requirements":[' + ints(lo) + "," + ints(hi) + "]}")
    assert refs_of(writer, full.id) == sorted([("Use", cand), ("Use", lo), ("Use", hi)])

    for flag in ("failed", "insufficient", "stale", "not_run"):
        c = writer.evaluate("alice", cand, flag, evaluator="ci", basis="declared", **{flag: True})
        assert json.loads(record_of(writer, c.id).payload_json)["outcome"] == flag
    c = writer.evaluate("alice", cand, "perf", score=-15, scale=1, evaluator="ci", basis="declared")
    assert json.loads(record_of(writer, c.id).payload_json)["outcome"] == {"scored": {"scale": 1, "value": -15}}


def test_numpy_bools_select_the_outcome(writer, ids):
    np = pytest.importorskip("numpy")
    c = writer.evaluate("alice", ids["cand"], "t", passed=np.bool_(True), failed=np.bool_(False))
    assert json.loads(record_of(writer, c.id).payload_json)["outcome"] == "passed"
    c = writer.select("alice", "o", [ids["cand"]], none=np.True_)
    assert json.loads(record_of(writer, c.id).payload_json)["outcome"] == "none"


# (keyword arguments, message); consider is [{cand}] unless given.
SELECT_ROWS = [
    ({"author": "mallory", "consider": []}, 'author "mallory" is not registered in the rules\' author_roles'),
    ({"consider": [], "choose": ["bad"], "none": True}, "consider requires at least one candidate id"),
    ({"consider": ["{cand}", "bad"]}, 'invalid record id "bad"'),
    ({"choose": ["{cand}"], "none": True}, SELECT_ONE),
    ({"uses_eval": ["{eval}"], "replaces": "bad"}, SELECT_ONE),
    ({"choose": ["bad"]}, 'invalid record id "bad"'),
    ({"choose": ["{cand}"]}, "choose requires uses_eval with at least one evaluation"),
    ({"choose": ["{cand}"], "uses_eval": [], "replaces": "bad"}, "uses_eval requires at least one evaluation"),
    ({"choose": ["{cand}"], "uses_eval": ["{eval}", "bad"], "replaces": "worse"}, 'invalid record id "bad"'),
    ({"choose": ["{cand}"], "uses_eval": ["{eval}"], "replaces": "bad", "objective": ""}, 'invalid record id "bad"'),
    ({"none": True, "replaces": "{cand}".upper()}, 'invalid record id "{CAND}"'),
    ({"none": True, "objective": ""}, "invalid payload: selection objective must be non-empty"),
]


@pytest.mark.parametrize("kwargs, message", SELECT_ROWS)
def test_select_refusals(writer, ids, kwargs, message):
    ids = dict(ids, CAND=ids["cand"].upper())
    kwargs = {k: fill(v, ids) for k, v in kwargs.items()}
    kwargs.setdefault("author", "alice")
    kwargs.setdefault("objective", "ship")
    kwargs.setdefault("consider", [ids["cand"]])
    before = writer.receipt()
    assert refused(lambda: writer.select(**kwargs)) == fill(message, ids)
    assert writer.receipt() == before


@pytest.mark.parametrize("kwargs, message", [
    ({"consider": "a" * 64}, "Writer.select() argument 'consider' must be a list of str, not str"),
    ({"none": 0}, "Writer.select() argument 'none' must be bool, not int"),
    ({"none": None}, "Writer.select() argument 'none' must be bool, not NoneType"),
    ({"choose": ("a", 1)}, "Writer.select() argument 'choose' item 1 must be str, not int"),
    ({"uses_eval": "e"}, "Writer.select() argument 'uses_eval' must be a list of str, not str"),
])
def test_select_argument_types(writer, kwargs, message):
    kwargs.setdefault("consider", [])
    assert refused(lambda: writer.select("mallory", "o", **kwargs), TypeError) == message


def test_selection_payloads(writer, ids):
    cand, cand2, ev = ids["cand"], ids["cand2"], ids["eval"]
    chosen = writer.select("alice", "ship", (cand2, cand), choose=[cand, cand], uses_eval=[ev, ev])
    assert record_of(writer, chosen.id).payload_json == (
        '{"considered":[' + ints(cand2) + "," + ints(cand) + '],"objective":"ship","outcome":{"selected":'
        '{"candidates":[' + ints(cand) + "," + ints(cand) + ']}},"rationale":null}')
    # the considered ids travel only in the payload; duplicates give one ref,
    # and a repeated choice is the verifier's to refuse
    assert refs_of(writer, chosen.id) == [("Use", ev), ("Require", cand)]
    assert chosen.reason == "SelectionInvalid"
    chosen = writer.select("alice", "ship", (cand2, cand), choose=[cand], uses_eval=[ev])
    assert chosen.accepted

    # with none, uses_eval is not even read
    none = writer.select("alice", "ship", [cand2, cand], none=True, uses_eval=["not an id"], replaces=chosen.id,
                         rationale="nothing fits")
    assert none.accepted
    assert record_of(writer, none.id).payload_json == (
        '{"considered":[' + ints(cand2) + "," + ints(cand) + '],"objective":"ship","outcome":"none",'
        '"rationale":"nothing fits"}')
    assert refs_of(writer, none.id) == [("Replace", chosen.id)]

    # an empty choose is a present one; the verifier refuses it
    empty = writer.select("alice", "ship", [cand], choose=[], uses_eval=[ev])
    assert (empty.accepted, empty.reason) == (False, "SelectionInvalid")
    assert json.loads(record_of(writer, empty.id).payload_json)["outcome"] == {"selected": {"candidates": []}}
    assert refs_of(writer, empty.id) == [("Use", ev)]
