#!/usr/bin/env python3
"""Checks that the modules' OpenMP stays within OpenMP 2.0, all that Visual
C++'s /openmp takes (build.m passes it on Windows), since no compiler here
can be limited to that version: the directives and clauses 2.0 has, and
loops whose variable is a signed integer, compared with <, <=, > or >=.

Usage: openmp_pragmas.py <source root>
"""
import pathlib
import re
import sys

DIRECTIVES = {"parallel", "for", "parallel for", "sections", "parallel sections", "section", "single",
              "master", "critical", "barrier", "atomic", "flush", "ordered", "threadprivate"}
CLAUSES = {"private", "firstprivate", "lastprivate", "shared", "default", "reduction", "copyin", "copyprivate",
           "schedule", "ordered", "nowait", "if", "num_threads"}
SCHEDULES = {"static", "dynamic", "guided", "runtime"}
REDUCTIONS = {"+", "*", "-", "&", "|", "^", "&&", "||"}
SIGNED = r"(?:int|long|long long|std::int32_t|std::int64_t|std::ptrdiff_t|int32_t|int64_t)"
LOOP = re.compile(r"\s*for \(" + SIGNED + r" (\w+) = [^;]+; \1 (?:<|<=|>|>=) [^;]+; (?:\+\+\1|\1\+\+|--\1|\1--|\1 [+-]= [^)]+)\)")


def clauses(text):
    """The clauses of a directive's remainder, as (name, argument) pairs."""
    found, at = [], 0
    while at < len(text):
        m = re.match(r"\s*,?\s*(\w+)\s*", text[at:])
        if not m:
            return None
        name, at = m.group(1), at + m.end()
        argument = None
        if at < len(text) and text[at] == "(":
            depth, end = 0, at
            for end in range(at, len(text)):
                depth += {"(": 1, ")": -1}.get(text[end], 0)
                if depth == 0:
                    break
            argument, at = text[at + 1:end], end + 1
        found.append((name, argument))
    return found


def problems(path, lines):
    for number, line in enumerate(lines, 1):
        m = re.match(r"\s*#pragma omp (.*)$", line)
        if not m:
            continue
        where = "%s:%d" % (path, number)
        words = m.group(1).split()
        directive = " ".join(words[:2]) if " ".join(words[:2]) in DIRECTIVES else words[0]
        if directive not in DIRECTIVES:
            yield "%s: '%s' is not an OpenMP 2.0 directive" % (where, directive)
            continue
        rest = m.group(1)[len(directive):]
        parsed = clauses(rest)
        if parsed is None:
            yield "%s: cannot read the clauses '%s'" % (where, rest.strip())
            continue
        for name, argument in parsed:
            if name not in CLAUSES:
                yield "%s: clause '%s' is not OpenMP 2.0" % (where, name)
            elif name == "schedule" and argument.split(",")[0].strip() not in SCHEDULES:
                yield "%s: schedule(%s) is not OpenMP 2.0" % (where, argument)
            elif name == "reduction" and argument.split(":")[0].strip() not in REDUCTIONS:
                yield "%s: reduction(%s) is not OpenMP 2.0" % (where, argument)
        if directive.endswith("for") and not LOOP.match(lines[number] if number < len(lines) else ""):
            yield "%s: the loop must run a signed integer with <, <=, > or >=: %s" % (where, lines[number].strip())


def main():
    root = pathlib.Path(sys.argv[1])
    sources = sorted(p for d in ("common", "tessary", "corvane") for p in (root / d).rglob("*") if p.suffix in (".cpp", ".hpp"))
    found = [p for path in sources for p in problems(path.relative_to(root), path.read_text().splitlines())]
    for p in found:
        print(p)
    pragmas = sum(len(re.findall(r"#pragma omp", path.read_text())) for path in sources)
    print("%d OpenMP directives in %d files; %d beyond OpenMP 2.0" % (pragmas, len(sources), len(found)))
    return 1 if found or pragmas == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
