#!/usr/bin/env python3
"""Checks that KOV's layers run one way and that no files include each other
in a circle.

The layers, lowest first: rmparser/ (the reader), analysis/ (the
measurement), chart/ (model and drawing), shell/ (the window), then tools/.
A file may include its own folder's headers and those of a lower layer,
never a higher one. Tests under tests/<layer>/ follow their layer, and may
use tests/support/ and the test support of a lower layer. A file and the
header of the same name are one unit; no chain of includes between units may
lead back to where it started.

    check-layers.py              checks the tree; names every fault
    check-layers.py --self-test  also proves it finds an upward include and a circle
"""
import os
import re
import sys
import tempfile

LAYERS = ["rmparser", "analysis", "chart", "shell", "tools"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    """The layer index of a repository path, or None for files outside them
    (tests/support counts as the lowest test layer)."""
    parts = path.split("/")
    if parts[0] == "tests" and len(parts) > 1:
        if parts[1] == "support":
            return 0
        parts = parts[1:]
    if parts[0] in LAYERS:
        return LAYERS.index(parts[0])
    return None


def resolve(root, source, target):
    """The repository path an include names: from the root, or beside the
    including file."""
    for candidate in (target, os.path.join(os.path.dirname(source), target)):
        candidate = os.path.normpath(candidate)
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def sources(root):
    for top in LAYERS + ["tests"]:
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def unit_of(path):
    return os.path.splitext(path)[0]


def check(root):
    problems = []
    edges = {}
    for path in sorted(sources(root)):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        source_layer = layer_of(path)
        for target in INCLUDE.findall(text):
            included = resolve(root, path, target)
            if included is None:
                continue  # a system or third-party header
            target_layer = layer_of(included)
            if source_layer is not None and target_layer is not None and target_layer > source_layer:
                problems.append(f"{path} includes {included}: {LAYERS[source_layer]}/ may not use "
                                f"{LAYERS[target_layer]}/, which lies above it")
            if unit_of(included) != unit_of(path) and not path.startswith("tests/"):
                edges.setdefault(unit_of(path), set()).add(unit_of(included))
    problems += [f"files include each other in a circle: {' -> '.join(c)}" for c in circles(edges)]
    return problems


def circles(edges):
    """Every circle of the include graph, each once, from its smallest unit."""
    found = set()
    result = []

    def visit(start, node, path, on_path):
        for nxt in sorted(edges.get(node, ())):
            if nxt == start:
                cycle = path + [start]
                key = tuple(cycle)
                if key not in found:
                    found.add(key)
                    result.append(cycle)
            elif nxt not in on_path and nxt > start:
                on_path.add(nxt)
                visit(start, nxt, path + [nxt], on_path)
                on_path.discard(nxt)

    for start in sorted(edges):
        visit(start, start, [start], {start})
    return result


def self_test():
    """A tree with an upward include and a circle must fail, with both named."""
    with tempfile.TemporaryDirectory() as root:
        files = {
            "rmparser/rm_reader.h": '#include "analysis/measurement.h"\n',
            "analysis/measurement.h": "",
            "analysis/a.cpp": '#include "analysis/b.h"\n',
            "analysis/a.h": "",
            "analysis/b.cpp": '#include "analysis/a.h"\n',
            "analysis/b.h": "",
        }
        for name, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        problems = check(root)
        upward = any("rmparser/rm_reader.h includes analysis/measurement.h" in p for p in problems)
        circle = any("circle: analysis/a -> analysis/b -> analysis/a" in p for p in problems)
        return upward and circle


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if "--self-test" in sys.argv[1:] and not self_test():
        print("check-layers: the check does not find an upward include or a circle")
        return 1
    problems = check(root)
    for problem in problems:
        print("check-layers:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
