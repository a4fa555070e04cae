#!/usr/bin/env bash
# Footprint on armhf: cross-builds libzub-vorn.so at -Os and at -O2 (each in
# build/footprint-<level>, with -fstack-usage) and prints Markdown tables of
# the .text, .rodata, .data and .bss bytes of the shared object and of each
# family's object file, with the largest stack frame per object, and the
# same for nanopb's pb_encode.c, pb_decode.c and pb_common.c compiled by
# the same cross compiler with the same flags.
#
# nanopb's C sources are looked for in the files of Debian's nanopb and
# libnanopb-dev packages, then in $NANOPB_SRC. Debian ships none (only the
# headers and a prebuilt x86-64 libprotobuf-nanopb.a); without sources the
# script says so and, for scale, compares the objects of that x86-64
# archive (Debian's -O2) with our own objects built for x86-64 at -O2.
#
# Aims: serializer + deserializer + release + byte order no larger than
# nanopb's three objects at -Os; no stack frame above 512 bytes. The tables
# also replace the footprint section of docs/performance.md.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cross=arm-linux-gnueabihf
log=$(mktemp)
report=$(mktemp)
trap 'rm -f "$log" "$report"' EXIT

# build DIR LEVEL [toolchain]: the library alone at -LEVEL with stack usage.
build() {
  local dir=$1 level=$2 toolchain=${3:-}
  local args=(-S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Footprint
              "-DCMAKE_C_FLAGS_FOOTPRINT=-$level -DNDEBUG" "-DCMAKE_CXX_FLAGS_FOOTPRINT=-$level -DNDEBUG"
              -DCMAKE_C_FLAGS=-fstack-usage -DCMAKE_CXX_FLAGS=-fstack-usage
              -DZUB_BUILD_TESTS=OFF -DZUB_BUILD_EXAMPLES=OFF)
  [ -n "$toolchain" ] && args+=("-DCMAKE_TOOLCHAIN_FILE=$toolchain")
  echo "building $dir" >&2
  if ! { cmake "${args[@]}" && cmake --build "$dir" -j2 --target zub-vorn; } >"$log" 2>&1; then
    tail -30 "$log" >&2
    echo "footprint.sh: the build of $dir failed" >&2
    exit 1
  fi
}

# nanopb's sources: from the installed packages, else $NANOPB_SRC.
nanopb_src=
for pkg in nanopb libnanopb-dev; do
  file=$(dpkg -L "$pkg" 2>/dev/null | grep '/pb_encode\.c$' | head -1 || true)
  [ -n "$file" ] && { nanopb_src=$(dirname "$file"); break; }
done
if [ -z "$nanopb_src" ] && [ -n "${NANOPB_SRC:-}" ] && [ -f "$NANOPB_SRC/pb_encode.c" ]; then
  nanopb_src=$NANOPB_SRC
fi

# nanopb DIR LEVEL COMPILER: its three objects with the library's C flags.
nanopb() {
  local dir=$1/nanopb level=$2 cc=$3
  mkdir -p "$dir"
  for f in pb_encode pb_decode pb_common; do
    (cd "$dir" && "$cc" -std=gnu99 -"$level" -DNDEBUG -fPIC -fvisibility=hidden -fstack-usage \
       -I "$nanopb_src" -c "$nanopb_src/$f.c" -o "$f.c.o")
  done
}

for level in Os O2; do
  build "build/footprint-$level" "$level" "$root/cmake/toolchain-armhf.cmake"
  [ -n "$nanopb_src" ] && nanopb "build/footprint-$level" "$level" "$cross-gcc"
done
if [ -z "$nanopb_src" ]; then
  build build/footprint-host-O2 O2
  mkdir -p build/footprint-host-O2/nanopb-debian
  archive=$(dpkg -L libnanopb-dev 2>/dev/null | grep 'libprotobuf-nanopb\.a$' | head -1 || true)
  [ -n "$archive" ] && (cd build/footprint-host-O2/nanopb-debian && ar x "$archive")
fi

python3 - "$root" "$cross" "$nanopb_src" >"$report" <<'PYTHON'
import glob, os, re, subprocess, sys

root, cross, nanopb_src = sys.argv[1:4]
FAMILY = {
    "serializer": "serialization: serializer", "deserializer": "serialization: deserializer",
    "dealloc": "serialization: release", "byteorder": "serialization: byte order",
    "serialization_tables": "serialization: predefined tables", "bitmask": "bitmask",
    "vector": "vector", "sortedidlist": "sorted id list", "ringbuffer": "ring buffer",
    "scattergather": "scatter-gather", "ohash": "open hash (ohash)", "zubohash": "keyed hash (OHash)",
    "dllist": "linked list", "strlist": "string list", "time": "time conversion",
    "zubsimplecommandline": "console", "zubtime": "time conversion", "object": "object root, strings",
    "pb_encode": "nanopb pb_encode", "pb_decode": "nanopb pb_decode", "pb_common": "nanopb pb_common",
}
SERIAL = ("serializer", "deserializer", "dealloc", "byteorder")


