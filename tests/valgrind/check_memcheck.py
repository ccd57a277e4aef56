"""Reads a memcheck log and fails on any memory error, on any leak that has
a frame in one of our modules, and on any block our modules took from the
host (mxMalloc) that is still held at exit: the host keeps such blocks in
its own table, so memcheck reports them as reachable, not lost, and only
this test tells them apart. Octave leaks a little of its own memory at exit
(the interpreter's static tables); those records have no frame of ours and
are left alone, so no suppression file is needed.

    check_memcheck.py <log>
"""
import re
import sys

OURS = ("tessary.mex", "corvane.mex")


def records(text):
    """The reports of the log, one string each."""
    body = []
    for line in text.splitlines():
        m = re.match(r"==\d+== ?(.*)", line)
        if not m:
            continue
        content = m.group(1)
        if content == "" and body:
            yield "\n".join(body)
            body = []
        elif content:
            body.append(content)
    if body:
        yield "\n".join(body)


def main():
    text = open(sys.argv[1]).read()
    bad = []
    leaks = 0
    for r in records(text):
        first = r.splitlines()[0]
        if any(kind in first for kind in ("definitely lost", "indirectly lost", "possibly lost", "still reachable")):
            leaks += 1
            ours = any(o in r for o in OURS)
            if ours and ("definitely lost" in first or "mxMalloc" in r):
                bad.append(r)
        elif re.match(r"(Invalid|Conditional jump|Use of uninitialised|Syscall param|Mismatched|Source and destination|"
                      r"Argument|Invalid free|Jump to)", first):
            bad.append(r)
    summary = re.findall(r"ERROR SUMMARY: (\d+) errors", text)
    if bad:
        print("memcheck: %d problems in or through our code" % len(bad))
    else:
        print("memcheck: no memory error; %d leak records, none with a frame of ours" % leaks)
    for r in bad[:10]:
        print(r)
        print()
    if not summary:
        print("memcheck: no summary in the log: the run did not finish")
        return 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
