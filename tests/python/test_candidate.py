"""Writer.candidate: refusals in check order, payloads, and a manifest hash computed here."""
import hashlib
import json
import os

import pytest

from conftest import fill, ints, record_of, refs_of, refused

TREE = "a" * 40
SHA = "sha256-bytes:" + "c" * 64
NOT_REGISTERED = 'author "mallory" is not registered in the rules\' author_roles'
BAD = ("invalid artifact {}: scheme must match [a-z0-9][a-z0-9.-]* and the digest must be "
       "lowercase hex of the scheme's length")
NOT_TEXT = "Writer.candidate() argument 'artifacts' item {} value for key \"{}\" must be str, not {}"
NO_COLON = 'invalid artifact "{}" (expected scheme:digest[:name])'
EXCLUSIVE = "continues, derives_from, and upgrades are mutually exclusive"


def art(scheme, digest, name=None):
    return {"digest": digest, "name": name, "scheme": scheme}


@pytest.mark.parametrize("given, stored", [
    ([SHA + ":a:b:c", SHA + ":"], [art("sha256-bytes", "c" * 64, ""), art("sha256-bytes", "c" * 64, "a:b:c")]),
    # descending in, ascending out; a nameless entry before a named one; a
    # repeat given as text and as a dict (extra keys ignored) kept once
    (("zz:" + "0" * 40, "git-tree-sha1:" + "f" * 40, SHA + ":n", SHA,
      {"scheme": "sha256-bytes", "digest": "c" * 64, "name": None, "size": 3}),
     [art("git-tree-sha1", "f" * 40), art("sha256-bytes", "c" * 64), art("sha256-bytes", "c" * 64, "n"),
      art("zz", "0" * 40)]),
])
def test_artifacts_are_checked_and_ordered(writer, given, stored):
    c = writer.candidate("bot", TREE, artifacts=given)
    assert json.loads(record_of(writer, c.id).payload_json)["artifacts"] == stored


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
    ([SHA, "nocolon", 5], ValueError, NO_COLON.format("nocolon")),
    ([SHA, {"scheme": 1}, "nocolon"], TypeError, NOT_TEXT.format(1, "scheme", "int")),
])
def test_artifact_refusals(writer, artifacts, error, message):
    assert refused(lambda: writer.candidate("bot", TREE, artifacts=artifacts), error) == message
    # judged after the author, before the algorithm
    assert refused(lambda: writer.candidate("mallory", TREE, artifacts=artifacts)) == NOT_REGISTERED
    assert refused(lambda: writer.candidate("bot", TREE, algo="md5", artifacts=artifacts), error) == message
    assert len(writer) == 0


@pytest.fixture
def ids(writer):
    """A root candidate, its evaluation, a selection of it, and a candidate
    that was committed but rejected."""
    root = writer.candidate("bot", TREE).id
    evaluation = writer.evaluate("bot", root, "tests", passed=True).id
    selection = writer.select("alice", "ship", [root], choose=[root], uses_eval=[evaluation]).id
    rejected = writer.candidate("judge", TREE)
    assert not rejected.accepted
    return {"root": root, "eval": evaluation, "sel": selection, "rejected": rejected.id}


