#!/usr/bin/env bash
# The Debian packages, built and checked as a user meets them.
exec bash "$(dirname "$0")/../package.sh" --check
