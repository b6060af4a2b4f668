"""Writer.candidate and its artifacts argument: refusals in the order the
checks run, payloads against texts written by hand, upgrades, and a
manifest-bound candidate whose hash the test computes itself."""
import hashlib
import json
import os

import pytest

from conftest import MISSING

TREE = "a" * 40
SHA = "sha256-bytes:" + "c" * 64
NOT_REGISTERED = "author {} is not registered in the rules' author_roles"
BAD_ARTIFACT = ("invalid artifact {}: scheme must match [a-z0-9][a-z0-9.-]* and the digest must be "
                "lowercase hex of the scheme's length")
ENTRIES = "artifacts entries must be 'scheme:digest[:name]' strings or dicts"
EXCLUSIVE = "continues, derives_from, and upgrades are mutually exclusive"
PARENT_ALONE = "parent is only valid with continues"


def ints(hex_id):
    """An id as the canonical payload writes it: an array of its bytes."""
    return "[" + ",".join(str(b) for b in bytes.fromhex(hex_id)) + "]"


def payload_text(writer, commit_id):
    (record,) = [r for r in writer.records if r.id == commit_id]
    return record.payload_json


def refs_of(writer, commit_id):
    (record,) = [r for r in writer.records if r.id == commit_id]
    return [(r["type"], r["target"]) for r in record.refs]


def refused(call, error=ValueError):
    with pytest.raises(error) as e:
        call()
    return str(e.value)


def stored_artifacts(writer, artifacts):
    c = writer.candidate("bot", TREE, artifacts=artifacts)
    return json.loads(payload_text(writer, c.id))["artifacts"]


def art(scheme, digest, name=None):
    return {"digest": digest, "name": name, "scheme": scheme}


@pytest.mark.parametrize("given, stored", [
    ([], []),
    ([SHA], [art("sha256-bytes", "c" * 64)]),
    ([SHA + ":out.tar"], [art("sha256-bytes", "c" * 64, "out.tar")]),
    ([SHA + ":"], [art("sha256-bytes", "c" * 64, "")]),
    ([SHA + ":a:b:c"], [art("sha256-bytes", "c" * 64, "a:b:c")]),
    # descending in, ascending out; a nameless entry before a named one
    (("zz:" + "0" * 40, "git-tree-sha1:" + "f" * 40, SHA + ":n", SHA),
     [art("git-tree-sha1", "f" * 40), art("sha256-bytes", "c" * 64), art("sha256-bytes", "c" * 64, "n"),
      art("zz", "0" * 40)]),
    # one artifact given as text and as a dict, with an ignored extra key
    ([SHA, {"scheme": "sha256-bytes", "digest": "c" * 64, "name": None, "size": 3}],
     [art("sha256-bytes", "c" * 64)]),
    ([{"scheme": "x.y-z", "digest": "ab" * 64, "name": "n"}], [art("x.y-z", "ab" * 64, "n")]),
])
def test_artifacts_are_checked_and_ordered(writer, given, stored):
    assert stored_artifacts(writer, given) == stored


class Sub(dict):
    pass