def sections(path, size_tool):
    out = subprocess.run([size_tool, "-A", path], capture_output=True, text=True, check=True).stdout
    total = {"text": 0, "rodata": 0, "data": 0, "bss": 0}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) < 2 or not parts[1].isdigit():
            continue
        name, size = parts[0], int(parts[1])
        for key in total:
            if name == "." + key or name.startswith("." + key + "."):
                total[key] += size
    return total


def frame(su_path):
    """(bytes, function) of the largest frame in a .su file."""
    best = (0, "-")
    if os.path.exists(su_path):
        for line in open(su_path):
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 2 and fields[1].isdigit() and int(fields[1]) > best[0]:
                best = (int(fields[1]), fields[0].split(":", 3)[-1])
    return best


def objects(build):
    found = {}
    for obj in glob.glob(os.path.join(build, "CMakeFiles/zub-vorn.dir/src/*.cpp.o")) + \
            glob.glob(os.path.join(build, "nanopb*/*.c.o")):
        stem = os.path.basename(obj).split(".")[0]
        found[stem] = obj
    return found


def su_of(obj):
    return obj[: -len(".o")] + ".su" if os.path.exists(obj[: -len(".o")] + ".su") else obj[: -len(".cpp.o")] + ".su"


def table(title, build, size_tool, library=True):
    print("### " + title)
    print()
    print("| Object | .text | .rodata | .data | .bss | Largest stack frame |")
    print("| --- | ---: | ---: | ---: | ---: | --- |")
    if library:
        lib = os.path.join(build, "libzub-vorn.so")
        s = sections(lib, size_tool)
        print("| **libzub-vorn.so** | %d | %d | %d | %d | |" % (s["text"], s["rodata"], s["data"], s["bss"]))
    objs = objects(build)
    sums = {"ours": [0, 0, 0, 0], "nanopb": [0, 0, 0, 0]}
    biggest = (0, "-", "-")
    for stem in sorted(objs, key=lambda k: (k.startswith("pb_"), FAMILY.get(k, k))):
        s = sections(objs[stem], size_tool)
        size, function = frame(su_of(objs[stem]))
        if not stem.startswith("pb_") and size > biggest[0]:
            biggest = (size, function, stem)
        where = "%d B `%s`" % (size, function) if size else "n/a (prebuilt)"
        print("| %s (%s.o) | %d | %d | %d | %d | %s |" % (FAMILY.get(stem, stem), stem, s["text"], s["rodata"],
                                                      s["data"], s["bss"], where))
        group = "ours" if stem in SERIAL else "nanopb" if stem.startswith("pb_") else None
        if group:
            for i, key in enumerate(("text", "rodata", "data", "bss")):
                sums[group][i] += s[key]
    for group, label in (("ours", "serializer + deserializer + release + byte order"),
                         ("nanopb", "nanopb's three objects")):
        if sums[group][0]:
            v = sums[group]
            print("| **%s** | %d | %d | %d | %d | (sum %d) |" % (label, v[0], v[1], v[2], v[3], sum(v)))
    print()
    print("Largest frame of the library: %d B in `%s` (%s)." % biggest)
    print()
    return sums


arm_size = cross + "-size"
for level in ("Os", "O2"):
    build = os.path.join(root, "build", "footprint-" + level)
    sums = table("armhf, -%s" % level, build, arm_size)
    if nanopb_src and level == "Os":
        ours, theirs = sum(sums["ours"]), sum(sums["nanopb"])
        print("Aim at -Os: ours %d B against nanopb's %d B: %s." % (ours, theirs, "met" if ours <= theirs else "**missed**"))
        print()
if not nanopb_src:
    print("nanopb: Debian's nanopb and libnanopb-dev ship no C sources (pb_encode.c, pb_decode.c,")
    print("pb_common.c), only the headers and a prebuilt x86-64 libprotobuf-nanopb.a, so nanopb's")
    print("armhf objects cannot be built here (set NANOPB_SRC to a directory holding them). For scale,")
    print("x86-64 at -O2: Debian's archive objects beside our own objects built with -O2.")
    print()
    sums = table("x86-64, -O2 (nanopb: Debian's prebuilt objects)",
                 os.path.join(root, "build", "footprint-host-O2"), "size", library=True)
    if sums["nanopb"][0]:
        print("x86-64 at -O2: our four serialization objects %d B against nanopb's three %d B." %
              (sum(sums["ours"]), sum(sums["nanopb"])))
        print()
print("Frames above 512 B: the console thread's loop holds its argument vector (101 pointers)")
print("and scan state by design; zubSimpleSerializeInto holds the 20-record walk stack that its")
print("one-call form promises (20 x 24 B on armhf) besides the state record.")
PYTHON
text=$(printf '%s\n\n%s\n\n%s\n' "## Footprint on armhf" \
  "Written by \`scripts/footprint.sh\`: $(date -u '+%Y-%m-%d %H:%M') UTC, commit $(git rev-parse --short HEAD)." \
  "$(cat "$report")")
printf '%s\n' "$text"
printf '%s\n' "$text" | python3 scripts/report_section.py docs/performance.md footprint
