"""tools/check-architecture.py on small trees built here, one fault at a time, and on
the project itself."""
import os
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECKER = os.path.join(ROOT, "tools", "check-architecture.py")

TABLES = """# Architecture
<!-- uses: -->
| Component | May use |
|---|---|
| `base` | |
| `app` | `base` |
| `tool` | |

<!-- reaches: -->
| Component | Includes the `src/` of |
|---|---|
{reaches}
"""

# A tree that keeps every rule: app uses base's include/, base's tests reach its src/.
FILES = {
    "base/include/base.h": "#pragma once\n",
    "base/src/base_inside.h": "#pragma once\n",
    "base/src/base.cpp": '#include "base.h"\n#include "base_inside.h"\n',
    "app/src/main.cpp": '#include "base.h"\n#include <vector>\n',
    "tests/base/test_base.cpp": '#include "base_inside.h"\n',
    "tool/src/tool.cpp": "int main() { return 0; }\n",
    "CMakeLists.txt": "target_include_directories(base PUBLIC include)\n",
}


def run(tmp_path, changes=None, reaches=""):
    files = dict(FILES)
    files.update(changes or {})
    files["docs/architecture.md"] = TABLES.format(reaches=reaches)
    for name, text in files.items():
        if text is None:
            continue
        path = tmp_path / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    subprocess.run(["git", "init", "-q", str(tmp_path)], check=True)
    subprocess.run(["git", "-C", str(tmp_path), "add", "-A"], check=True)
    return subprocess.run([sys.executable, CHECKER, str(tmp_path)], capture_output=True, text=True)


def test_a_tree_that_keeps_the_rules_passes(tmp_path):
    result = run(tmp_path)
    assert result.returncode == 0, result.stderr
    assert "follows docs/architecture.md" in result.stdout


@pytest.mark.parametrize("changes, reaches, words", [
    ({"app/src/base.h": "#pragma once\n"}, "", "the header name base.h appears twice"),
    ({"base/src/uses_app.cpp": '#include "app_api.h"\n', "app/include/app_api.h": "\n"}, "",
     "base may not use app"),
    ({"tool/src/tool.cpp": '#include "base.h"\n'}, "", "tool may not use base"),
    ({"app/src/main.cpp": '#include "base_inside.h"\n'}, "",
     "app reaches into base's insides (base/src/base_inside.h)"),
    ({}, "| `app` | `base` |", "app no longer reaches into base"),
    ({"CMakeLists.txt": "target_include_directories(app_core PUBLIC\n  ${X}/src)\n"}, "",
     "app_core makes a src/ folder public"),
    ({"base/src/base.cpp": "namespace base {\nint f();\n}  // namespace base\n"}, "",
     "namespace base is outside the root namespace arbsuite"),
])
def test_each_broken_rule_is_named(tmp_path, changes, reaches, words):
    result = run(tmp_path, changes, reaches)
    assert result.returncode == 1
    assert words in result.stderr


def test_a_listed_reach_is_let_through(tmp_path):
    result = run(tmp_path, {"app/src/main.cpp": '#include "base_inside.h"\n'}, "| `app` | `base` |")
    assert result.returncode == 0, result.stderr


def test_a_private_src_beside_a_public_include_is_no_finding(tmp_path):
    cmake = ("target_include_directories(base PUBLIC $<BUILD_INTERFACE:${X}/include>\n"
             "                           PRIVATE ${X}/src)\n")
    result = run(tmp_path, {"CMakeLists.txt": cmake})
    assert result.returncode == 0, result.stderr


def test_namespaces_inside_the_root_and_in_tests_are_no_finding(tmp_path):
    nested = ("namespace arbsuite::base {\nnamespace detail {\nnamespace {\nint f();\n}"
              "  // namespace\n}  // namespace detail\n}  // namespace arbsuite::base\n"
              "namespace {\nint g();\n}  // namespace\n")
    result = run(tmp_path, {"base/src/base.cpp": nested,
                            "tests/base/test_base.cpp": "namespace basetest {\n}\n"})
    assert result.returncode == 0, result.stderr


def test_the_project_keeps_its_rules():
    result = subprocess.run([sys.executable, CHECKER, ROOT], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
