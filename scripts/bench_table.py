#!/usr/bin/env python3
"""Builds one Markdown table from the JSON files of the benchmark programs.

Usage: bench_table.py DIR
DIR holds <program>.json, written by each bench program with
--benchmark_out=DIR/<program>.json --benchmark_out_format=json.

Each row pairs one of our runs with the run of a peer doing the same work.
The figure is operations per second where the program counts items, else
the CPU time per iteration. The ratio is our speed over the peer's: above 1
ours is faster. Where the family set an aim for the pair, the last column
says whether it is met. Programs or runs that are missing are left out, so
the table follows whatever benchmarks the tree has.
"""
import json
import math
import os
import re
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(directory):
    """program -> run name -> run (the median where runs repeat)."""
    runs = {}
    for entry in sorted(os.listdir(directory)):
        if not entry.endswith(".json"):
            continue
        program = entry[: -len(".json")]
        try:
            with open(os.path.join(directory, entry)) as f:
                data = json.load(f)
        except (OSError, ValueError):
            continue
        named = {}
        for run in data.get("benchmarks", []):
            if run.get("error_occurred"):
                continue
            kind = run.get("run_type", "iteration")
            name = run.get("run_name", run["name"])
            if kind == "aggregate":
                if run.get("aggregate_name") == "median":
                    named[name] = run
            elif name not in named or named[name].get("run_type") != "aggregate":
                named[name] = run
        runs[program] = named
    return runs


def speed(run):
    """(operations per second, how to print it)."""
    rate = run.get("items_per_second")
    if rate:
        return rate, rate_text(rate)
    ns = run["cpu_time"] * UNIT_NS.get(run.get("time_unit", "ns"), 1.0)
    if ns <= 0:
        return None, "-"
    return 1e9 / ns, time_text(ns)


def rate_text(rate):
    for scale, suffix in ((1e9, "G/s"), (1e6, "M/s"), (1e3, "k/s")):
        if rate >= scale:
            return "%.3g %s" % (rate / scale, suffix)
    return "%.3g /s" % rate


def time_text(ns):
    for scale, suffix in ((1e9, "s"), (1e6, "ms"), (1e3, "us")):
        if ns >= scale:
            return "%.3g %s" % (ns / scale, suffix)
    return "%.3g ns" % ns


# Explicit pairs: (program, our run, operation, [(peer program, peer run,
# peer label, aim)]). An aim is (comparison, bound) on the ratio.
SERIAL = [
    ("serializer_bench", "BM_SimpleSerialize", "serialize message, one call (msg/s)", [
        ("serializer_bench", "BM_HandEncoder", "hand-written encoder", (">=", 0.5)),
        ("serializer_bench", "BM_Xdr", "XDR (libtirpc)", (">", 1.0)),
        ("nanopb_bench", "BM_NanopbEncode", "nanopb encode", None)]),
    ("serializer_bench", "BM_ResumableChunks/64", "serialize, 64-byte buffers (msg/s)", [
        ("serializer_bench", "BM_SimpleSerialize", "our one call", (">=", 0.6))]),
    ("serializer_bench", "BM_ResumableChunks/1", "serialize, 1-byte buffers (msg/s)", [
        ("serializer_bench", "BM_SimpleSerialize", "our one call", None)]),
    ("deserializer_bench", "BM_Deserialize/0", "deserialize + release, one chunk (msg/s)", [
        ("deserializer_bench", "BM_HandDecoder", "hand-written decoder", (">=", 0.5)),
        ("deserializer_bench", "BM_XdrDecode", "XDR (libtirpc)", (">", 1.0)),
        ("nanopb_bench", "BM_NanopbDecode", "nanopb decode (no allocation)", None)]),
    ("deserializer_bench", "BM_Deserialize/64", "deserialize, 64-byte chunks (msg/s)", [
        ("deserializer_bench", "BM_Deserialize/0", "our one chunk", None)]),
    ("deserializer_bench", "BM_Deserialize/1", "deserialize, 1-byte chunks (msg/s)", [
        ("deserializer_bench", "BM_Deserialize/0", "our one chunk", None)]),
    ("ringbuffer_bench", "BM_RingPair/64", "ring enqueue+dequeue 64 B", [
        ("ringbuffer_bench", "BM_MemcpyCallPair/64", "memcpy in and out behind calls", (">=", 0.95)),
        ("ringbuffer_bench", "BM_MemcpyPair/64", "memcpy in and out", None)]),
    ("ringbuffer_bench", "BM_RingPair/4096", "ring enqueue+dequeue 4 KiB", [
        ("ringbuffer_bench", "BM_MemcpyPair/4096", "memcpy in and out", (">=", 0.95)),
        ("ringbuffer_bench", "BM_MemcpyCallPair/4096", "memcpy in and out behind calls", None)]),
    ("ringbuffer_bench", "BM_RingHandOut/64", "ring zero-copy hand-out 64 B", [
        ("ringbuffer_bench", "BM_MemcpyOnce/64", "one memcpy", None)]),
    ("ringbuffer_bench", "BM_RingHandOut/4096", "ring zero-copy hand-out 4 KiB", [
        ("ringbuffer_bench", "BM_MemcpyOnce/4096", "one memcpy", (">=", 0.8))]),
    ("ringbuffer_bench", "BM_ScatterGatherCopy", "scatter-gather copy 1 MiB in 4 KiB blocks", [
        ("ringbuffer_bench", "BM_MemcpyMiB", "memcpy 1 MiB", (">=", 0.8))]),
]

