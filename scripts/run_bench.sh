#!/usr/bin/env bash
# Runs every benchmark of a bench build; each prints pelto's figures beside its peer's.
set -euo pipefail
build=$1
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
