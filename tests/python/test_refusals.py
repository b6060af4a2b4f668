"""The verbs' refusals in check order: each row fails one check, or two at
once to pin which comes first, and writes nothing."""
import pytest

from conftest import MISSING, TREE, fill, refused

NOT_REGISTERED = "author {} is not registered in the rules' author_roles"
NOT_ACCEPTED = "request {} is not an accepted Request in this log"
EMPTY = "key and description must be non-empty"
BOUND = "provenance {} cannot be authored by {} (role {}): provenance is bound to the author's role"
EXCLUSIVE = "continues, derives_from, and upgrades are mutually exclusive"
UPGRADE = 'upgrades target "{}" '
EXACTLY_ONE = "exactly one of passed, failed, score, blocked, insufficient, stale, or not_run is required"
EXTENDED = "the extended evaluation ({}) requires both evaluator and basis ('recomputed' or 'declared')"
SELECT_ONE = "exactly one of choose or none=True is required"
EXT = {"evaluator": "ci", "basis": "declared", "passed": True}
MALLORY = {"author": "mallory", "candidate": "bad"}
BLANK = {"request": "bad", "key": "", "description": ""}
# Each verb's arguments unless a row says otherwise; `{name}` is an id of the `ids` fixture.
DEFAULTS = {
    "request": {"author": "alice", "objective": "x"},
    "retract": {"author": "alice", "target": "{cand}", "reason": "r"},
    "requirement": {"author": "alice", "request": "{req}", "key": "k", "description": "d"},
    "candidate": {"author": "bot", "git_tree": TREE},
    "evaluate": {"author": "alice", "candidate": "{cand}", "criterion": "tests"},
    "select": {"author": "alice", "objective": "ship", "consider": ["{cand}"]},
}
ROWS = {
    "request": [
        ({"author": "Alice"}, NOT_REGISTERED.format('"Alice"')),
        ({"author": "mallory", "objective": 5}, "Writer.request() argument 'objective' must be str, not int"),
    ],
    "retract": [
        ({"author": "mallory", "target": "XYZ"}, NOT_REGISTERED.format('"mallory"')),
        ({"target": "bad\ud800"}, 'invalid record id "bad\\u{{d800}}"'),
    ],
    "requirement": [
        (dict(BLANK, author="mallory"), NOT_REGISTERED.format('"mallory"')),
        (dict(BLANK, author="exec"), 'invalid record id "bad"'),
        (dict(BLANK, author="exec", request=MISSING), NOT_ACCEPTED.format(f'"{MISSING}"')),
        ({"author": "exec", "key": ""}, EMPTY),
        ({"description": ""}, EMPTY),
        ({"author": "exec", "provenance": "nonsense"},
         'author "exec" has role Executor, which cannot author a Requirement'),
        ({"author": "sys", "provenance": "user-authored"}, BOUND.format('"user_authored"', '"sys"', "System")),
        ({"provenance": "derived"}, BOUND.format('"derived"', '"alice"', "User")),
        ({"provenance": "Derived"}, 'invalid provenance "Derived" (expected user_authored or derived)'),
        # conversion, in signature order, comes before every value check
        (dict(BLANK, author="mallory", required=1), "Writer.requirement() argument 'required' must be bool, not int"),
        ({"request": "bad", "expected_evidence": 1, "provenance": 2},
         "Writer.requirement() argument 'expected_evidence' must be str, not int"),
    ],
    "candidate": [
        ({"author": "mallory", "algo": "md5"}, NOT_REGISTERED.format('"mallory"')),
        ({"algo": "SHA256", "continues": "x", "upgrades": "y"}, 'invalid algo "SHA256"'),
        ({"continues": "{sel}", "derives_from": []}, EXCLUSIVE),
        ({"derives_from": ["{cand}"], "upgrades": "{cand}", "parent": "x"}, EXCLUSIVE),
        ({"parent": "{cand}", "derives_from": ["{cand}"]}, "parent is only valid with continues"),
        ({"continues": "{sel}"}, "continues requires parent (the continued candidate id)"),
        ({"continues": "bad c", "parent": "bad p"}, 'invalid record id "bad p"'),
        ({"continues": "bad c", "parent": "{cand}"}, 'invalid record id "bad c"'),
        ({"derives_from": []}, "derives_from requires at least one id"),
        ({"derives_from": ["{cand}", "X\ud800", "Y"]}, 'invalid record id "X\\u{{d800}}"'),
        # the lineage is checked before the directory is walked
        ({"upgrades": "{eval}", "manifest": "/no/such"}, UPGRADE.format("{eval}") + "is not a Candidate in this log"),
        ({"upgrades": "{rejected}"}, UPGRADE.format("{rejected}") + "is not an accepted Candidate"),
        ({"upgrades": "{cand}", "git_tree": "b" * 40},
         f'refusing upgrade: git_tree "{"b" * 40}" differs from the target\'s tree "{TREE}"'),
        ({"manifest": "/no/such"}, "cannot walk tree /no/such: No such file or directory (os error 2)"),
        ({"manifest": "/no\0such"}, "cannot walk tree /no\0such: path contains a NUL character"),
        ({"derives_from": "a" * 64}, "Writer.candidate() argument 'derives_from' must be a list of str, not str"),
        ({"artifacts": {"scheme": "x"}},
         "Writer.candidate() argument 'artifacts' must be a list of str or dict, not dict"),
        # in signature order, before the author is looked at
        ({"author": "mallory", "note": 1, "manifest": b"/"}, "Writer.candidate() argument 'note' must be str, not int"),
    ],
    "evaluate": [
        (MALLORY, NOT_REGISTERED.format('"mallory"')),
        ({"candidate": "bad", "attested": True}, 'invalid record id "bad"'),
        ({"attested": True, "passed": True, "failed": True},
         'attested=True requires a signer for "alice": pass signers={{...}} to Writer'),
        ({"score": 7, "passed": True, "failed": True}, "score requires scale (the denominator)"),
        ({}, EXACTLY_ONE),
        ({"passed": True, "score": 1, "scale": 0}, EXACTLY_ONE),
        ({"blocked": True}, EXTENDED.format("blocked")),
        ({"not_run": True, "requirements": [], "evaluator_version": "1", "evaluator": ""},
         EXTENDED.format("evaluator, evaluator_version, requirements, not_run")),
        ({"insufficient": True, "procedure_hash": "x", "input_hash": "y", "requirements": ["bad"]},
         EXTENDED.format("procedure_hash, input_hash, requirements, insufficient")),
        # every requirement text is parsed before any is looked up, the smallest id first
        (dict(EXT, requirements=[MISSING, "bad\udfff", "worse"]), 'invalid record id "bad\\u{{dfff}}"'),
        (dict(EXT, requirements=["{hi}", "{cand}"], uses=["bad"]),
         "requirement {smaller} is not an accepted Requirement in this log"),
        ({"passed": True, "uses": ["{eval}", "BAD"], "criterion": ""}, 'invalid record id "BAD"'),
        ({"author": "bot", "passed": True, "attested": True, "criterion": ""},
         "attested=True requires the extended shape: give evaluator and basis"),
        (dict(EXT, evaluator="", basis="nonsense"), "evaluator must be non-empty"),
        (dict(EXT, basis="Declared", procedure_hash="x"),
         "invalid basis \"Declared\" (expected 'recomputed' or 'declared')"),
        (dict(EXT, procedure_hash="\ud800", input_hash="x"),
         'invalid procedure_hash "\\u{{d800}}" (expected 64 hex chars)'),
        (dict(EXT, input_hash="{CAND}", artifacts=["bad"]), 'invalid input_hash "{CAND}" (expected 64 hex chars)'),
        (dict(EXT, artifacts=["bad"], criterion=""), 'invalid artifact "bad" (expected scheme:digest[:name])'),
        ({"score": 1, "scale": 13, "candidate": MISSING}, "invalid payload: score scale above 12 at line 1 column 206"),
        ({"score": -2 ** 53, "scale": 0, "evaluator": "ci", "basis": "declared"},
         "integer -9007199254740992 exceeds the I-JSON safe range required by JCS"),
        (dict(EXT, author="bot", passed=False, stale=True, criterion="", attested=True),
         "invalid payload: evaluation criterion must be non-empty"),
        # converted before every check, the author's included
        (dict(MALLORY, passed=1), "Writer.evaluate() argument 'passed' must be bool, not int"),
        (dict(MALLORY, score=1.0), "Writer.evaluate() argument 'score' must be int, not float"),
        (dict(MALLORY, score=2 ** 63),
         "Writer.evaluate() argument 'score' is out of range (-9223372036854775808 to 9223372036854775807)"),
        (dict(MALLORY, scale=256, uses=1), "Writer.evaluate() argument 'scale' is out of range (0 to 255)"),
        (dict(MALLORY, uses="a" * 64), "Writer.evaluate() argument 'uses' must be a list of str, not str"),
    ],
    "select": [
        ({"author": "mallory", "consider": []}, NOT_REGISTERED.format('"mallory"')),
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
    ],
}


