#!/usr/bin/env bash
# Sets everything up, builds and installs the module, then runs the example:
# a log with a request and a requirement, exported and validated.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
python3 -m pip install -q --disable-pip-version-check .
python3 examples/first_log.py
