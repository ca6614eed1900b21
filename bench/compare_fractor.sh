#!/usr/bin/env bash
# Fractor's per-period CPU time: the C++ task() (BM_ModelTask/Fractor) against
# the same period done the usual Python way (bench/python/fractor_step.py).
# The two alternate in rounds, so a change of machine load hits both alike;
# the ratio of the medians is the figure to quote.
# Usage: bench/compare_fractor.sh [ROUNDS]   (default 5; PYTHON overrides the interpreter)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=$root/build/bin/varnok_bench
# Debian's interpreter by default: scripts/setup installs numpy and scipy for it.
python=${PYTHON:-/usr/bin/python3}
rounds=${1:-5}
filter='BM_ModelTask/Fractor$'

fail() { echo "compare_fractor: $*" >&2; exit 1; }
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [ROUNDS]  (a whole number, at least 1)" >&2; exit 2; }
[ -x "$bench" ] || fail "$bench is missing; run scripts/build release"
listed=$("$bench" --benchmark_list_tests --benchmark_filter="$filter" 2>/dev/null) || listed=
[[ $listed == *Fractor* ]] ||
  fail "$bench has no BM_ModelTask/Fractor; run scripts/build release"
"$python" -c 'import numpy, scipy.signal' 2>/dev/null ||
  fail "$python lacks numpy or scipy; run scripts/setup"

# A benchmark of another plant would mean nothing: check the Python plant first.
"$python" "$root/bench/python/fractor_step.py" check --steps 300 | tail -n 1 ||
  fail "the Python plant does not match varnok-batch (bench/python/fractor_step.py check)"

cpp=() py=()
for ((i = 1; i <= rounds; i++)); do
  out=$("$bench" --benchmark_filter="$filter" --benchmark_format=json 2>/dev/null) || fail "$bench failed"
  # Google Benchmark reports in the benchmark's unit; bring it to µs.
  c=$("$python" -c 'import json, sys
b = json.load(sys.stdin)["benchmarks"][0]
print(b["cpu_time"] * {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b["time_unit"]])' <<<"$out")
  p=$("$python" "$root/bench/python/fractor_step.py" bench |
    "$python" -c 'import json, sys; print(json.load(sys.stdin)["cpu_us"])')
  cpp+=("$c") py+=("$p")
  printf 'round %d: C++ %8.2f µs   Python %8.1f µs   (CPU time per period)\n' "$i" "$c" "$p"
done

"$python" - "${cpp[*]}" "${py[*]}" <<'EOF'
import statistics, sys
cpp, py = ([float(x) for x in arg.split()] for arg in sys.argv[1:3])
c, p = statistics.median(cpp), statistics.median(py)
print(f"median:  C++ {c:8.2f} µs   Python {p:8.1f} µs   Python/C++ = {p / c:.0f}")
EOF
