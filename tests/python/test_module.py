import importlib
import importlib.metadata
import inspect
import re
import subprocess

import pytest

import quintrel

NAMES = ["__version__", "validate", "read", "default_rules", "Report", "Receipt", "Record", "Writer", "Commit"]

SIGNATURES = {
    quintrel.validate: "(data, require_profile=None)",
    quintrel.read: "(data)",
    quintrel.default_rules: (
        "(authors, max_context=200, admins=None, reaffirmers=None, signed=False, author_keys=None)"),
    quintrel.Writer: "(log_dir, rules, signers=None)",
    quintrel.Writer.request: "(self, /, author, objective)",
    quintrel.Writer.requirement: (
        "(self, /, author, request, key, description, *, required=True, expected_evidence=None, "
        "provenance=None)"),
    quintrel.Writer.candidate: (
        "(self, /, author, git_tree, *, git_commit=None, algo='sha1', note=None, continues=None, parent=None, "
        "derives_from=None, upgrades=None, manifest=None, artifacts=None)"),
    quintrel.Writer.evaluate: (
        "(self, /, author, candidate, criterion, *, passed=False, failed=False, score=None, scale=None, "
        "procedure=None, uses=None, blocked=False, insufficient=False, stale=False, not_run=False, evaluator=None, "
        "evaluator_version=None, procedure_hash=None, input_hash=None, basis=None, requirements=None, "
        "artifacts=None, attested=False)"),
    quintrel.Writer.select: (
        "(self, /, author, objective, consider, *, choose=None, uses_eval=None, none=False, replaces=None, "
        "rationale=None)"),
    quintrel.Writer.retract: "(self, /, author, target, reason)",
    quintrel.Writer.receipt: "(self, /, profiles=None)",
}
for cls in (quintrel.Writer, quintrel.Receipt):  # the queries
    SIGNATURES.update({cls.frontier: "(self, /)", cls.selected: "(self, /, objective)"})
    SIGNATURES.update({getattr(cls, q): "(self, /, id)" for q in ["descent", "descendants", "siblings", "standing",
                                                                  "evidence"]})
# Docstrings send no reader outside the package: to a numbered document
# ("ABC-123", "ABC 1.2", "§ 3"), to "the" tool named in capitals, or to a
# command line of the package's name.
OUTSIDE = re.compile(r"\b(?!SHA-)[A-Z]{2,}[- ](\d{3,}|\d+\.\d)|§|\bthe [A-Z]{3,}\b(?!-)|"
                     r"\bquintrel [a-z]+ ?[a-z]*\b(?! module)")


def test_version_namespace_and_exports():
    assert quintrel.__version__ == importlib.metadata.version("quintrel") == "0.11.0"
    assert quintrel.__all__ == NAMES
    assert [n for n in vars(quintrel) if n in NAMES] == NAMES
    assert quintrel.__doc__ == ""
    importlib.reload(quintrel)  # starts all afresh
    assert quintrel.__all__ == NAMES
    # the panic exception stays out of the namespace
    assert not any(isinstance(v, type) and issubclass(v, BaseException) for v in vars(quintrel).values())
    # the extension exports its entry point and nothing else
    listing = subprocess.run(["nm", "-D", "--defined-only", quintrel.__file__],
                             capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit_quintrel"]


@pytest.mark.parametrize("callable_, signature", SIGNATURES.items(), ids=lambda x: getattr(x, "__qualname__", ""))
def test_signatures(callable_, signature):
    assert str(inspect.signature(callable_)) == signature
    doc = callable_.__doc__
    assert doc and not doc.startswith(callable_.__name__ + "(") and not OUTSIDE.search(doc)


@pytest.mark.parametrize("name", NAMES[4:])
def test_classes(name):
    cls = getattr(quintrel, name)
    assert (cls.__module__, cls.__name__, cls.__bases__) == ("quintrel", name, (object,))
    if name != "Writer":
        with pytest.raises(TypeError, match=rf"^cannot create 'quintrel\.{name}' instances$"):
            cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert "__dict__" not in dir(cls) and "__weakref__" not in dir(cls)
    docs = [("", cls.__doc__)] + [(m, v.__doc__) for m, v in vars(cls).items() if not m.startswith("_")]
    assert [m for m, doc in docs if OUTSIDE.search(doc or "")] == []
