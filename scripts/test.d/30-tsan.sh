#!/usr/bin/env bash
# ThreadSanitizer run of the linked list, string list and console tests:
# the console thread, its callers and the stop path share the console record.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target dllist_test strlist_test console_test
ctest --preset tsan -R '^(dllist|strlist|console)_test$'
