#!/usr/bin/python3
"""Checks the layout rules of docs/architecture.md against the sources.

    tools/check-architecture.py [ROOT]

ROOT is the project folder (default: the one holding this script). Reads the two
tables of ROOT/docs/architecture.md (marked by the comments "uses:" and "reaches:")
and every C and C++ file git tracks, and fails (exit 1, one line per finding on
standard error) when
  - a header name appears twice (an include could find the wrong one),
  - a component includes a header of a component it may not use,
  - a component includes a header from another component's src/ (its insides) that
    the reaches table does not list, or the table lists a reach that is gone,
  - a CMake target makes a src/ folder public (its consumers would reach inside),
  - a component's code (not its tests, benchmarks or tools) opens a named namespace
    outside the one root namespace arbsuite.
A component is a top-level folder, or hosts/<name>; tests/<name>, bench/<name> and
tools/<name> belong to <name>, whose src/ they may include. Exit 0 with a one-line
summary when every rule holds.
"""
import os
import re
import subprocess
import sys
from collections import defaultdict

INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)"')
NAMESPACE = re.compile(r"^\s*namespace\s+([A-Za-z_][\w:]*)\s*\{")
ANONYMOUS_NAMESPACE = re.compile(r"^\s*namespace\s*\{")
NAMESPACE_END = re.compile(r"^\s*\}\s*//\s*namespace\b")
INCLUDE_DIRECTORIES = re.compile(r"target_include_directories\s*\(([^()]*(?:\([^()]*\)[^()]*)*)\)")


def public_src_targets(cmake_text):
    """The targets whose target_include_directories make a src/ folder PUBLIC or
    INTERFACE."""
    targets = []
    for call in INCLUDE_DIRECTORIES.finditer(cmake_text):
        words = call.group(1).split()
        scope = None
        for word in words[1:]:
            if word in ("PUBLIC", "INTERFACE", "PRIVATE", "SYSTEM", "BEFORE", "AFTER"):
                scope = word if word != "SYSTEM" else scope
                continue
            if scope in ("PUBLIC", "INTERFACE") and re.search(r"/src/?(>|$)", word):
                targets.append(words[0])
                break
    return targets


def component(path):
    """The component a tracked file belongs to, and whether it is a test, benchmark
    or tool of it (which may reach its src/)."""
    parts = path.split("/")
    if parts[0] in ("tests", "bench", "tools") and len(parts) > 2:
        if parts[1] == "support":
            return "tests/support", False
        if parts[1] == "hosts":
            return "hosts", True
        return parts[1], True
    if parts[0] == "hosts" and len(parts) > 2:
        return "hosts/" + parts[1], False
    return parts[0], False


def read_tables(document):
    """The "uses:" table (component -> components it may use) and the "reaches:"
    table (component -> components whose src/ it still includes)."""
    tables = {"uses": {}, "reaches": {}}
    current = None
    with open(document, encoding="utf-8") as text:
        for line in text:
            marker = re.match(r"\s*<!--\s*(uses|reaches):\s*-->", line)
            if marker:
                current = tables[marker.group(1)]
                continue
            if current is None:
                continue
            if not line.startswith("|"):
                if line.strip():
                    current = None
                continue
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if len(cells) < 2 or set(cells[0]) <= set("-: "):
                continue
            names = re.findall(r"`([^`]+)`", cells[0])
            if not names:
                continue  # the header row
            current[names[0]] = set(re.findall(r"`([^`]+)`", cells[1]))
    return tables["uses"], tables["reaches"]


def tracked(root, patterns):
    out = subprocess.run(["git", "-C", root, "ls-files", "--"] + patterns, check=True,
                         capture_output=True, text=True).stdout
    return [p for p in out.splitlines() if p]


def check(root):
    findings = []
    uses, reaches = read_tables(os.path.join(root, "docs", "architecture.md"))
    if not uses:
        return ["docs/architecture.md: no table of the components and what they use"]
    sources = tracked(root, ["*.c", "*.cpp", "*.h", "*.hpp"])
    headers = defaultdict(list)
    for path in sources:
        if path.endswith((".h", ".hpp")):
            headers[os.path.basename(path)].append(path)
    for name, places in sorted(headers.items()):
        if len(places) > 1:
            findings.append(f"the header name {name} appears twice: " + ", ".join(places))

    def belongs(owner, user, own_part):
        """Whether a header of `owner` is the user's own: its component, or for the
        hosts' tests, benchmarks and tools any host."""
        return owner == user or (own_part and user == "hosts" and owner.startswith("hosts/"))

    def may_use(owner, user):
        """Whether files of `user` may include a header of another component."""
        if owner == "tests/support":
            return True
        allowed = set(uses.get(user, set()))
        if user == "hosts":
            for name, used in uses.items():
                if name.startswith("hosts/"):
                    allowed |= used
        return owner in allowed

    seen_reaches = defaultdict(set)
    for path in sources:
        user, own_part = component(path)
        if user not in uses and user not in ("tests/support", "hosts") and not own_part:
            findings.append(f"{path}: its component {user} is not in docs/architecture.md")
            continue
        namespaces = []  # the namespaces open at this line, by their closing comments
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                opened = NAMESPACE.match(line)
                if opened or ANONYMOUS_NAMESPACE.match(line):
                    name = opened.group(1) if opened else ""
                    if opened and not namespaces and not own_part and \
                            user != "tests/support" and name.split("::")[0] != "arbsuite":
                        findings.append(f"{path}:{number}: namespace {name} is outside "
                                        "the root namespace arbsuite")
                    namespaces.append(name)
                elif NAMESPACE_END.match(line) and namespaces:
                    namespaces.pop()
                match = INCLUDE.match(line)
                if not match:
                    continue
                places = headers.get(os.path.basename(match.group(1)))
                if not places:
                    continue  # a system or generated header
                target = places[0]
                owner, _ = component(target)
                inside = "/src/" in target
                where = f"{path}:{number}"
                if belongs(owner, user, own_part):
                    continue
                if not may_use(owner, user):
                    findings.append(f"{where}: {user} may not use {owner} ({target})")
                elif inside:
                    if owner in reaches.get(user, set()):
                        seen_reaches[user].add(owner)
                    else:
                        findings.append(f"{where}: {user} reaches into {owner}'s insides "
                                        f"({target})")
    for path in tracked(root, ["*CMakeLists.txt"]):
        with open(os.path.join(root, path), encoding="utf-8") as text:
            for target in public_src_targets(text.read()):
                if target in reaches.get("public src", set()):
                    seen_reaches["public src"].add(target)
                else:
                    findings.append(f"{path}: {target} makes a src/ folder public")
    for user, owners in sorted(reaches.items()):
        for owner in sorted(owners - seen_reaches[user]):
            findings.append(f"docs/architecture.md: {user} no longer reaches into {owner}: "
                            "take it out of the table")
    return findings


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(
        os.path.abspath(__file__)))
    findings = check(root)
    for finding in findings:
        print(finding, file=sys.stderr)
    if findings:
        print(f"check-architecture: {len(findings)} finding(s)", file=sys.stderr)
        return 1
    print("check-architecture: every include and dependency follows docs/architecture.md")
    return 0


if __name__ == "__main__":
    sys.exit(main())