ARTIFACT_ROWS = [
    (["sha256-bytes"], ValueError, 'invalid artifact "sha256-bytes" (expected scheme:digest[:name])'),
    ([":"], ValueError, BAD_ARTIFACT.format(":")),
    (["sha256-bytes:" + "C" * 64], ValueError, BAD_ARTIFACT.format("sha256-bytes:" + "C" * 64)),
    (["sha256-bytes:" + "c" * 63], ValueError, BAD_ARTIFACT.format("sha256-bytes:" + "c" * 63)),
    (["sha256-bytes:" + "c" * 40], ValueError, BAD_ARTIFACT.format("sha256-bytes:" + "c" * 40)),
    (["other:" + "c" * 38], ValueError, BAD_ARTIFACT.format("other:" + "c" * 38)),
    (["other:" + "c" * 130], ValueError, BAD_ARTIFACT.format("other:" + "c" * 130)),
    ([".x:" + "c" * 40], ValueError, BAD_ARTIFACT.format(".x:" + "c" * 40)),
    (["-x:" + "c" * 40], ValueError, BAD_ARTIFACT.format("-x:" + "c" * 40)),
    (["X:" + "c" * 40], ValueError, BAD_ARTIFACT.format("X:" + "c" * 40)),
    ([{"digest": "c" * 64}], ValueError, "artifact dict requires scheme"),
    ([Sub(scheme=None, digest=5)], ValueError, "artifact dict requires scheme"),
    ([{"scheme": "sha256-bytes", "digest": None}], ValueError, "artifact dict requires digest"),
    ([{"scheme": b"x", "digest": None}], TypeError,
     "Writer.candidate() argument 'artifacts' item 0 value for key \"scheme\" must be str, not bytes"),
    # scheme, then digest, then name, then the form of the whole
    ([{"scheme": "bad scheme", "digest": 1, "name": 2}], TypeError,
     "Writer.candidate() argument 'artifacts' item 0 value for key \"digest\" must be str, not int"),
    ([{"scheme": "BAD", "digest": "c", "name": 2}], TypeError,
     "Writer.candidate() argument 'artifacts' item 0 value for key \"name\" must be str, not int"),
    ([{"scheme": "BAD", "digest": "c", "name": "n"}], ValueError, BAD_ARTIFACT.format("BAD:c")),
    ([5], ValueError, ENTRIES),
    ([["sha256-bytes", "c" * 64]], ValueError, ENTRIES),
    # entry by entry: the first bad entry is the one reported
    ([SHA, "nocolon", 5], ValueError, 'invalid artifact "nocolon" (expected scheme:digest[:name])'),
    ([SHA, {"scheme": 1}, "nocolon"], TypeError,
     "Writer.candidate() argument 'artifacts' item 1 value for key \"scheme\" must be str, not int"),
]


@pytest.mark.parametrize("artifacts, error, message", ARTIFACT_ROWS)
def test_artifact_refusals(writer, artifacts, error, message):
    assert refused(lambda: writer.candidate("bot", TREE, artifacts=artifacts), error) == message
    # what an entry holds is judged after the author, and before the algorithm
    assert refused(lambda: writer.candidate("mallory", TREE, artifacts=artifacts)) == \
        NOT_REGISTERED.format('"mallory"')
    assert refused(lambda: writer.candidate("bot", TREE, algo="md5", artifacts=artifacts), error) == message
    assert len(writer) == 0


@pytest.fixture
def ids(writer):
    """A root candidate, its evaluation, a selection of it and another
    candidate that was committed but rejected."""
    root = writer.candidate("bot", TREE).id
    evaluation = writer.evaluate("bot", root, "tests", passed=True).id
    selection = writer.select("alice", "ship", [root], choose=[root], uses_eval=[evaluation]).id
    rejected = writer.candidate("judge", TREE)
    assert not rejected.accepted
    return {"root": root, "eval": evaluation, "sel": selection, "rejected": rejected.id}


def upgrade_message(target, what):
    return f'upgrades target "{target}" {what}'


