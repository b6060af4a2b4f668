"""read and validate, and the Report, Receipt and Record views."""
import hashlib
import json

import pytest

import quintrel
from conftest import ZERO, refused

LIMIT = 64 << 20


@pytest.fixture
def receipt(writer):
    writer.request("alice", "one")
    writer.request("bob", "two")
    return writer.receipt()


def edited(receipt, change):
    value = json.loads(receipt)
    change(value)
    return json.dumps(value).encode()


@pytest.mark.parametrize("function", [quintrel.read, quintrel.validate])
@pytest.mark.parametrize("data", ["{}", bytearray(b"{}"), memoryview(b"{}"), None])
def test_data_must_be_bytes(function, data):
    assert refused(lambda: function(data), TypeError) == (
        f"{function.__name__}() argument 'data' must be bytes, not {type(data).__name__}")


def test_profiles_required_and_declared(writer, receipt):
    for form in ([1], {"quintrel-core-v1": 1}, 5, b"quintrel-core-v1"):
        assert refused(lambda: quintrel.validate(receipt, form)) == (
            "require_profile must be a profile id (str) or a list of ids")
        with pytest.raises(TypeError):  # data is checked first
            quintrel.validate("x", form)
    report = quintrel.validate(receipt, "quintrel-core-v1")
    one = report.profiles
    assert one == quintrel.validate(receipt, ["quintrel-core-v1"]).profiles
    assert one == quintrel.validate(receipt, require_profile=("quintrel-core-v1",)).profiles
    assert one[0]["declared"] is False and one[0]["declaration_matches"] is None and one[0]["met"] is True
    unknown = quintrel.validate(receipt, ["nope", ""]).profiles
    assert [(p["id"], p["status"], p["hash"], p["clauses"]) for p in unknown] == [
        ("nope", "Unknown", ZERO, []), ("", "Unknown", ZERO, [])]
    assert quintrel.validate(receipt).profiles == quintrel.validate(receipt, None).profiles == []
    one[0]["id"] = "changed"  # each read builds new objects
    assert report.profiles[0]["id"] == "quintrel-core-v1"

    broken = edited(receipt, lambda r: r["records"][0]["data"].append(32))
    report = quintrel.validate(broken, "quintrel-core-v1")
    # the data no longer reads back canonically
    assert (report.status, report.problem, report.reason) == ("invalid", None, "InvalidPayload")
    assert "reject reason:   InvalidPayload" in str(report).splitlines()
    assert [p["id"] for p in report.profiles] == ["quintrel-core-v1"]  # a replay failure still gets them
    mismatched = edited(writer.receipt(["quintrel-core-v1"]), lambda r: r["profiles"][0].update(version=9))
    (profile,) = quintrel.validate(mismatched).profiles
    assert (profile["status"], profile["declared"], profile["declaration_matches"], profile["met"]) == (
        "Conformant", True, False, False)
    assert list(profile) == ["id", "hash", "status", "declared", "declaration_matches", "met", "clauses"]
    assert list(profile["clauses"][0]) == ["id", "passed", "detail"]


def test_unreadable_receipts():
    assert refused(lambda: quintrel.read(b"")) == "not a parseable receipt: EOF while parsing a value at line 1 column 0"
    assert refused(lambda: quintrel.read(b'{"spec_version":"0.4","rules":{},"records":[],"x":1}')) == (
        "not a parseable receipt: missing field `space` at line 1 column 32")
    report = quintrel.validate(b" " * (LIMIT + 1))
    assert (report.status, report.is_clean, report.reason, report.spec_version, report.problem) == (
        "invalid", False, None, "", f"receipt exceeds size limit ({LIMIT + 1} > {LIMIT} bytes)")
    assert (report.record_count, report.checked_records, report.last_time, report.head_hash, report.rules_hash,
            report.retracted, report.tainted, report.standing, report.profiles) == (
        0, 0, 0, ZERO, ZERO, [], [], {"compromised": [], "unsound": [], "restorations": {}}, [])
    assert repr(report) == 'Report(status="invalid", records=0, spec_version="")'
    assert str(report).splitlines()[:3] == [
        "status:          INVALID", f"problem:         {report.problem}", "spec version:    "]
    # exactly at the limit the receipt is parsed
    assert quintrel.validate(b" " * LIMIT).problem.startswith("unparseable receipt: EOF while parsing")


@pytest.mark.parametrize("end", ["\n", "\r", "\x0b", "\x0c", "\x1c", "\x1d", "\x1e", "\x85", "\u2028", "\u2029"])
def test_no_receipt_text_adds_a_line(receipt, end):
    """A text from the receipt holding a line end of str.splitlines() is written quoted, the end escaped."""
    forged = edited(receipt, lambda r: r.update(spec_version="0.4" + end + "status:          CLEAN"))
    lines = str(quintrel.validate(forged)).splitlines()
    assert len(lines) == 8 and lines[2].startswith('spec version:    "0.4\\')
    actors = edited(receipt, lambda r: r["rules"].update(reaffirmation_actors=["b" + end]))
    lines = str(quintrel.validate(actors, ["quintrel-core-v1", "p" + end])).splitlines()
    assert len(lines) == 7 + 8 + 1 and lines[-1].startswith('profile "p\\') and 'actors ["b\\' in lines[-3]


def test_receipt_and_record_views(writer, receipt):
    r = quintrel.read(receipt)
    assert (len(r), r.spec_version, repr(r)) == (4, "0.4", 'Receipt(spec_version="0.4", records=4)')
    assert [x.id for x in r.records] == [x.id for x in writer.records]
    request, verdict = r.records[:2]
    assert (request.kind, request.time, request.author_id, request.author_type) == ("Request", 1, "alice", "User")
    assert (request.signed, request.evidence, request.refs) == (False, "Reported", [])
    assert (verdict.kind, verdict.time, verdict.author_type) == ("Verdict", 2, "Verifier")
    assert verdict.refs == [{"type": "Cause", "target": request.id}]
    assert verdict.schema == hashlib.sha256(b"quintrel.verdict.v1").hexdigest()
    assert json.loads(verdict.payload_json) == {"reason": None, "result": "Accept"}
    assert repr(request) == f'Record(kind="Request", time=1, id={request.id[:12]}...)'
    future = edited(receipt, lambda r: r.update(spec_version="9.9"))  # reading checks nothing but the form
    assert quintrel.read(future).spec_version == quintrel.validate(future).spec_version == "9.9"
    assert quintrel.validate(future).problem.startswith('unsupported spec version "9.9"')

    def tamper(r):
        r["records"][0]["id"] = [7] * 32
        r["records"][0]["data"] = [0xFF, 0x61, 0xE2, 0x82, 0x62]
        r["records"][0]["author"]["signature"] = {"key_id": "00", "sig": [1, 2]}
    (record, *_) = quintrel.read(edited(receipt, tamper)).records
    assert record.id == "07" * 32 and record.signed
    assert record.payload_json == "\ufffda\ufffdb"
