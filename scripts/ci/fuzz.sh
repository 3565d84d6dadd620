#!/usr/bin/env bash
# A minute of fuzzing for the reader and for the transform.
set -euo pipefail
cd "$(dirname "$0")/../.."

echo "== Fuzzing the reader and the transform (one minute each)"
fuzz/run.sh 60
