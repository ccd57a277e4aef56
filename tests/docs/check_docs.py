"""What the README and doc/ state that can drift from the code, checked
cheaply: the error table against the module's, the help pages against
inst/, the layout against the tree, and the performance headline against
bench/results.md.

    python3 check_docs.py <repository>
"""
import os
import re
import subprocess
import sys

root = sys.argv[1]
failures = []


def read(*path):
    with open(os.path.join(root, *path), encoding="utf-8") as f:
        return f.read()


def check(ok, what):
    if not ok:
        failures.append(what)


# The error table: every identifier once, each message an instance of its template.
table = dict(re.findall(r'\{"(\w+)", "((?:[^"\\]|\\.)*)"\}', read("common", "core", "error_report.cpp")))
documented = dict(re.findall(r"^\| `(\w+)` \| (.*) \|$", read("doc", "errors.md"), re.M))
check(set(documented) == set(table), "doc/errors.md lists %s, the module %s" % (sorted(documented), sorted(table)))
for name, text in documented.items():
    if name not in table or name == "exception":
        continue
    pattern = "^" + re.escape(table[name]).replace("%s", ".+").replace("%i", "-?[0-9]+") + "$"
    for message in text.split(" / "):
        check(re.match(pattern, message) is not None, "doc/errors.md: %s is not '%s'" % (message, table[name]))
# help tessary: every identifier of the table and every sub-command of the
# module's table, and no other (but the help file's own noModule).
helptext = read("inst", "tessary.m")
helped = set(re.findall(r"tessary:(\w+)", helptext)) - {"noModule"}
check(helped == set(table), "help tessary names the identifiers %s, the module raises %s" % (sorted(helped), sorted(table)))
commands = set(re.findall(r'^\s*\{"(\w+)", run\w+, (?:true|false)\},', read("tessary", "tessary_module.cpp"), re.M))
listed = helptext[helptext.index("tessary:unknownSubcommand"):]
listed = set(re.findall(r"'(\w+)'", listed[:listed.index("%   tessary:wrongClass")]))
check(listed == commands | {"DELETE"}, "help tessary lists the sub-commands %s, the module has %s" % (sorted(listed), sorted(commands)))
for command in commands:
    check("'%s'" % command in helptext[:helptext.index("Errors, by identifier")],
          "help tessary shows no call of '%s'" % command)
readme = read("README.md")
for name in re.findall(r"`(?:tessary|corvane):(\w+)`", readme):
    check(name in table, "the README names tessary:%s, which the module does not raise" % name)

# The help pages: those named exist, and every function of inst/ is named.
functions = {f[:-2] for f in os.listdir(os.path.join(root, "inst")) if f.endswith(".m") and f != "Contents.m"}
named = set(re.findall(r"`help (\w+)`", readme))
check(named <= functions, "the README names help pages that inst/ lacks: %s" % sorted(named - functions))
check(functions <= named, "the README names no help page for %s" % sorted(functions - named))

# The layout: every folder it names exists, and every top-level folder is named.
layout = readme[readme.index("Layout:"):readme.index("## Licences")]
folders = set(re.findall(r"`([\w./-]+)/`", layout))
for folder in folders:
    check(os.path.isdir(os.path.join(root, folder)), "the layout names %s/, which does not exist" % folder)
tracked = subprocess.run(["git", "-C", root, "ls-files"], capture_output=True, text=True).stdout.split()
top = {p.split("/")[0] for p in tracked if "/" in p and not p.startswith(".")}
check(top <= folders, "the layout leaves out %s" % sorted(top - folders))

# The performance headline: each row as the benchmark of this commit wrote it.
headline = readme[readme.index("Headline of the last run"):readme.index("How the speed is had")]
results = read("bench", "results.md")
rows = [line for line in headline.splitlines() if line.startswith("| ") and not line.startswith("| case")]
check(rows, "the README shows no headline rows")
for line in rows:
    check(line in results, "the README's headline row is not in bench/results.md: %s" % line)
check(re.search(r"^Commit \w+, [0-9-]+, .*\.$", headline, re.M) is not None, "the headline names no commit and date")

for f in failures:
    print("FAIL: " + f)
sys.exit(1 if failures else 0)
