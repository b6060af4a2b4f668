"""What each verb commits: payloads, refs, schemas and rejections, and a
manifest hash computed here."""
import hashlib
import json
import os

import pytest

from conftest import MISSING, TREE, ints, payload, record_of, refs_of, refused

SPACE = list(hashlib.sha256(b"quintrel.default_space.v1").digest())
SHA = "sha256-bytes:" + "c" * 64
EXT = {"evaluator": "ci", "basis": "declared", "passed": True}


def art(scheme, digest, name=None):
    return {"digest": digest, "name": name, "scheme": scheme}


def schema(name):
    return hashlib.sha256(name.encode()).hexdigest()


def test_request_requirement_and_retraction_payloads(writer):
    c = writer.request("alice", "")  # an empty objective is passed on
    assert payload(writer, c.id) == {"attachments": [], "objective": "", "parent_request_id": None, "scope": SPACE}
    rejected = writer.request("bot", "a provider may not request")
    assert (rejected.accepted, rejected.result, rejected.reason) == (False, "reject", "AuthorRoleInvalid")
    assert repr(rejected) == f'Commit(id={rejected.id[:12]}..., accepted=False, reason=Some("AuthorRoleInvalid"))'
    assert repr(c) == f"Commit(id={c.id[:12]}..., accepted=True, reason=None)"
    assert (c.result, c.reason) == ("accept", None)
    assert len(writer) == 4

    r = writer.requirement("alice", c.id, "k1", " ")
    assert payload(writer, r.id) == {
        "description": " ", "expected_evidence": None, "key": "k1", "provenance": "user_authored",
        "required": True}
    r = writer.requirement("alice", c.id, "k2", "d", required=False, expected_evidence="a log",
                           provenance="user-authored")
    assert payload(writer, r.id) == {
        "description": "d", "expected_evidence": "a log", "key": "k2", "provenance": "user_authored",
        "required": False}
    r = writer.requirement(author="bot", request=c.id, key="k3", description="d")
    assert r.accepted and payload(writer, r.id)["provenance"] == "derived"
    assert refs_of(writer, r.id) == [("Cause", c.id)]
    for target in (rejected.id, r.id):
        assert refused(lambda: writer.requirement("alice", target, "k", "d")) == (
            f'request "{target}" is not an accepted Request in this log')

    # who may retract what is the verifier's to judge; here, what the verb commits
    missing = writer.retract("alice", MISSING, "")
    assert (missing.accepted, missing.reason) == (False, "RefUnresolved")
    assert payload(writer, missing.id) == {"reason": "", "target_id": list(bytes.fromhex(MISSING))}
    own = writer.retract("alice", c.id, "wrong")
    assert own.accepted and refs_of(writer, own.id) == [("Cause", c.id)]


def test_numpy_bools_are_bools(writer, ids):
    # a class named like numpy's bool is no bool
    fake = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: True})
    with pytest.raises(TypeError, match="argument 'required' must be bool, not bool_"):
        writer.requirement("alice", ids["req"], "k", "d", required=fake())
    np = pytest.importorskip("numpy")
    c = writer.requirement("alice", ids["req"], "k", "d", required=np.bool_(False))
    assert payload(writer, c.id)["required"] is False
    for value in (np.int64(1), np.array(True)):
        with pytest.raises(TypeError, match="argument 'required' must be bool"):
            writer.requirement("alice", ids["req"], "k3", "d", required=value)


def source(tree, algo="sha1", commit="null", binding="reported", manifest="null"):
    return (f'"source":{{"binding":"{binding}","git":{{"algo":"{algo}","commit":{commit},"tree":"{tree}"}},'
            f'"manifest_hash":{manifest}}}}}')


