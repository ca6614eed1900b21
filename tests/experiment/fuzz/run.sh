#!/usr/bin/env bash
# Builds the experiment-file reader's fuzzer (libFuzzer + ASan + UBSan,
# clang) and runs it for SECONDS (default 20), seeded with the committed
# corpus. New inputs and any crash go to a scratch folder
# (EXPERIMENT_FUZZ_DIR, default /tmp/experiment-fuzz-$UID), never into the repo.
#
#   tests/experiment/fuzz/run.sh [SECONDS]
set -euo pipefail
seconds=${1:-20}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
out=${EXPERIMENT_FUZZ_DIR:-/tmp/experiment-fuzz-$(id -u)}
mkdir -p "$out/found"

src=$root/src/varnok
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Wall -Wextra -Werror -I"$src/experiment/include" -I"$src/experiment/src" -I"$src/yamlfile/include" \
  -I"$src/common/include" \
  "$here/experiment_fuzzer.cpp" "$src"/experiment/src/*.cpp "$src"/yamlfile/src/*.cpp -lyaml-cpp \
  -o "$out/experiment_fuzzer"

# The first folder receives what the fuzzer finds; the corpus is only read.
exec "$out/experiment_fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/" -print_final_stats=1 "$out/found" "$here/corpus"