# Pattern pairs: (program, our run pattern, operation format, [(peer run
# format, label, aim or function of the match giving one)]). Formats take
# the match's groups as {1}, {2}, ...
PATTERNS = [
    ("bitmask_bench", r"^(first|next|prev|drain|set\+reset)/([^/]+)/([^/]+)/ours(/iterations:\d+)?$",
     "bitmask {1}, {2} bits, {3}", [
         ("{1}/{2}/{3}/flat{4}", "flat 64-bit scan",
          lambda m: (">=", 1000.0) if m[1] == "first" and m[2] == "520M" and m[3] in ("sparse", "last-only")
          else ((">=", 1.0) if m[1] == "next" else None)),
         ("{1}/{2}/{3}/letter{4}", "one bit test per index", None)]),
    ("console_bench", r"^BM_Console/(\d+)/(.*)$", "console lines, {1}-byte reads (lines/s)", [
        ("BM_PlainGetlineLoop/{2}", "getline + split + lookup", (">=", 0.5))]),
    ("vector_bench", r"^Vector(Fifo|RandomInsert)<(\w+)>/(\d+)$", "vector {1}, {2} elements, n={3}", [
        ("Deque{1}<{2}>/{3}", "std::deque", None),
        ("DequeCall{1}<{2}>/{3}", "std::deque behind calls",
         lambda m: (">=", 1.0) if m[1] == "Fifo" and m[2] in ("Small", "Medium") else None)]),
    ("sortedidlist_bench", r"^(\w+)<IdList>/(\d+)$", "id list {1}, {2} keys", [
        ("{1}<Map>/{2}", "std::map", lambda m: (">=", 2.0) if m[1] == "Get" else None),
        ("{1}<Sorted>/{2}", "sorted std::vector", None)]),
    ("ohash_bench", r"^(\w+)/ohash_(binary|text)$", "hash {1}, 1M {2} keys", [
        ("{1}/std_{2}", "std::unordered_map",
         lambda m: (">=", 1.0) if m[1].startswith("find") else None),
        ("{1}/absl_{2}", "absl::flat_hash_map", None)]),
    ("time_bench", r"^ToBrokenDownZub/(.*)$", "time: calendar to broken-down, {1} distinct inputs", [
        ("ToBrokenDownGmtime/{1}", "gmtime_r", (">=", 2.0))]),
    ("time_bench", r"^ToCalendarZub/(.*)$", "time: broken-down to calendar, {1} distinct inputs", [
        ("ToCalendarTimegm/{1}", "timegm", (">=", 5.0)),
        ("ToCalendarYearByYear/{1}", "year-by-year loop", None)]),
]


def judge(ratio, aim):
    if aim is None or ratio is None:
        return ""
    op, bound = aim
    met = ratio >= bound if op == ">=" else ratio > bound
    return "%s %g: %s" % (op, bound, "met" if met else "**missed**")


def fmt(template, groups):
    return re.sub(r"\{(\d)\}", lambda g: groups[int(g.group(1))] or "", template)


def rows(runs):
    out = []

    def add(operation, ours, peers):
        our_speed, our_text = speed(ours)
        first = True
        for peer, label, aim in peers:
            peer_speed, peer_text = speed(peer)
            ratio = our_speed / peer_speed if our_speed and peer_speed else None
            out.append((operation if first else "", our_text if first else "", label, peer_text,
                        "%.3g" % ratio if ratio is not None and math.isfinite(ratio) else "-",
                        judge(ratio, aim)))
            first = False
        if first:
            out.append((operation, our_text, "", "", "", ""))

    for program, name, operation, peers in SERIAL:
        ours = runs.get(program, {}).get(name)
        if ours is None:
            continue
        found = [(runs[p][n], label, aim) for p, n, label, aim in peers
                 if n in runs.get(p, {})]
        add(operation, ours, found)

    for program, pattern, operation, peers in PATTERNS:
        named = runs.get(program, {})
        for name, ours in named.items():
            m = re.match(pattern, name)
            if not m:
                continue
            groups = [m.group(0)] + [g or "" for g in m.groups()]
            found = []
            for template, label, aim in peers:
                peer = named.get(fmt(template, groups))
                if peer is not None:
                    found.append((peer, label, aim(groups) if callable(aim) else aim))
            add(fmt(operation, groups), ours, found)
    return out


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: bench_table.py DIR")
    table = rows(load(sys.argv[1]))
    print("| Operation | Ours | Peer | Peer's figure | Ours / peer | Aim |")
    print("| --- | ---: | --- | ---: | ---: | --- |")
    for row in table:
        print("| " + " | ".join(row) + " |")
    print()
    print("Figures: operations per second where a run counts items (msg/s, lines/s, ...),")
    print("else CPU time per iteration. Ours / peer: our speed over the peer's (above 1: ours")
    print("is faster).")


if __name__ == "__main__":
    main()
