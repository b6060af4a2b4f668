"""The queries of Writer and Receipt over the C++ query tests' lineage, and their index."""
import json
import os
import random
import struct

import pytest

import quintrel
from conftest import MISSING, run_on_thread

with open(os.path.join(os.path.dirname(__file__), "..", "data", "lineage.receipt.json"), "rb") as f:
    LINEAGE = f.read()
# The subjects of the lineage in log order, each followed by its Verdict.
NAMES = ["req", "rq", "c1", "c2", "e1", "e2", "s1", "c3", "c4", "c5", "c6", "x", "s2", "e3", "s3", "s4", "bad"]
BY_ID = ["descent", "descendants", "siblings", "standing", "evidence"]
QUERIES = BY_ID + ["frontier", "selected"]
OBJECTIVES = ["ship", "other", "Ship ", ""]


@pytest.fixture
def lineage():
    return quintrel.read(LINEAGE)


@pytest.fixture
def ids(lineage):
    named = dict(zip(NAMES, (r.id for r in lineage.records[0::2])))
    return {**named, "verdict": lineage.records[-1].id}


def writer_of(log_dir):
    """A Writer over a log directory holding the lineage's records."""
    receipt = json.loads(LINEAGE)
    os.makedirs(log_dir)
    with open(os.path.join(log_dir, "records.log"), "wb") as f:
        for record in receipt["records"]:
            body = json.dumps(record, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()
            f.write(struct.pack(">I", len(body)) + body)
    return quintrel.Writer(log_dir, json.dumps(receipt["rules"]))


def ask(obj, query, *args):
    """The answer, or the text of the ValueError raised instead."""
    try:
        return getattr(obj, query)(*args)
    except ValueError as e:
        return f"ValueError: {e}"


def answers(obj, ids):
    out = {(q, i): ask(obj, q, i) for q in BY_ID for i in ids}
    out["frontier"] = ask(obj, "frontier")
    out.update({("selected", o): ask(obj, "selected", o) for o in OBJECTIVES})
    return out


def test_writer_and_receipt_agree(lineage, ids, log_dir):
    w = writer_of(log_dir)
    every = [r.id for r in lineage.records] + [MISSING]
    assert answers(w, every) == answers(lineage, every)
    # dicts in ascending key order, the node's optional lists left out when empty
    s1 = lineage.standing(ids["s1"])
    assert s1 == {"node": {"id": ids["s1"], "kind": "Selection", "retracted": False, "standing": "unsound",
                           "tainted": True}, "restorations": [ids["s2"]]}
    assert list(s1) == ["node", "restorations"] and list(s1["node"]) == ["id", "kind", "retracted", "standing", "tainted"]
    e1 = lineage.evidence(ids["s2"])["rests_on"][0]["evidence"][0]
    assert (list(e1), e1["outcome"]) == (["criterion", "node", "outcome"], "passed")
    assert list(e1["node"]) == ["artifacts", "id", "kind", "requirements", "retracted", "standing", "tainted"]
    assert e1["node"]["artifacts"][0] == {"digest": "c" * 64, "name": "report", "scheme": "sha256-bytes"}
    assert [s["node"]["id"] for s in lineage.descent(ids["c3"])["line"]] == [ids["s1"], ids["c1"]]
    assert lineage.selected("Ship ") == {"objective": "Ship ", "selections": []}
    # a Receipt, unlike a Writer, may be used on another thread
    assert run_on_thread(lambda: lineage.evidence(ids["c6"])) == (w.evidence(ids["c6"]), None)

    for obj in (w, lineage):
        # a refusal of the queries raises ValueError (their texts: the C++ query tests)
        assert ask(obj, "descent", ids["req"]) == f"ValueError: record {ids['req']} is not a Candidate"
        for query in BY_ID:
            assert ask(obj, query, "ABC") == 'ValueError: invalid record id "ABC"'
            assert ask(obj, query, "\udbff") == 'ValueError: invalid record id "\\u{dbff}"'
            with pytest.raises(TypeError, match=r"argument 'id' must be str, not int"):
                getattr(obj, query)(5)
        with pytest.raises(TypeError):
            obj.frontier(ids["c1"])
        with pytest.raises(TypeError, match="argument 'objective' must be str"):
            obj.selected(None)
        assert obj.descent(id=ids["c1"]) == obj.descent(ids["c1"])


def test_edited_receipts(lineage, ids):
    receipt = json.loads(LINEAGE)
    del receipt["records"][-1]  # the last subject loses its Verdict
    broken = quintrel.read(json.dumps(receipt).encode())
    for query in QUERIES:
        args = () if query == "frontier" else ("ship",) if query == "selected" else (ids["c1"],)
        assert ask(broken, query, *args) == "ValueError: log does not verify: Some(InvalidPayload)"
    with pytest.raises(ValueError, match="^invalid record id"):  # the id is read first
        broken.descent("c1")
    # Version 0.3 knows no version 2 evaluation, which the rules map and the
    # lineage uses: validation refuses it, the queries do not narrow the rules.
    older = json.loads(LINEAGE)
    older["spec_version"] = "0.3"
    older = json.dumps(older).encode()
    assert quintrel.validate(older).status == "invalid"
    assert answers(quintrel.read(older), list(ids.values())) == answers(lineage, list(ids.values()))


def test_cached_answers_follow_commits(log_dir, monkeypatch):
    """json.loads, which turns an answer into Python objects, may use the
    Writer freely, even commit to it; and after every step of a random
    workflow the Writer, whose index lives until its next commit, answers as a
    receipt read afresh."""
    w = writer_of(log_dir)
    loads, seen = json.loads, []

    def committing_loads(text):
        seen.append(w.request("user", "from inside").accepted)
        return loads(text)

    before = w.frontier()
    monkeypatch.setattr(json, "loads", committing_loads)
    assert w.frontier() == before and seen == [True]
    monkeypatch.undo()
    assert w.frontier() == before and len(w) == len(quintrel.read(LINEAGE)) + 2

    rng = random.Random(19)
    requests = [r.id for r in w.records if r.kind == "Request"]
    retracted = 0
    for step in range(25):
        verb = rng.choice(["request", "requirement", "retract", "retract"])
        if verb == "request":
            commit = w.request("user", f"objective {step}")
            if commit.accepted:
                requests.append(commit.id)
        elif verb == "requirement":
            w.requirement(rng.choice(["user", "provider"]), rng.choice(requests), f"key {step}", "text")
        else:
            target = rng.choice([r for r in w.records if r.kind != "Verdict"])
            retracted += w.retract(target.author_id if rng.random() < 0.8 else "provider", target.id, "wrong").accepted
        every = [r.id for r in w.records]
        sample = rng.sample(every, 12) + [every[-1], every[-2]]
        ask(w, "frontier")  # the index built, then reused
        assert answers(w, sample) == answers(quintrel.read(w.receipt()), sample), step
    assert retracted > 3
