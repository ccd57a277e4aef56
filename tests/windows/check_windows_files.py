"""Checks the cross-built Windows modules as files, with objdump:
- each is a DLL of its machine (PE32 i386 for .mexw32, PE32+ x86-64 for
  .mexw64) that exports mexFunction and nothing else;
- it imports from libmx.dll, libmex.dll, KERNEL32.dll and msvcrt.dll only
  (the C++ and OpenMP runtimes linked in), and from libmx and libmex only
  entry points of the interface's .def files; corvane none of those it has
  no use for;
- the 32-bit build's own code does no x87 arithmetic.

    check_windows_files.py <build-windows folder> <matlab interface folder>
"""
import glob
import os
import re
import subprocess
import sys

ALLOWED_DLLS = {"libmx.dll", "libmex.dll", "kernel32.dll", "msvcrt.dll"}
NOT_FOR_CORVANE = {"mexEvalString", "mxGetPr", "mxCreateDoubleMatrix_730", "mxCreateLogicalMatrix_730"}
MACHINES = {"win32": "pei-i386", "win64": "pei-x86-64"}
X87_ARITHMETIC = re.compile(r"\tf(add|sub|subr|mul|div|divr|sqrt|prem1?|scale|rndint|sin|cos|sincos|patan|ptan|"
                            r"yl2x|yl2xp1|2xm1|abs|chs|com|comp|ucom|ucomp|ucompp|comi|ucomi)p?[lsq]?\s")


def objdump(*args):
    return subprocess.run(["objdump", *args], check=True, capture_output=True, text=True).stdout


def interface_names(folder):
    names = set()
    for library in ("libmx", "libmex"):
        with open(os.path.join(folder, library + ".def")) as f:
            names |= {line.strip() for line in f if line.startswith("    ")}
    return names


def exports_and_imports(path):
    """The exported names, and the imported names by DLL (lower case)."""
    text = objdump("-p", path)
    exports = re.findall(r"^\s+\[\s*\d+\] (\S+)$", text.split("[Ordinal/Name Pointer] Table")[-1], re.M) \
        if "[Ordinal/Name Pointer] Table" in text else []
    imports = {}
    for block in text.split("DLL Name: ")[1:]:
        lines = block.splitlines()
        entries = lines[2:lines.index("")] if "" in lines else lines[2:]
        imports[lines[0].strip().lower()] = [line.split()[-1] for line in entries]
    return exports, imports


def check_module(path, arch, interface, problems):
    name = os.path.basename(path)
    if f"file format {MACHINES[arch]}" not in objdump("-f", path):
        problems.append(f"{name}: not {MACHINES[arch]}")
    exports, imports = exports_and_imports(path)
    if exports != ["mexFunction"]:
        problems.append(f"{name}: exports {exports}")
    for dll in sorted(set(imports) - ALLOWED_DLLS):
        problems.append(f"{name}: imports from {dll}")
    used = set(imports.get("libmx.dll", [])) | set(imports.get("libmex.dll", []))
    for entry in sorted(used - interface):
        problems.append(f"{name}: imports {entry}, which the interface does not offer")
    if name.startswith("corvane"):
        for entry in sorted(used & NOT_FOR_CORVANE):
            problems.append(f"{name}: imports {entry}")
    print(f"{name}: exports {', '.join(exports)}; imports from {', '.join(sorted(imports))}")


def check_no_x87(build, problems):
    objects = glob.glob(os.path.join(build, "*.a")) + glob.glob(os.path.join(build, "CMakeFiles", "*.dir", "**",
                                                                            "*.obj"), recursive=True)
    found = [line for path in objects for line in objdump("-d", path).splitlines() if X87_ARITHMETIC.search(line)]
    if not objects:
        problems.append(f"no object files of the 32-bit build in {build}")
    for line in found[:10]:
        problems.append(f"x87 arithmetic in the 32-bit build: {line.strip()}")


def main():
    root, interface_folder = sys.argv[1], sys.argv[2]
    interface = interface_names(interface_folder)
    problems = []
    for arch in MACHINES:
        modules = sorted(glob.glob(os.path.join(root, arch, "*.mexw*")))
        if [os.path.basename(m).split(".")[0] for m in modules] != ["corvane", "tessary"]:
            problems.append(f"{arch}: modules {modules}")
        for path in modules:
            check_module(path, arch, interface, problems)
    check_no_x87(os.path.join(root, "build-win32"), problems)
    for p in problems:
        print("FAILED:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
