#!/usr/bin/env bash
# Runs a test program for CTest and passes its output and exit status through, except
# that a successful run in which tests were skipped ends with status 77, which CTest
# (SKIP_RETURN_CODE 77) reports as "Skipped" instead of "Passed". Understands the
# summaries of GoogleTest ("[  SKIPPED ] n tests") and pytest ("n skipped in ...s" with
# nothing passed).
#
#   usage: tools/ctest_skip.sh PROGRAM [ARGS...]
#   In CMake: add_test(NAME python COMMAND bash tools/ctest_skip.sh /usr/bin/python3 -m pytest ...)
#             set_tests_properties(python PROPERTIES SKIP_RETURN_CODE 77)
set -uo pipefail
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
if [ "$status" -eq 0 ]; then
  if grep -q '^\[  SKIPPED \] [0-9]' "$log"; then
    status=77
  elif grep -Eq '^=* *[0-9]+ skipped(, [0-9]+ (warning|warnings|deselected))* in [0-9.]+s' "$log"; then
    status=77
  fi
fi
exit "$status"
