#!/usr/bin/env bash
# Sets everything up, builds and installs the module, imports it and prints its version.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
python3 -m pip install -q --disable-pip-version-check .
python3 -c 'import quintrel; print("quintrel", quintrel.__version__)'
