#!/usr/bin/env bash
# Mutation check: applies each mutation of a list (tools/mutations.txt by default) to a
# scratch copy of this tree, one at a time, rebuilds it and runs the tests the mutation
# names, then prints which mutations the tests caught and by which tests. A tool for
# people; the test command does not run it.
#
#   tools/mutate.sh [--list FILE] [--only ID[,ID...]] [--all-tests]
#
#   --list FILE   the mutations (format described at the top of tools/mutations.txt)
#   --only IDS    only these mutations
#   --all-tests   run the whole suite for every mutation instead of its `tests` selection
#
# Environment: MUTATE_DIR (scratch folder, default /tmp/arbsuite-mutate; kept between
# runs so that its build folder and ccache make later runs quick), MUTATE_JOBS (build and
# ctest jobs, default 2), MUTATE_TIMEOUT (seconds per test, default 300). Every failing
# test of every mutation is listed in logs/caught.txt of the scratch folder.
# The working tree's files are copied as they are, committed or not; the tree itself is
# never changed. Exit status: 0 when every mutation was caught, 1 otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec python3 - "$root" "$@" <<'PYTHON'
import os, re, subprocess, sys, time

root, args = sys.argv[1], sys.argv[2:]
listFile, only, allTests = os.path.join(root, "tools/mutations.txt"), None, False
while args:
    a = args.pop(0)
    if a == "--list": listFile = args.pop(0)
    elif a == "--only": only = set(args.pop(0).split(","))
    elif a == "--all-tests": allTests = True
    else: sys.exit("mutate: unknown argument " + a)
scratch = os.environ.get("MUTATE_DIR", "/tmp/arbsuite-mutate")
jobs = os.environ.get("MUTATE_JOBS", "2")
timeout = os.environ.get("MUTATE_TIMEOUT", "300")
src, build, logs = (os.path.join(scratch, d) for d in ("src", "build", "logs"))

def parse(path):
    mutations, current, file = [], None, None
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"): continue
        m = re.fullmatch(r"\[([\w.-]+)\]", line.strip())
        if m:
            current = {"id": m.group(1), "what": "", "tests": "", "edits": []}
            mutations.append(current); file = None; continue
        key, sep, value = line.partition(" = ")
        if not sep or current is None: sys.exit(f"mutate: {path}:{number}: cannot read '{line}'")
        key = key.strip()
        if key in ("what", "tests"): current[key] = value
        elif key == "file": file = value
        elif key == "find": current["edits"].append([file, value, None])
        elif key == "replace" and current["edits"] and current["edits"][-1][2] is None:
            current["edits"][-1][2] = value
        else: sys.exit(f"mutate: {path}:{number}: unexpected '{key}'")
    return mutations

def write(path, text):
    # A fresh modification time, so that the build sees every change, a restore included.
    with open(path, "w", encoding="utf-8") as f: f.write(text)

def sync():
    # Copies the working tree (tracked and new files, not ignored ones) where it differs,
    # and removes the copies of files the tree no longer has (a header left behind would
    # still be found by the includes).
    names = subprocess.run(["git", "-C", root, "ls-files", "-z", "--cached", "--others",
                            "--exclude-standard"], check=True, capture_output=True).stdout
    names = [n for n in names.decode().split("\0")
             if n and os.path.isfile(os.path.join(root, n))
             and not os.path.islink(os.path.join(root, n))]
    kept = set(names)
    for folder, _, files in os.walk(src):
        for f in files:
            name = os.path.relpath(os.path.join(folder, f), src)
            if name not in kept: os.remove(os.path.join(folder, f))
    for name in names:
        source, target = os.path.join(root, name), os.path.join(src, name)
        data = open(source, "rb").read()
        if os.path.exists(target) and open(target, "rb").read() == data: continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        open(target, "wb").write(data)
        os.chmod(target, os.stat(source).st_mode & 0o777)

def apply(mutation):
    # Every find is looked up in the unmutated file; returns the originals to restore, or
    # the reason the mutation is stale.
    originals, lines = {}, {}
    for file, find, replace in mutation["edits"]:
        path = os.path.join(src, file)
        if replace is None: return None, f"no replace for '{find}'"
        if not os.path.isfile(path): return None, f"{file} does not exist"
        if path not in originals:
            originals[path] = open(path, encoding="utf-8").read()
            lines[path] = originals[path].split("\n")
        hits = [i for i, l in enumerate(originals[path].split("\n")) if find in l]
        if len(hits) != 1: return None, f"'{find}' is on {len(hits)} lines of {file}"
        lines[path][hits[0]] = lines[path][hits[0]].replace(find, replace, 1)
    for path, text in lines.items(): write(path, "\n".join(text))
    return originals, None

