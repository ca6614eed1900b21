#!/usr/bin/env bash
# `cmake --install` into a scratch prefix, then the example user process
# built against that prefix's CMake package, then both loaded by installed
# programs: the plug-ins beside them and the user's plug-in from its folder.
# usage: install_and_example_test.sh <build dir> <source dir>
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
for file in bin/Velmora bin/SISO bin/pics/pet.ico lib/varnok/SISO.so lib/varnok/Fractor.so \
  lib/libcorvex.so lib/libQuorra.so include/corvex/simulink.h include/varnok/frame/plugin.h \
  include/OPCGatePy/opc_calc_task.h lib/cmake/varnok/varnokConfig.cmake lib/cmake/varnok/varnokTargets.cmake; do
  [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done

# The installed programs run without the build tree.
# Captured first: under pipefail, grep -q quitting early would kill ldd with SIGPIPE.
libraries=$(ldd "$prefix/bin/Velmora")
[[ $libraries == *"$prefix/bin/../lib/libQuorra.so"* ]] ||
  { echo "Velmora does not find its libraries beside it:"; echo "$libraries"; exit 1; }

cmake -S "$source/examples/process/tank" -B "$scratch/tank-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DTANK_PROCESS_DIR="$scratch/process" >"$scratch/configure.log" ||
  { cat "$scratch/configure.log"; exit 1; }
cmake --build "$scratch/tank-build" >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
[ -f "$scratch/process/tank.so" ] || { echo "tank.so not next to info.yaml"; exit 1; }

# A built-in plant found beside the installed program, and the user's plant
# loaded from its process folder, each run for a few periods.
"$prefix/bin/varnok-batch" varnok.SISO TrainingSISO --steps 2 --tags RunCount >"$scratch/siso.csv"
[ "$(tail -1 "$scratch/siso.csv")" = "2,2" ] || { cat "$scratch/siso.csv"; exit 1; }
"$prefix/bin/varnok-batch" tank TankLevel --search "$scratch/process" --steps 30 --set MV1=80@1 \
  --tags CV1 >"$scratch/tank.csv"
awk -F, 'END { if (!($2 > 1.05)) { print "the level did not rise: " $0; exit 1 } }' "$scratch/tank.csv"
