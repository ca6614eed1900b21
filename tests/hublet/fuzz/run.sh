#!/usr/bin/env bash
# Builds hublet's decoder fuzzer (libFuzzer + ASan + UBSan, clang) and runs it
# for SECONDS (default 60), seeded with the committed corpus of captured
# server messages and node ids as users type them. New inputs and any crash
# go to a scratch folder (HUBLET_FUZZ_DIR, default /tmp/hublet-fuzz-$UID),
# never into the repo.
#
#   tests/hublet/fuzz/run.sh [SECONDS]
set -euo pipefail
seconds=${1:-60}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
src=$root/platform/hublet/src
out=${HUBLET_FUZZ_DIR:-/tmp/hublet-fuzz-$(id -u)}
mkdir -p "$out/found"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Wall -Wextra -Werror -I"$src" -I"$root/platform/hublet/include" -I"$root/platform/netio/include" \
  "$here/decode_fuzzer.cpp" "$src/ua_types.cpp" "$src/ua_text.cpp" "$src/ua_status_names.cpp" \
  "$src/ua_binary.cpp" "$src/ua_services.cpp" \
  "$src/ua_transport.cpp" "$root/platform/netio/src/tcp_connect.cpp" -o "$out/decode_fuzzer"

# The first folder receives what the fuzzer finds; the committed seeds are
# only read.
exec "$out/decode_fuzzer" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/" -print_final_stats=1 "$out/found" "$here/corpus"
