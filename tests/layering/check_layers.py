#!/usr/bin/env python3
"""Checks that every quoted #include under src/ and components/ points to
its own folder or a lower one, and that Qt is included only under
src/desktop/. Prints one line per offence (file:line: why) and exits 1
when there is any.

  check_layers.py SOURCE_ROOT     check the tree
  check_layers.py --self-test     plant offences in a scratch tree and
                                  check that each one is reported
"""
import os
import re
import sys
import tempfile

# Folders of src/, bottom to top. A folder may include itself and any
# folder of a lower rank; folders of the same rank stay apart.
RANKS = {
    "platform": 1,
    "text": 2,
    "log": 3, "tls": 3,
    "component": 4, "trust": 4,
    "request": 5,
    "host": 6,
    "desktop": 7,
}
# The component ABI header (components/include) belongs to the component
# folder's rank: the bridge and everything above it may use it.
ABI_RANK = RANKS["component"]

QUOTED = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
QT = re.compile(r'^\s*#\s*include\s+<(Q[A-Za-z]*|Qt[A-Za-z]+/[^>]*)>')
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")


def included_rank(root, including_dir, name):
    """(kind, rank) of an included name: ('src', rank), ('abi', rank),
    ('p11crypto', None), ('local', None) or ('unknown', None)."""
    top = name.split("/", 1)[0]
    if top in RANKS and os.path.exists(os.path.join(root, "src", name)):
        return "src", RANKS[top]
    if os.path.exists(os.path.join(root, "components", "include", name)):
        return "abi", ABI_RANK
    if top == "p11crypto":
        return "p11crypto", None
    if name.endswith(".moc") or os.path.exists(os.path.join(including_dir, name)):
        return "local", None
    return "unknown", None


def check_src_file(root, path, folder, lineno, name, problems):
    kind, rank = included_rank(root, os.path.dirname(path), name)
    own = RANKS[folder]
    where = f"{os.path.relpath(path, root)}:{lineno}"
    if kind == "p11crypto":
        problems.append(f"{where}: \"{name}\" is the bundled component's; the agent reaches it only through the ABI")
    elif kind == "unknown":
        problems.append(f"{where}: \"{name}\" names no file of src/ or components/include")
    elif kind in ("src", "abi"):
        target = name.split("/", 1)[0] if kind == "src" else "component"
        if target != folder and rank >= own:
            direction = "up" if rank > own else "sideways"
            problems.append(f"{where}: \"{name}\" points {direction}: {folder} (rank {own}) may include only "
                            f"lower folders, not {target} (rank {rank})")


def check_component_file(root, path, lineno, name, problems):
    kind, _ = included_rank(root, os.path.dirname(path), name)
    if kind not in ("abi", "p11crypto", "local"):
        problems.append(f"{os.path.relpath(path, root)}:{lineno}: \"{name}\": a component includes only itself "
                        "and the ABI header, never the agent's sources")


def check_tree(root):
    problems = []
    for base in ("src", "components"):
        for dirpath, _, files in os.walk(os.path.join(root, base)):
            for file in sorted(files):
                if not file.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, file)
                rel = os.path.relpath(path, os.path.join(root, base)).split(os.sep)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for lineno, line in enumerate(f, 1):
                        if QT.match(line) and not (base == "src" and rel[0] == "desktop"):
                            problems.append(f"{os.path.relpath(path, root)}:{lineno}: Qt is included outside "
                                            "src/desktop/")
                        m = QUOTED.match(line)
                        if not m:
                            continue
                        if base == "src":
                            if rel[0] not in RANKS:
                                problems.append(f"{os.path.relpath(path, root)}: src/{rel[0]} is not a known folder")
                                break
                            check_src_file(root, path, rel[0], lineno, m.group(1), problems)
                        else:
                            check_component_file(root, path, lineno, m.group(1), problems)
    return problems


# Each planted offence: (file, text, what the report must contain).
PLANTED = [
    ("src/log/diagnostic_log.cpp", '#include "request/answer.h"\n', "src/log/diagnostic_log.cpp:1: \"request/answer.h\" points up"),
    ("src/trust/trust.cpp", '#include "component/variant.h"\n', "src/trust/trust.cpp:1: \"component/variant.h\" points sideways"),
    ("src/platform/clock.cpp", '#include "vorlink_component.h"\n', "src/platform/clock.cpp:1: \"vorlink_component.h\" points up"),
    ("src/host/agent.cpp", '// a comment\n#include <QObject>\n', "src/host/agent.cpp:2: Qt is included outside"),
    ("src/request/call.cpp", '#include "p11crypto/value.h"\n', "src/request/call.cpp:1: \"p11crypto/value.h\" is the bundled"),
    ("src/request/call2.cpp", '#include "nowhere/x.h"\n', "src/request/call2.cpp:1: \"nowhere/x.h\" names no file"),
    ("components/p11crypto/a.cpp", '#include "log/diagnostic_log.h"\n', "components/p11crypto/a.cpp:1: \"log/diagnostic_log.h\": a component"),
]
# Targets the planted includes name, and includes that are allowed.
SCAFFOLD = {
    "src/request/answer.h": "",
    "src/component/variant.h": "",
    "src/log/diagnostic_log.h": "",
    "components/include/vorlink_component.h": "",
    "components/p11crypto/value.h": "",
    "src/host/ok.cpp": '#include "request/answer.h"\n#include "log/diagnostic_log.h"\n',
    "src/desktop/ok.cpp": '#include <QObject>\n#include "host/ok.h"\n',
    "src/host/ok.h": "",
    "components/p11crypto/ok.cpp": '#include "p11crypto/value.h"\n#include "vorlink_component.h"\n',
}


def self_test():
    with tempfile.TemporaryDirectory() as root:
        for rel, text in list(SCAFFOLD.items()) + [(f, t) for f, t, _ in PLANTED]:
            os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
            with open(os.path.join(root, rel), "w") as f:
                f.write(text)
        problems = check_tree(root)
    missed = [want for _, _, want in PLANTED if not any(p.startswith(want) for p in problems)]
    extra = [p for p in problems if not any(p.startswith(want) for _, _, want in PLANTED)]
    for want in missed:
        print(f"not reported: {want}")
    for p in extra:
        print(f"reported wrongly: {p}")
    print(f"self-test: {len(PLANTED) - len(missed)} of {len(PLANTED)} planted offences reported, {len(extra)} false")
    return 1 if missed or extra else 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    problems = check_tree(sys.argv[1])
    for p in problems:
        print(p)
    print(f"{len(problems)} include(s) against the layers")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