@pytest.mark.parametrize("verb, kwargs, message", [(verb, *row) for verb, rows in ROWS.items() for row in rows])
def test_refusals_write_nothing(writer, ids, verb, kwargs, message):
    kwargs = {k: fill(v, ids) for k, v in dict(DEFAULTS[verb], **kwargs).items()}
    error = ValueError if not message.startswith("Writer.") else OverflowError if "out of range" in message else TypeError
    before = writer.receipt()
    assert refused(lambda: getattr(writer, verb)(**kwargs), error) == fill(message, ids)
    assert writer.receipt() == before


SHA = "sha256-bytes:" + "c" * 64
BAD = ("invalid artifact {}: scheme must match [a-z0-9][a-z0-9.-]* and the digest must be "
       "lowercase hex of the scheme's length")
NOT_TEXT = "Writer.candidate() argument 'artifacts' item {} value for key \"{}\" must be str, not {}"
NO_COLON = 'invalid artifact "{}" (expected scheme:digest[:name])'


@pytest.mark.parametrize("artifacts, error, message", [
    (["sha256-bytes"], ValueError, NO_COLON.format("sha256-bytes")),
    (["sha256-bytes:" + "C" * 64], ValueError, BAD.format("sha256-bytes:" + "C" * 64)),
    (["sha256-bytes:" + "c" * 40], ValueError, BAD.format("sha256-bytes:" + "c" * 40)),  # the scheme's length
    ([type("Sub", (dict,), {})(scheme=None, digest=5)], ValueError, "artifact dict requires scheme"),
    ([{"scheme": "sha256-bytes"}], ValueError, "artifact dict requires digest"),
    # scheme, then digest, then name, then the reference as a whole
    ([{"scheme": b"x", "digest": None}], TypeError, NOT_TEXT.format(0, "scheme", "bytes")),
    ([{"scheme": "bad scheme", "digest": 1, "name": 2}], TypeError, NOT_TEXT.format(0, "digest", "int")),
    ([{"scheme": "BAD", "digest": "c", "name": 2}], TypeError, NOT_TEXT.format(0, "name", "int")),
    ([{"scheme": "BAD", "digest": "c", "name": "n"}], ValueError, BAD.format("BAD:c")),
    ([["sha256-bytes", "c" * 64]], ValueError, "artifacts entries must be 'scheme:digest[:name]' strings or dicts"),
    # entry by entry
    ([SHA, "nocolon", {"scheme": 1}], ValueError, NO_COLON.format("nocolon")),
    ([SHA, {"scheme": 1}, "nocolon"], TypeError, NOT_TEXT.format(1, "scheme", "int")),
])
def test_artifact_refusals(writer, artifacts, error, message):
    assert refused(lambda: writer.candidate("bot", TREE, artifacts=artifacts), error) == message
    # judged after the author, before the algorithm
    assert refused(lambda: writer.candidate("mallory", TREE, artifacts=artifacts)) == NOT_REGISTERED.format('"mallory"')
    assert refused(lambda: writer.candidate("bot", TREE, algo="md5", artifacts=artifacts), error) == message
    assert len(writer) == 0