UPGRADE = 'upgrades target "{}" '
CANDIDATE_ROWS = [
    ({"author": "mallory", "algo": "md5"}, NOT_REGISTERED),
    ({"algo": "SHA256", "continues": "x", "upgrades": "y"}, 'invalid algo "SHA256"'),
    ({"continues": "{sel}", "derives_from": []}, EXCLUSIVE),
    ({"derives_from": ["{root}"], "upgrades": "{root}", "parent": "x"}, EXCLUSIVE),
    ({"parent": "{root}", "derives_from": ["{root}"]}, "parent is only valid with continues"),
    ({"continues": "{sel}"}, "continues requires parent (the continued candidate id)"),
    ({"continues": "bad c", "parent": "bad p"}, 'invalid record id "bad p"'),
    ({"continues": "bad c", "parent": "{root}"}, 'invalid record id "bad c"'),
    ({"derives_from": []}, "derives_from requires at least one id"),
    ({"derives_from": ["{root}", "X\ud800", "Y"]}, 'invalid record id "X\\u{{d800}}"'),
    # the lineage is checked before the directory is walked
    ({"upgrades": "{eval}", "manifest": "/no/such"}, UPGRADE.format("{eval}") + "is not a Candidate in this log"),
    ({"upgrades": "{rejected}"}, UPGRADE.format("{rejected}") + "is not an accepted Candidate"),
    ({"upgrades": "{root}", "git_tree": "b" * 40},
     f'refusing upgrade: git_tree "{"b" * 40}" differs from the target\'s tree "{TREE}"'),
    ({"manifest": "/no/such"}, "cannot walk tree /no/such: No such file or directory (os error 2)"),
    ({"manifest": "/no\0such"}, "cannot walk tree /no\0such: path contains a NUL character"),
    ({"derives_from": "a" * 64}, "Writer.candidate() argument 'derives_from' must be a list of str, not str"),
    ({"artifacts": {"scheme": "x"}},
     "Writer.candidate() argument 'artifacts' must be a list of str or dict, not dict"),
    # in signature order, before the author is looked at
    ({"author": "mallory", "note": 1, "manifest": b"/"}, "Writer.candidate() argument 'note' must be str, not int"),
]


@pytest.mark.parametrize("kwargs, message", CANDIDATE_ROWS)
def test_candidate_refusals(writer, ids, kwargs, message):
    kwargs = dict({"author": "bot", "git_tree": TREE}, **{k: fill(v, ids) for k, v in kwargs.items()})
    before = len(writer)
    error = TypeError if message.startswith("Writer.") else ValueError
    assert refused(lambda: writer.candidate(**kwargs), error) == fill(message, ids)
    assert len(writer) == before


def source(tree, algo="sha1", commit="null", binding="reported", manifest="null"):
    return (f'"source":{{"binding":"{binding}","git":{{"algo":"{algo}","commit":{commit},"tree":"{tree}"}},'
            f'"manifest_hash":{manifest}}}}}')


def test_candidate_payloads(writer, ids):
    root = writer.candidate("bot", TREE)
    assert record_of(writer, root.id).payload_json == '{"basis":"root","note":null,"parent":null,' + source(TREE)
    cont = writer.candidate("bot", "b" * 64, algo="sha256", git_commit="c" * 64, note="n\u00e9",
                            continues=ids["sel"], parent=ids["root"], artifacts=[SHA + ":x"])
    assert cont.accepted and refs_of(writer, cont.id) == [("Cause", ids["sel"])]
    assert record_of(writer, cont.id).payload_json == (
        '{"artifacts":[{"digest":"' + "c" * 64 + '","name":"x","scheme":"sha256-bytes"}],"basis":"continuation",'
        '"note":"n\u00e9","parent":' + ints(ids["root"]) + "," + source("b" * 64, "sha256", f'"{"c" * 64}"'))
    derived = writer.candidate("bot", "e" * 40, derives_from=(cont.id, ids["root"], cont.id), artifacts=[])
    assert derived.accepted and refs_of(writer, derived.id) == sorted([("Cause", cont.id), ("Cause", ids["root"])])
    assert record_of(writer, derived.id).payload_json == (
        '{"artifacts":[],"basis":"derivation","note":null,"parent":null,' + source("e" * 40))
    upgrade = writer.candidate("bot", "e" * 40, upgrades=derived.id)
    assert upgrade.accepted and refs_of(writer, upgrade.id) == [("Cause", derived.id)]
    assert json.loads(record_of(writer, upgrade.id).payload_json)["basis"] == "derivation"
    # the form of a tree is the verifier's to judge
    assert writer.candidate("bot", "not hex").reason == "SourceBindingInvalid"
    assert writer.retract("bot", ids["root"], "wrong").accepted
    assert refused(lambda: writer.candidate("bot", TREE, upgrades=ids["root"])) == \
        UPGRADE.format(ids["root"]) + "is retracted; upgrade a live candidate"


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