def run(cmd, log):
    with open(log, "a") as f:
        f.write("$ " + " ".join(cmd) + "\n"); f.flush()
        return subprocess.run(cmd, stdout=f, stderr=subprocess.STDOUT).returncode

def failedTests(log):
    text = open(log).read()
    if "The following tests FAILED:" not in text: return []
    tail = text.split("The following tests FAILED:")[-1]
    # "  12 - program.Suite.Case/param  # GetParam() = ... (Failed)"; a parameter's name
    # may hold spaces and parentheses, the status is the last parenthesis.
    return re.findall(r"^\s*\d+ - (.+?)(?:\s+# .*)?\s+\([^()]*\)\s*$", tail, re.M)

def summary(failed):
    # Failures per test program, then the first few tests by name.
    programs = {}
    for name in failed: programs[name.split(".")[0]] = programs.get(name.split(".")[0], 0) + 1
    counts = ", ".join(f"{p} {n}" for p, n in programs.items())
    names = "; ".join(n.split(".", 1)[1] for n in failed[:3])
    return f"{counts}: {names}" + (f"; and {len(failed) - 3} more" if len(failed) > 3 else "")

def ctest(regex, log):
    # Returns the failed tests, or None when ctest ran no test at all (a selection that
    # matches nothing, or one CMake's regular expressions cannot read).
    cmd = ["ctest", "--test-dir", build, "-j", jobs, "--timeout", timeout, "--output-on-failure"]
    if regex: cmd += ["-R", regex]
    start = os.path.getsize(log)
    run(cmd, log)
    with open(log) as f:
        f.seek(start)
        output = f.read()
    if "No tests were found" in output or "tests passed" not in output: return None
    return failedTests(log)

mutations = [m for m in parse(listFile) if only is None or m["id"] in only]
os.makedirs(logs, exist_ok=True)
sync()
launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if subprocess.run(
    ["sh", "-c", "command -v ccache"], capture_output=True).returncode == 0 else []
baseLog = os.path.join(logs, "baseline.log")
open(baseLog, "w").close()
print(f"mutate: scratch copy in {src}, build in {build}, logs in {logs}", flush=True)
if run(["cmake", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
        "-DWARNINGS_AS_ERRORS=ON", "-DBUILD_BENCHMARKS=OFF"] + launcher, baseLog) or \
   run(["cmake", "--build", build, "-j", jobs], baseLog):
    sys.exit(f"mutate: the unmutated tree does not build (see {baseLog})")
# The whole suite on the unmutated tree (a union of the selections could exceed the ten
# groups CMake's regular expressions allow).
baseFailures = ctest("", baseLog)
if baseFailures is None:
    sys.exit(f"mutate: ctest ran no test (see {baseLog})")
if baseFailures:
    print(f"mutate: {len(baseFailures)} tests fail without a mutation and are not counted: "
          + " ".join(baseFailures), flush=True)

rows, survivors = [], 0
open(os.path.join(logs, "caught.txt"), "w").close()
for m in mutations:
    log = os.path.join(logs, m["id"] + ".log")
    open(log, "w").close()
    start = time.time()
    originals, stale = apply(m)
    if stale:
        rows.append((m, "STALE", stale)); survivors += 1
        print(f"mutate: {m['id']}: stale ({stale})", flush=True); continue
    failed = []
    try:
        if run(["cmake", "--build", build, "-j", jobs], log):
            verdict, detail = "NOT BUILT", "the mutant does not compile"
        else:
            failed = ctest("" if allTests else m["tests"], log)
            if failed is None:
                failed, verdict, detail = [], "NO TESTS", "ctest ran no test for its selection"
            else:
                failed = [t for t in failed if t not in baseFailures]
                verdict = "caught" if failed else "SURVIVED"
                detail = summary(failed) if failed else "no test failed"
    finally:
        for path, text in originals.items(): write(path, text)
    survivors += verdict != "caught"
    rows.append((m, verdict, detail))
    with open(os.path.join(logs, "caught.txt"), "a") as f:
        f.write(f"[{m['id']}] {verdict}\n" + "".join(f"  {t}\n" for t in failed))
    print(f"mutate: {m['id']}: {verdict} in {time.time() - start:.0f} s ({detail})", flush=True)

print("\n| mutation | what | verdict | failing tests |\n|---|---|---|---|")
for m, verdict, detail in rows:
    print(f"| {m['id']} | {m['what']} | {verdict} | {detail} |")
# Leave the scratch build matching the unmutated tree.
run(["cmake", "--build", build, "-j", jobs], baseLog)
sys.exit(1 if survivors else 0)
PYTHON