# (keyword arguments, message); `{root}` and the like are filled from `ids`.
CANDIDATE_ROWS = [
    ({"author": "Bot"}, NOT_REGISTERED.format('"Bot"')),
    ({"algo": "SHA256"}, 'invalid algo "SHA256"'),
    ({"algo": "sha256 "}, 'invalid algo "sha256 "'),
    ({"algo": "md5", "continues": "x", "upgrades": "y"}, 'invalid algo "md5"'),
    ({"continues": "{sel}", "derives_from": []}, EXCLUSIVE),
    ({"derives_from": ["{root}"], "upgrades": "{root}", "parent": "x"}, EXCLUSIVE),
    ({"parent": "{root}"}, PARENT_ALONE),
    ({"parent": "{root}", "derives_from": ["{root}"]}, PARENT_ALONE),
    ({"continues": "{sel}"}, "continues requires parent (the continued candidate id)"),
    ({"continues": "bad c", "parent": "bad p"}, 'invalid record id "bad p"'),
    ({"continues": "bad c", "parent": "{root}"}, 'invalid record id "bad c"'),
    ({"derives_from": []}, "derives_from requires at least one id"),
    ({"derives_from": ["{root}", "X", "Y"]}, 'invalid record id "X"'),
    ({"upgrades": "{root}".upper()}, 'invalid record id "{ROOT}"'),
    ({"upgrades": MISSING}, upgrade_message(MISSING, "is not a Candidate in this log")),
    ({"upgrades": "{eval}"}, upgrade_message("{eval}", "is not a Candidate in this log")),
    ({"upgrades": "{rejected}"}, upgrade_message("{rejected}", "is not an accepted Candidate")),
    ({"upgrades": "{root}", "git_tree": "b" * 40},
     f'refusing upgrade: git_tree "{"b" * 40}" differs from the target\'s tree "{TREE}"'),
    # the lineage is checked before the directory is walked
    ({"upgrades": "{eval}", "manifest": "/no/such/dir"}, upgrade_message("{eval}", "is not a Candidate in this log")),
    ({"manifest": "/no/such/dir"}, "cannot walk tree /no/such/dir: No such file or directory (os error 2)"),
    ({"manifest": "/no\0such"}, "cannot walk tree /no\0such: path contains a NUL character"),
]


def fill(value, ids):
    if isinstance(value, list):
        return [fill(v, ids) for v in value]
    if isinstance(value, str):
        return value.format(**ids, ROOT=ids["root"].upper())
    return value


@pytest.mark.parametrize("kwargs, message", CANDIDATE_ROWS)
def test_candidate_refusals(writer, ids, kwargs, message):
    kwargs = {k: fill(v, ids) for k, v in kwargs.items()}
    kwargs.setdefault("author", "bot")
    kwargs.setdefault("git_tree", TREE)
    before = len(writer)
    assert refused(lambda: writer.candidate(**kwargs)) == fill(message, ids)
    assert len(writer) == before


def test_upgrading_a_retracted_candidate(writer, ids):
    assert writer.retract("bot", ids["root"], "wrong").accepted
    message = upgrade_message(ids["root"], "is retracted; upgrade a live candidate")
    assert refused(lambda: writer.candidate("bot", TREE, upgrades=ids["root"])) == message


TYPE_ROWS = [
    ({"algo": None}, "Writer.candidate() argument 'algo' must be str, not NoneType"),
    ({"derives_from": "a" * 64}, "Writer.candidate() argument 'derives_from' must be a list of str, not str"),
    ({"artifacts": SHA}, "Writer.candidate() argument 'artifacts' must be a list of str or dict, not str"),
    ({"artifacts": {"scheme": "x"}}, "Writer.candidate() argument 'artifacts' must be a list of str or dict, not dict"),
    ({"manifest": b"/tmp"}, "Writer.candidate() argument 'manifest' must be str, not bytes"),
    # conversion, in signature order, before the author is looked at
    ({"author": "mallory", "note": 1, "parent": 2}, "Writer.candidate() argument 'note' must be str, not int"),
]


@pytest.mark.parametrize("kwargs, message", TYPE_ROWS)
def test_candidate_argument_types(writer, kwargs, message):
    kwargs.setdefault("author", "bot")
    assert refused(lambda: writer.candidate(git_tree=TREE, **kwargs), TypeError) == message
    with pytest.raises(TypeError, match=r"takes exactly 2 positional arguments but 3 were given"):
        writer.candidate("bot", TREE, "sha1")


