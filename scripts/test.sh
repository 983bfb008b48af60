#!/usr/bin/env bash
# Set-up, build and every test. With no argument: the default preset.
# Give preset names to run others too, e.g. scripts/test.sh default asan tsan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
presets=("$@")
((${#presets[@]})) || presets=(default)
export QT_QPA_PLATFORM=offscreen
for p in "${presets[@]}"; do
  echo "== preset $p =="
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
  if [ "$p" = tsan ]; then
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
  fi
  ctest --preset "$p"
  # The Debian package: built, listed and checked (lintian included).
  if [ "$p" = default ]; then
    scripts/package.sh --check
  fi
done
