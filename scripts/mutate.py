#!/usr/bin/env python3
"""Mutation score of the families' tests.

    scripts/mutate.py FAMILY[,FAMILY...]|all [COUNT]   run COUNT mutants per
                                                      source (default 20)
    scripts/mutate.py --list FAMILY [COUNT]            show them, run nothing
    scripts/mutate.py --compare BEFORE AFTER           two mutants.log files

Each mutant is one small edit of one source of the family: a relational,
arithmetic, bitwise or logical operator swapped, an integer constant moved
by one, a condition negated or an expression statement dropped. The mutants
are written into a copy of this checkout, never into the checkout itself:
build/mutate/tree is a local clone at HEAD with the uncommitted changes and
new files copied in, built in build/mutate/build (no sanitizers, -O1, so
that a mutant rebuilds and runs in seconds). For each mutant the script
rebuilds incrementally, runs the family's host test programs with a timeout
and writes the original back. A mutant is killed when a test program fails
or times out, survives when all pass, and does not compile when the build
fails. build/mutate/mutants.log keeps every mutant with the cases that
failed on it, which shows the cases that kill what no other case kills.
The table, the survivors and the share of test lines go into
docs/testing.md.

Sites are found on the text with comments, strings and preprocessor lines
blanked out; binary operators are only taken where they stand between
spaces (the sources are clang-formatted), which keeps template brackets,
pointers and unary signs out. Mutants are sampled per source with a seed
made of the fixed seed and the file's path, round-robin over the kinds, so
two runs on the same sources try the same mutants whatever the tests are.
"""
import argparse
import datetime
import os
import random
import re
import subprocess
import sys
import time
from pathlib import Path

CHECKOUT = Path(__file__).resolve().parent.parent
WORK = CHECKOUT / "build" / "mutate"
ROOT = WORK / "tree"
BUILD = WORK / "build"
SEED = 18

# family: (sources, host test programs)
FAMILIES = {
    "bitmask": (["src/bitmask.cpp"], ["bitmask_test"]),
    "vector": (["src/vector.cpp"], ["vector_test"]),
    "sortedidlist": (["src/sortedidlist.cpp"], ["sortedidlist_test"]),
    "ringbuffer": (["src/ringbuffer.cpp"], ["ringbuffer_test"]),
    "scattergather": (["src/scattergather.cpp"], ["scattergather_test"]),
    "ohash": (["src/ohash.cpp", "src/internal/ohash_probe.h", "src/zubohash.cpp"],
              ["ohash_test", "zubohash_test"]),
    "lists": (["src/dllist.cpp", "src/strlist.cpp"], ["dllist_test", "strlist_test"]),
    "console": (["src/zubsimplecommandline.cpp"], ["console_test"]),
    "time": (["src/zubtime.cpp"], ["time_test"]),
    "object": (["src/object.cpp"], ["object_test"]),
    "platform": (["platform/debug/zub_debug.c", "platform/osal/zub_osal.c"], ["platform_test"]),
    "serialization": (["src/serializer.cpp", "src/deserializer.cpp", "src/dealloc.cpp",
                       "src/byteorder.cpp", "src/serialization_tables.cpp", "src/internal/table_walk.h"],
                      ["serializer_test", "deserializer_test", "dealloc_test", "byteorder_test"]),
    # The short copies and atom swaps shared by the ring buffer and the codecs.
    "atoms": (["src/internal/atoms.h"],
              ["ringbuffer_test", "serializer_test", "deserializer_test", "dealloc_test", "byteorder_test"]),
}

SWAP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
        "+": "-", "-": "+", "*": "/", "/": "*", "%": "/",
        "&&": "||", "||": "&&", "<<": ">>", ">>": "<<", "&": "|", "|": "&", "^": "|",
        "+=": "-=", "-=": "+=", "|=": "&=", "&=": "|=", "<<=": ">>=", ">>=": "<<="}
KIND = {"<": "relational", "<=": "relational", ">": "relational", ">=": "relational",
        "==": "relational", "!=": "relational", "&&": "logical", "||": "logical"}
