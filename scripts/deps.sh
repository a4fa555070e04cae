#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks for building and testing: the
# packages listed in scripts/deps.txt. Run as root (it uses apt-get);
# otherwise it prints what to install.
set -euo pipefail

packages=()
while read -r package; do
  [ -n "$package" ] && [ "${package:0:1}" != "#" ] && packages+=("$package")
done <"$(dirname "$0")/deps.txt"
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
