#!/usr/bin/env bash
# The shared object needs only the C library (and its loader) and the two
# platform libraries; sanitizer builds may add their runtimes.
set -euo pipefail
readelf_tool=$1 library=$2 extra=${3:-}
allowed='libc\.so\.6|ld-linux.*\.so\.[0-9]+|libzub-debug\.so|libzub-osal-common\.so'
[ -n "$extra" ] && allowed="$allowed|$extra"
needed=$("$readelf_tool" -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
status=0
for lib in $needed; do
  if ! [[ $lib =~ ^($allowed)$ ]]; then
    echo "unexpected NEEDED entry: $lib"
    status=1
  fi
done
echo "NEEDED:" $needed
soname=$("$readelf_tool" -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$soname" != "libzub-vorn.so" ]; then
  echo "SONAME is '$soname', expected libzub-vorn.so"
  status=1
fi
exit $status
