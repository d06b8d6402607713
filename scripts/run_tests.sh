#!/usr/bin/env bash
# Runs a build's whole test suite under a private Xvfb server.
set -euo pipefail
build=$1
export PELTO_NO_DIALOG=1
# Leaks inside the system's X11/GL/SDL libraries are not ours to fix.
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="abort_on_error=0:detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
echo "== tests in $build"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  ctest --test-dir "$build" --output-on-failure -j "$(nproc 2>/dev/null || echo 2)"
