#!/usr/bin/env bash
# Fuzzes the deserializer for about 30 seconds from its seed and campaign
# corpora, under AddressSanitizer, UndefinedBehaviorSanitizer and the leak
# checker.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target deserializer_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
cp fuzz/corpus/deserializer_fuzz/* "$work/corpus/"
if [ -d fuzz/campaign/deserializer ]; then
  cp -r fuzz/campaign/deserializer/. "$work/corpus/"
fi
cd "$work"
# Diagnostics off; the target's stderr is closed (oversize members write
# backtraces there), the fuzzer's own reports still come through.
ZUB_DEBUG=none "$OLDPWD/build/fuzz/fuzz/deserializer_fuzz" \
  -max_total_time=30 -max_len=4096 -rss_limit_mb=2048 -close_fd_mask=2 \
  -print_final_stats=1 "$work/corpus"