OPERATOR = re.compile(r"(?<= )(<<=|>>=|\+=|-=|\|=|&=|&&|\|\||<<|>>|<=|>=|==|!=|<|>|\+|-|\*|/|%|&|\||\^)(?= )")
NUMBER = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])")
CONDITION = re.compile(r"\b(if|while) \(")
DECLARATION = re.compile(r"^\s*(?:(?:const|constexpr|static|unsigned|struct)\s+)*[A-Za-z_][\w:<>,]*[\s*&]+[A-Za-z_]\w*\s*(?:=|;|\[|\{|\()")
NOT_DROPPED = re.compile(r"^\s*(using|return|break|continue|goto|case|default|for|if|while|do|else|switch|static_assert)\b")


def masked_lines(text):
    """The lines with comments, string and character literals,
    preprocessor lines and compile-time checks blanked."""
    out = blank_comments(text, strings=True).split("\n")
    # Preprocessor lines (with their continuations) and compile-time checks
    # are no sites.
    cont = False
    for k, line in enumerate(out):
        if cont or line.lstrip().startswith("#") or "static_assert" in line:
            cont = line.rstrip().endswith("\\")
            out[k] = ""
    return out


def blank_comments(text, strings):
    """text with comments (and, when strings is set, the insides of string
    and character literals) replaced by blanks, line breaks kept."""
    i, n = 0, len(text)
    chars = list(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            chars[i:j] = " " * (j - i)
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            chars[i:j] = [ch if ch == "\n" else " " for ch in text[i:j]]
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            if strings:
                chars[i + 1:j] = " " * (j - i - 1)
            i = j + 1
        else:
            i += 1
    return "".join(chars)


def counted_lines(*tops):
    """Non-blank lines outside comments of the C and C++ files under the
    given folders of the checkout."""
    total = 0
    for top in tops:
        for path in sorted((CHECKOUT / top).rglob("*")):
            if path.suffix in (".c", ".cpp", ".h") and path.is_file():
                text = blank_comments(path.read_text(errors="replace"), strings=False)
                total += sum(1 for line in text.split("\n") if line.strip())
    return total


def matching_paren(line, start):
    depth = 0
    for j in range(start, len(line)):
        if line[j] == "(":
            depth += 1
        elif line[j] == ")":
            depth -= 1
            if depth == 0:
                return j
    return -1


def sites(text):
    """Every candidate mutant: (line index, column, old text, new text, kind)."""
    lines = masked_lines(text)
    originals = text.split("\n")
    found = []
    previous = ""
    for k, line in enumerate(lines):
        if not line.strip():
            continue
        for m in OPERATOR.finditer(line):
            op = m.group(1)
            found.append((k, m.start(), op, SWAP[op], KIND.get(op, "arithmetic")))
        for m in NUMBER.finditer(line):
            digits, suffix = m.group(1), m.group(2)
            value = int(digits, 0)
            hexa = digits.lower().startswith("0x")
            for delta in (1, -1):
                if value + delta < 0:
                    continue
                new = (hex(value + delta) if hexa else str(value + delta)) + suffix
                found.append((k, m.start(), m.group(0), new, "constant"))
        for m in CONDITION.finditer(line):
            open_at = m.end() - 1
            close = matching_paren(line, open_at)
            if close > 0:
                cond = originals[k][open_at + 1:close]
                found.append((k, open_at + 1, cond, "!(" + cond + ")", "negate"))
        stripped = line.strip()
        if (stripped.endswith(";") and previous.endswith((";", "{", "}", ":"))
                and stripped.count("(") == stripped.count(")")
                and not NOT_DROPPED.match(line) and not DECLARATION.match(line)):
            found.append((k, 0, originals[k], "", "drop"))
        previous = stripped
    return found


def sample(path, text, count):
    """count mutants of one source, the same ones for the same text."""
    rng = random.Random(f"{SEED}:{path}")
    by_kind = {}
    for site in sorted(sites(text)):
        by_kind.setdefault(site[4], []).append(site)
    pools = [by_kind[k] for k in sorted(by_kind)]
    for pool in pools:
        rng.shuffle(pool)
    chosen = []
    while len(chosen) < count and any(pools):
        for pool in pools:
            if pool and len(chosen) < count:
                chosen.append(pool.pop())
    return sorted(chosen)


def apply(text, site):
    k, col, old, new, kind = site
    lines = text.split("\n")
    line = lines[k]
    if kind == "drop":
        lines[k] = re.sub(r"\S.*$", "", line)
    else:
        assert line[col:col + len(old)] == old, (site, line)
        lines[k] = line[:col] + new + line[col + len(old):]
    return "\n".join(lines)


def describe(path, site, original):
    k, _, old, new, kind = site
    code = original.split("\n")[k].strip()
    what = "drop statement" if kind == "drop" else f"{kind} '{old.strip()}' -> '{new.strip()}'"
    return f"{path}:{k + 1}: {what}: {code}"


def prepare_tree():
    """Makes build/mutate/tree this checkout's HEAD plus its uncommitted
    changes and new files, and configures its build once."""
    WORK.mkdir(parents=True, exist_ok=True)
    git = ["git", "-C", str(ROOT)]
    if not (ROOT / ".git").exists():
        subprocess.run(["git", "clone", "-q", "--shared", "--no-checkout", str(CHECKOUT), str(ROOT)], check=True)
    head = subprocess.run(["git", "-C", str(CHECKOUT), "rev-parse", "HEAD"], check=True,
                          capture_output=True, text=True).stdout.strip()
    subprocess.run(git + ["fetch", "-q", str(CHECKOUT), head], check=True)
    subprocess.run(git + ["checkout", "-q", "--force", "--detach", head], check=True)
    subprocess.run(git + ["clean", "-q", "-fdx"], check=True)
    diff = subprocess.run(["git", "-C", str(CHECKOUT), "diff", "--binary", "HEAD"], check=True,
                          capture_output=True).stdout
    if diff:
        subprocess.run(git + ["apply", "--whitespace=nowarn"], input=diff, check=True)
    untracked = subprocess.run(["git", "-C", str(CHECKOUT), "ls-files", "-z", "--others", "--exclude-standard"],
                               check=True, capture_output=True, text=True).stdout.split("\0")
    for name in filter(None, untracked):
        (ROOT / name).parent.mkdir(parents=True, exist_ok=True)
        (ROOT / name).write_bytes((CHECKOUT / name).read_bytes())
    if not (BUILD / "build.ninja").exists():
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(BUILD), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                        "-DCMAKE_C_FLAGS_DEBUG=-O1", "-DCMAKE_CXX_FLAGS_DEBUG=-O1", "-DZUB_BUILD_TESTS=ON",
                        "-DZUB_BUILD_EXAMPLES=OFF", "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON"],
                       check=True, stdout=subprocess.DEVNULL)
    return head


