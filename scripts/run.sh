#!/usr/bin/env bash
# Sets everything up, builds the module and installs it into the project's
# virtual environment (.venv/), then runs the example: a log with a request, a
# requirement, a candidate, an evaluation and a selection, exported and validated.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/env.sh
python3 -m pip install -q --disable-pip-version-check .
python3 examples/first_log.py
