import importlib
import importlib.metadata
import inspect
import subprocess

import quintrel


def test_version_all_and_doc():
    assert quintrel.__version__ == importlib.metadata.version("quintrel")
    assert quintrel.__all__ == ["__version__", "default_rules"]
    assert quintrel.__doc__ == ""


def test_reload_starts_all_afresh():
    importlib.reload(quintrel)
    assert quintrel.__all__ == ["__version__", "default_rules"]


def test_default_rules_signature_and_doc():
    f = quintrel.default_rules
    assert str(inspect.signature(f)) == (
        "(authors, max_context=200, admins=None, reaffirmers=None, signed=False, author_keys=None)")
    assert f.__module__ == "quintrel" and f.__self__ is quintrel
    assert f.__doc__.startswith("Build a starter verifier-rules JSON string")


def test_only_the_entry_point_is_exported():
    listing = subprocess.run(["nm", "-D", "--defined-only", quintrel.__file__],
                             capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit_quintrel"]