def test_candidate_payloads(writer, ids):
    root = writer.candidate("bot", TREE)
    assert record_of(writer, root.id).payload_json == '{"basis":"root","note":null,"parent":null,' + source(TREE)
    # descending in, ascending out; a nameless entry before a named one; a
    # repeat given as text and as a dict (extra keys ignored) kept once
    for given, stored in [
        ([SHA + ":a:b:c", SHA + ":"], [art("sha256-bytes", "c" * 64, ""), art("sha256-bytes", "c" * 64, "a:b:c")]),
        (("zz:" + "0" * 40, "git-tree-sha1:" + "f" * 40, SHA + ":n", SHA,
          {"scheme": "sha256-bytes", "digest": "c" * 64, "name": None, "size": 3}),
         [art("git-tree-sha1", "f" * 40), art("sha256-bytes", "c" * 64), art("sha256-bytes", "c" * 64, "n"),
          art("zz", "0" * 40)]),
    ]:
        assert payload(writer, writer.candidate("bot", TREE, artifacts=given).id)["artifacts"] == stored
    cont = writer.candidate("bot", "b" * 64, algo="sha256", git_commit="c" * 64, note="n\u00e9",
                            continues=ids["sel"], parent=ids["cand"], artifacts=[SHA + ":x"])
    assert cont.accepted and refs_of(writer, cont.id) == [("Cause", ids["sel"])]
    assert record_of(writer, cont.id).payload_json == (
        '{"artifacts":[{"digest":"' + "c" * 64 + '","name":"x","scheme":"sha256-bytes"}],"basis":"continuation",'
        '"note":"n\u00e9","parent":' + ints(ids["cand"]) + "," + source("b" * 64, "sha256", f'"{"c" * 64}"'))
    derived = writer.candidate("bot", "e" * 40, derives_from=(cont.id, ids["cand"], cont.id), artifacts=[])
    assert derived.accepted and refs_of(writer, derived.id) == sorted([("Cause", cont.id), ("Cause", ids["cand"])])
    assert record_of(writer, derived.id).payload_json == (
        '{"artifacts":[],"basis":"derivation","note":null,"parent":null,' + source("e" * 40))
    upgrade = writer.candidate("bot", "e" * 40, upgrades=derived.id)
    assert upgrade.accepted and refs_of(writer, upgrade.id) == [("Cause", derived.id)]
    assert payload(writer, upgrade.id)["basis"] == "derivation"
    # the form of a tree is the verifier's to judge
    assert writer.candidate("bot", "not hex").reason == "SourceBindingInvalid"
    assert writer.retract("bot", ids["cand"], "wrong").accepted
    assert refused(lambda: writer.candidate("bot", TREE, upgrades=ids["cand"])) == \
        f'upgrades target "{ids["cand"]}" is retracted; upgrade a live candidate'


def manifest_hash(root):
    """Computed here, independently of the module: every file and symbolic
    link under root with its mode and SHA-256, as canonical JSON (sorted
    keys, no blanks; the texts are ASCII)."""
    doc = {}
    for directory, subdirs, files in os.walk(root):
        for name in files + [d for d in subdirs if os.path.islink(os.path.join(directory, d))]:
            path = os.path.join(directory, name)
            if os.path.islink(path):
                mode, data = "120000", os.readlink(path).encode()
            else:
                mode = "100755" if os.stat(path).st_mode & 0o100 else "100644"
                with open(path, "rb") as f:
                    data = f.read()
            doc[os.path.relpath(path, root)] = {"mode": mode, "sha256": hashlib.sha256(data).hexdigest()}
    return hashlib.sha256(json.dumps(doc, sort_keys=True, separators=(",", ":")).encode()).hexdigest()


def test_manifest_bound_candidate(writer, tmp_path, monkeypatch):
    tree = tmp_path / "tree"
    (tree / "src" / "empty").mkdir(parents=True)
    (tree / "README").write_text("hello\n")
    (tree / "src" / "main.c").write_text("int main(void) { return 0; }\n")
    (tree / "run.sh").write_text("#!/bin/sh\necho hi\n")
    (tree / "run.sh").chmod(0o755)
    (tree / "link").symlink_to("src/main.c")
    (tree / "dirlink").symlink_to("src")
    expected = ints(manifest_hash(str(tree)))
    c = writer.candidate("bot", TREE, manifest=str(tree))
    assert c.accepted and record_of(writer, c.id).payload_json == (
        '{"basis":"root","note":null,"parent":null,' + source(TREE, binding="manifest", manifest=expected))
    monkeypatch.chdir(tmp_path)  # a relative path resolves against the working directory
    again = writer.candidate("bot", TREE, manifest="tree", note="again")
    assert f'"manifest_hash":{expected}' in record_of(writer, again.id).payload_json


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
        assert payload(writer, c.id)["outcome"] == outcome


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
    assert payload(writer, empty.id)["outcome"] == {"selected": {"candidates": []}}
