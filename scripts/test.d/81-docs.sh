#!/usr/bin/env bash
# The API reference builds with no Doxygen warning, and every exported name
# has a documented declaration (scripts/docs.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/docs.sh
