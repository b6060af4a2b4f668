"""The binding layer: argument binding, faults, borrowing, id parsing and
JSON conversion, reached through the layer's test module `_quintrel_probe`
(built beside the module for the tests, never shipped)."""
import pytest

from conftest import refused
from quintrel import default_rules, validate

HEX = "00ff" * 16


@pytest.fixture
def probe():
    return pytest.importorskip("_quintrel_probe")._probe


@pytest.mark.parametrize("call, message", [
    (lambda w: default_rules({}, 1, None, None, False, None, 7),
     "default_rules() takes from 1 to 6 positional arguments but 7 were given"),
    (lambda w: default_rules({}, colour=1), "default_rules() got an unexpected keyword argument 'colour'"),
    (lambda w: default_rules({}, authors={}), "default_rules() got multiple values for argument 'authors'"),
    (lambda w: default_rules({}, **{"x\x00y": 1}), "default_rules() got an unexpected keyword argument 'x\x00y'"),
    (lambda w: default_rules(type("Odd", (), {})()), "default_rules() argument 'authors' must be a dict, not Odd"),
    (lambda w: w.request("alice"), "Writer.request() missing 1 required positional argument: 'objective'"),
    (lambda w: w.requirement("alice", "r", "k", "d", True),
     "Writer.requirement() takes exactly 4 positional arguments but 5 were given"),
])
def test_binding_errors(writer, call, message):
    assert refused(lambda: call(writer), TypeError) == message
    assert len(writer) == 0


@pytest.mark.parametrize("call", [
    lambda w, items: default_rules({"u": "user"}, admins=items),
    lambda w, items: validate(b"{}", require_profile=items),
    lambda w, items: w.candidate("bot", "a" * 40, artifacts=items),
    lambda w, items: w.select("alice", "o", items, none=True),
    lambda w, items: w.receipt(profiles=items),
])
def test_a_claimed_length_reserves_nothing(writer, call):
    errors = []
    for items in (range(3), range(10**18)):  # item 0 decides, however long the sequence says it is
        with pytest.raises(Exception) as e:
            call(writer, items)
        errors.append((type(e.value), str(e.value)))
    assert errors[0] == errors[1]


def test_faults_become_panic_or_memory_error(probe, capfd):
    with pytest.raises(BaseException) as e:
        probe("fault", "core broke")
    assert not isinstance(e.value, Exception)
    assert type(e.value).__name__ == "PanicException" and str(e.value) == "core broke"
    assert "core broke" in capfd.readouterr().err
    with pytest.raises(MemoryError):
        probe("no_memory")


def test_borrow_conflicts(probe):
    obj = probe("object")
    with pytest.raises(RuntimeError, match="_Probe"):
        obj.hold(lambda: len(obj))
    with pytest.raises(RuntimeError, match="_Probe"):
        obj.hold(lambda: obj.hold(lambda: 0))
    # released on every exit, also after an error inside
    with pytest.raises(ZeroDivisionError):
        obj.hold(lambda: 1 / 0)
    assert obj.hold(lambda: 3) == 3 and len(obj) == 0


@pytest.mark.parametrize("text", [
    HEX[:-1], HEX[:-1] + "g",
    HEX[:-2] + "\u00e9",  # 64 bytes of UTF-8, but 63 characters
    '"\\' + HEX[2:],
])
def test_parse_id_and_hash(probe, text):
    assert probe("id", HEX) == bytes.fromhex(HEX) == probe("hash", HEX)
    quoted = '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    assert refused(lambda: probe("id", text)) == "invalid record id " + quoted
    assert refused(lambda: probe("hash", text)) == f"invalid input_hash {quoted} (expected 64 hex chars)"


@pytest.mark.parametrize("text, expected", [
    ('{"b":1,"a":2,"B":3}', {"B": 3, "a": 2, "b": 1}),
    ("2.0", 2.0),
    ("18446744073709551615", 18446744073709551615),
    ("-9223372036854775808", -9223372036854775808),
    ('"\\u0001\u00e9\\n\U0001f600"', "\x01\u00e9\n\U0001f600"),
    ('[null,true,false,[],{}]', [None, True, False, [], {}]),
])
def test_json_to_py(probe, text, expected):
    got = probe("json", text)
    assert got == expected and type(got) is type(expected)
    if isinstance(got, dict):
        assert list(got) == list(expected)
