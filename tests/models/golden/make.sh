#!/usr/bin/env bash
# Writes the pinned outputs of the plants (plants.txt) from the current
# varnok-batch: every tag at every 100th period, and each tag's sum and sum
# of squares over all periods. Run it only on purpose, when a plant's output
# is meant to change; tests/models/pinned_output_test.cpp compares with them.
#
# usage: tests/models/golden/make.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
batch=${1:-$root/build}/bin/varnok-batch
cd "$root"
grep -v '^#' "$here/plants.txt" | while read -r name args; do
  # shellcheck disable=SC2086
  "$batch" $args 2>/dev/null | awk -F, '
    NR == 1 { print; n = NF; next }
    { for (i = 2; i <= n; i++) { s[i] += $i; q[i] += $i * $i } }
    $1 % 100 == 0 { print }
    END {
      line = "sum"; for (i = 2; i <= n; i++) line = line "," sprintf("%.17g", s[i]); print line
      line = "sumsq"; for (i = 2; i <= n; i++) line = line "," sprintf("%.17g", q[i]); print line
    }' > "$here/$name.csv"
  echo "wrote $here/$name.csv"
done
