#!/usr/bin/env bash
# Runs every benchmark program of the bench build (build-bench/bench), one after the other.
# Extra arguments go to each program (e.g. --benchmark_filter=subscription).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$root/build-bench/bench"
shopt -s nullglob
found=0
for program in "$dir"/*; do
  [[ -f "$program" && -x "$program" ]] || continue
  found=1
  echo "== $(basename "$program")"
  "$program" "$@"
done
if ((!found)); then
  echo "run-bench: no benchmark programs in $dir (run: make bench)" >&2
  exit 1
fi
