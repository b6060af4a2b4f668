import quintrel

def test_version():
    assert quintrel.__version__ == "0.11.0"
