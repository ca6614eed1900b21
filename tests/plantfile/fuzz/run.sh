#!/usr/bin/env bash
# Builds the plant-file reader's fuzzer (libFuzzer + ASan + UBSan, clang) and
# runs it for SECONDS (default 30), seeded with the example plants and the
# committed corpus. New inputs and any crash go to a scratch folder
# (PLANTFILE_FUZZ_DIR, default /tmp/plantfile-fuzz-$UID), never into the repo.
#
#   tests/plantfile/fuzz/run.sh [SECONDS]
set -euo pipefail
seconds=${1:-30}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
out=${PLANTFILE_FUZZ_DIR:-/tmp/plantfile-fuzz-$(id -u)}
mkdir -p "$out/found" "$out/seeds"
cp "$root"/examples/plants/*.yaml "$out/seeds/"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Wall -Wextra -Werror -I"$root/src/varnok/plantfile/include" -I"$root/src/varnok/common/include" \
  -I"$root/src/varnok/yamlfile/include" -I"$root/platform/corvex/include" \
  "$here/plant_file_fuzzer.cpp" "$root/src/varnok/plantfile/src/plant_file.cpp" \
  "$root"/src/varnok/yamlfile/src/*.cpp -lyaml-cpp \
  -o "$out/plant_file_fuzzer"

# The first folder receives what the fuzzer finds; the seeds are only read.
exec "$out/plant_file_fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/" -print_final_stats=1 "$out/found" "$out/seeds" "$here/corpus"