def test_candidate_payloads(writer, ids):
    root = writer.candidate("bot", TREE)
    assert payload_text(writer, root.id) == (
        '{"basis":"root","note":null,"parent":null,"source":{"binding":"reported","git":'
        '{"algo":"sha1","commit":null,"tree":"' + TREE + '"},"manifest_hash":null}}')
    assert refs_of(writer, root.id) == []

    cont = writer.candidate("bot", "b" * 64, algo="sha256", git_commit="c" * 64, note="n\u00e9",
                            continues=ids["sel"], parent=ids["root"], artifacts=[SHA + ":x"])
    assert cont.accepted
    assert payload_text(writer, cont.id) == (
        '{"artifacts":[{"digest":"' + "c" * 64 + '","name":"x","scheme":"sha256-bytes"}],'
        '"basis":"continuation","note":"n\u00e9","parent":' + ints(ids["root"]) + ','
        '"source":{"binding":"reported","git":{"algo":"sha256","commit":"' + "c" * 64 + '",'
        '"tree":"' + "b" * 64 + '"},"manifest_hash":null}}')
    assert refs_of(writer, cont.id) == [("Cause", ids["sel"])]

    derived = writer.candidate("bot", "e" * 40, derives_from=(cont.id, ids["root"], cont.id), artifacts=[])
    assert derived.accepted
    assert payload_text(writer, derived.id) == (
        '{"artifacts":[],"basis":"derivation","note":null,"parent":null,"source":{"binding":"reported","git":'
        '{"algo":"sha1","commit":null,"tree":"' + "e" * 40 + '"},"manifest_hash":null}}')
    assert refs_of(writer, derived.id) == sorted([("Cause", cont.id), ("Cause", ids["root"])])

    upgrade = writer.candidate("bot", "e" * 40, upgrades=derived.id)
    assert upgrade.accepted and refs_of(writer, upgrade.id) == [("Cause", derived.id)]
    assert json.loads(payload_text(writer, upgrade.id))["basis"] == "derivation"


def test_verifier_judges_what_the_verb_passes_on(writer, ids):
    # the form of the trees and the kinds the lineage ids name are the verifier's
    assert writer.candidate("bot", "not hex").reason == "SourceBindingInvalid"
    assert writer.candidate("bot", TREE, algo="sha256").reason == "SourceBindingInvalid"
    assert writer.candidate("bot", TREE, derives_from=[MISSING]).reason == "RefUnresolved"
    assert writer.candidate("bot", TREE, continues=ids["root"], parent=ids["root"]).reason == "LineageInvalid"


def manifest_hash(root):
    """The manifest hash computed here, independently of the module: every
    file and symbolic link under root with its mode and SHA-256, as canonical
    JSON (sorted keys, no blanks; the texts are ASCII)."""
    doc = {}
    for directory, subdirs, files in os.walk(root):
        for name in files + [d for d in subdirs if os.path.islink(os.path.join(directory, d))]:
            path = os.path.join(directory, name)
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            if os.path.islink(path):
                mode, data = "120000", os.readlink(path).encode()
            else:
                mode = "100755" if os.stat(path).st_mode & 0o100 else "100644"
                with open(path, "rb") as f:
                    data = f.read()
            doc[rel] = {"mode": mode, "sha256": hashlib.sha256(data).hexdigest()}
    text = json.dumps(doc, sort_keys=True, separators=(",", ":"), ensure_ascii=False)
    return hashlib.sha256(text.encode()).hexdigest()


def test_manifest_bound_candidate(writer, tmp_path, monkeypatch):
    tree = tmp_path / "tree"
    (tree / "src" / "empty").mkdir(parents=True)
    (tree / "README").write_text("hello\n")
    (tree / "src" / "main.c").write_text("int main(void) { return 0; }\n")
    run = tree / "run.sh"
    run.write_text("#!/bin/sh\necho hi\n")
    run.chmod(0o755)
    (tree / "link").symlink_to("src/main.c")
    (tree / "dirlink").symlink_to("src")
    expected = manifest_hash(str(tree))

    c = writer.candidate("bot", TREE, manifest=str(tree))
    assert c.accepted
    assert payload_text(writer, c.id) == (
        '{"basis":"root","note":null,"parent":null,"source":{"binding":"manifest","git":'
        '{"algo":"sha1","commit":null,"tree":"' + TREE + '"},"manifest_hash":' + ints(expected) + '}}')
    # a relative path resolves against the working directory
    monkeypatch.chdir(tmp_path)
    again = writer.candidate("bot", TREE, manifest="tree", note="again")
    assert json.loads(payload_text(writer, again.id))["source"]["manifest_hash"] == list(bytes.fromhex(expected))