def build(targets):
    result = subprocess.run(["nice", "-n", "10", "cmake", "--build", str(BUILD), "-j2", "--target", *targets],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return result.returncode == 0


def run_tests(programs, timeout):
    """The failing cases ("program:Suite.Case", or the program with why it
    stopped); empty when every program passes within its timeout."""
    failed = []
    for program in programs:
        try:
            result = subprocess.run(["nice", "-n", "10", str(BUILD / "tests" / program)],
                                    stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                    errors="replace", timeout=timeout[program],
                                    env=dict(os.environ, ZUB_DEBUG="none"))
        except subprocess.TimeoutExpired:
            failed.append(program + ":timeout")
            continue
        cases = sorted(set(re.findall(r"^\[  FAILED  \] (\S+\.\S+?)(?:,|$| )", result.stdout, re.M)))
        failed += [program + ":" + case for case in cases]
        if result.returncode != 0 and not cases:
            running = re.findall(r"^\[ RUN      \] (\S+)", result.stdout, re.M)
            failed.append(program + ":" + (running[-1] + "(crash)" if running else "crash"))
    return failed


def run_family(name, count, log):
    sources, programs = FAMILIES[name]
    libs = ["zub-vorn", "zub-debug", "zub-osal-common"]
    if not build(libs + programs):
        sys.exit(f"{name}: the unmutated sources do not build")
    timeout = {}
    for program in programs:
        start = time.monotonic()
        if run_tests([program], {program: 600}):
            sys.exit(f"{name}: {program} fails without a mutant")
        timeout[program] = 10 + 5 * (time.monotonic() - start)
    tally = {"killed": 0, "survived": 0, "no-compile": 0}
    survivors = []
    for path in sources:
        original = (ROOT / path).read_text()
        try:
            for site in sample(path, original, count):
                (ROOT / path).write_text(apply(original, site))
                failed = []
                if not build(libs + programs):
                    outcome = "no-compile"
                else:
                    failed = run_tests(programs, timeout)
                    outcome = "killed" if failed else "survived"
                if outcome == "survived":
                    survivors.append(describe(path, site, original))
                tally[outcome] += 1
                line = f"{name}\t{outcome}\t{describe(path, site, original)}\t{' '.join(failed)}"
                print(line, file=log, flush=True)
                print(line, file=sys.stderr, flush=True)
        finally:
            (ROOT / path).write_text(original)
    build(libs + programs)
    return tally, survivors


def compare(before, after):
    """The mutants one log has killed and the other has not (matched by
    their description, as often as each stands); true when the later log
    kills every mutant the earlier one killed."""
    def outcomes(path):
        seen = {}
        for line in Path(path).read_text().splitlines():
            fields = line.split("\t")
            if len(fields) >= 3:
                seen.setdefault(fields[2], []).append(fields[1])
        return seen
    old, new = outcomes(before), outcomes(after)
    lost, gained = [], []
    for what in sorted(set(old) | set(new)):
        a, b = old.get(what, []), new.get(what, [])
        killed_before, killed_after = a.count("killed"), b.count("killed")
        if len(a) != len(b):
            print(f"not in both logs: {what}")
        lost += [what] * max(0, killed_before - killed_after)
        gained += [what] * max(0, killed_after - killed_before)
    for what in lost:
        print(f"killed before only: {what}")
    for what in gained:
        print(f"killed after only: {what}")
    print(f"{len(lost)} lost, {len(gained)} gained")
    return not lost


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("family", nargs="?", help="family name, comma-separated names, or 'all'")
    parser.add_argument("count", nargs="?", type=int, default=20, help="mutants per source (default 20)")
    parser.add_argument("--list", action="store_true", help="print the sampled mutants, run nothing")
    parser.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"),
                        help="two mutants.log files: list the mutants killed in only one of them")
    args = parser.parse_args()
    if args.compare:
        sys.exit(0 if compare(*args.compare) else 1)
    if not args.family:
        parser.error("name a family: " + ", ".join(FAMILIES) + " or all")
    names = list(FAMILIES) if args.family == "all" else args.family.split(",")
    for name in names:
        if name not in FAMILIES:
            parser.error(f"unknown family {name}; known: {', '.join(FAMILIES)}")
    if args.list:
        for name in names:
            for path in FAMILIES[name][0]:
                text = (CHECKOUT / path).read_text()
                for site in sample(path, text, args.count):
                    print(f"{name}\t{describe(path, site, text)}")
        return
    head = prepare_tree()
    started = time.monotonic()
    rows, all_survivors = [], []
    with open(WORK / "mutants.log", "w") as log:
        for name in names:
            tally, survivors = run_family(name, args.count, log)
            rows.append((name, tally))
            all_survivors += survivors
    minutes = (time.monotonic() - started) / 60
    total = {k: sum(t[k] for _, t in rows) for k in ("killed", "survived", "no-compile")}
    rows.append(("total", total))
    report = [f"Last run of `scripts/mutate.py {args.family} {args.count}`: "
              f"{datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC, commit {head[:7]}"
              f"{' with uncommitted changes' if subprocess.run(['git', '-C', str(CHECKOUT), 'diff', '--quiet', 'HEAD']).returncode else ''}"
              f", {args.count} mutants per source, {minutes:.0f} min on {os.cpu_count()} cores "
              f"(load average {' '.join(open('/proc/loadavg').read().split()[:3])} at the end).", "",
              "| family | mutants | killed | survived | did not compile | kill rate |",
              "| --- | ---: | ---: | ---: | ---: | ---: |"]
    for name, t in rows:
        compiled = t["killed"] + t["survived"]
        rate = f"{100.0 * t['killed'] / compiled:.1f} %" if compiled else "-"
        report.append(f"| {name} | {compiled + t['no-compile']} | {t['killed']} | {t['survived']} | "
                      f"{t['no-compile']} | {rate} |")
    report += ["", "Survivors:" if all_survivors else "No survivors.", ""]
    report += [f"- `{s}`" for s in all_survivors]
    tests = counted_lines("tests", "fuzz")
    code = counted_lines("src", "include", "platform", "examples", "tools")
    report += ["", f"Test lines (non-blank, non-comment C and C++ lines of `tests/` and `fuzz/`) against "
               f"code lines (`src/`, `include/`, `platform/`, `examples/`, `tools/`): {tests} / {code} = "
               f"{100.0 * tests / code:.1f} %."]
    print("\n".join(report))
    subprocess.run([sys.executable, str(CHECKOUT / "scripts" / "report_section.py"),
                    str(CHECKOUT / "docs" / "testing.md"), "mutation"], input="\n".join(report), text=True,
                   check=True)


if __name__ == "__main__":
    main()
