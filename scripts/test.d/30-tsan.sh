#!/usr/bin/env bash
# ThreadSanitizer run of the linked list, string list and console tests and
# of the tests labelled tsan (the console life-cycle stress): the console
# thread, its callers and the stop path share the console record.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target dllist_test strlist_test console_test console_stress_test
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
ctest --preset tsan -R '^(dllist|strlist|console)_test\.'
ctest --preset tsan -L '^tsan$'
