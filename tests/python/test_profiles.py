"""A receipt declaring the three profiles, validated from Python."""
import hashlib
import json

import quintrel
from conftest import SEED

PROFILES = ["quintrel-core-v1", "quintrel-core-signed-v1", "delivery-receipt-v1"]
# The Ed25519 public key of SEED.
ALICE_KEY = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a"


def test_receipt_declaring_the_three_profiles(log_dir):
    rules = quintrel.default_rules({"alice": "user", "bob": "user"}, signed=True, author_keys={"alice": [ALICE_KEY]})
    w = quintrel.Writer(log_dir, rules, {"alice": SEED})
    request = w.request("alice", "ship the parser").id
    assert w.requirement("alice", request, "tests", "the parser has tests").accepted
    assert w.requirement("bob", request, "docs", "unsigned, so rejected").reason == "SignatureMissing"
    receipt = w.receipt(profiles=PROFILES)
    report = quintrel.validate(receipt)
    hashes = {p["id"]: bytes(p["hash"]).hex() for p in json.loads(receipt)["profiles"]}  # the C++ tests pin them

    clauses = {
        "quintrel-core-v1": [
            ("B1", True, "status Clean"),
            ("B2", True, "2 registered author role(s)"),
            ("B3", True, "Candidate=Reported, Evaluation=Reported, Selection=Inferred"),
            ("B4", True, "max_context_records 200"),
            ("B5", True, "admin_retraction_actors [], reaffirmation_actors []"),
            ("B6", True, "candidates: 0 manifest-bound, 0 reported"),
        ],
        "quintrel-core-signed-v1": [
            ("S0", True, "quintrel-core-v1: Conformant (declared, declaration matches)"),
            ("S1", True, "signatures required for Candidate, Evaluation, Selection, Retraction, Requirement"),
            ("S2", True, "1 pinned author(s) of evolution records: [alice]"),
            ("S3", True, "0 evaluation(s) used by selections, all attested"),
        ],
        "delivery-receipt-v1": [
            ("D0", False, "no delivery claim: no accepted Selected selection whose used evaluations bind to "
                          "requirements of exactly one request"),
        ] + [(f"D{n}", False, "no claim to evaluate") for n in range(1, 8)],
    }
    expected = []
    for name in PROFILES:
        met = all(passed for _, passed, _ in clauses[name])
        expected.append({
            "id": name, "hash": hashes[name], "status": "Conformant" if met else "NonConformant",
            "declared": True, "declaration_matches": True, "met": met,
            "clauses": [{"id": i, "passed": p, "detail": d} for i, p, d in clauses[name]],
        })
    assert report.profiles == expected


def artifacts(numbers):
    return [f"sha256-bytes:{hashlib.sha256(str(n).encode()).hexdigest()}" for n in numbers]


def shared_evaluation(w, carried, cited, claims):
    """A candidate carrying `carried`, an evaluation of it bound to no
    requirement citing `cited`, and `claims` requests, each with a required
    requirement, an evaluation of its own bound to it citing the first carried
    artifact, and a selection of the candidate using both."""
    bound = dict(passed=True, evaluator="ci", basis="recomputed", procedure_hash=ALICE_KEY, input_hash=ALICE_KEY)
    c = w.candidate("bot", "a" * 40, artifacts=artifacts(carried)).id
    shared = w.evaluate("sys", c, "build", artifacts=artifacts(cited), **bound).id
    selections = []
    for i in range(claims):
        q = w.requirement("alice", w.request("alice", f"release {i}").id, "tests", "the tests pass").id
        own = w.evaluate("sys", c, "tests", requirements=[q], artifacts=artifacts(carried[:1]), **bound).id
        selections.append(w.select("alice", "ship", [c], choose=[c], uses_eval=[shared, own]).id)
    receipt = w.receipt()
    return receipt, quintrel.validate(receipt, "delivery-receipt-v1"), shared, selections


def test_evidence_shared_by_many_claims(tmp_path, rules):
    """Whether an evaluation's evidence is on the record is worked out once
    for all the claims that share it: a sound receipt passes however many
    citations its claims repeat; a failing one lists a bounded number of its
    citations per claim and counts the rest."""
    _, sound, _, _ = shared_evaluation(quintrel.Writer(str(tmp_path / "a"), rules), range(5000), range(5000), 16)
    assert sound.profiles[0]["status"] == "Conformant"
    receipt, crafted, e, (s, *_) = shared_evaluation(
        quintrel.Writer(str(tmp_path / "b"), rules), range(1), range(1, 2001), 6)
    d3 = crafted.profiles[0]["clauses"][3]
    cites = [f"{e[:12]} cites {a} which is not on the record" for a in sorted(artifacts(range(1, 2001)))[:4]]
    part = f"{s[:12]}: " + "; ".join(cites + [f"{e[:12]} cites 1996 more artifact(s) which are not on the record"])
    assert not d3["passed"] and d3["detail"].startswith(part + "; ")
    assert len(str(crafted)) < len(receipt) / 4
