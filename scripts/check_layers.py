#!/usr/bin/env python3
"""Checks the engine's layering from the #include lines of archive/ and platform/.

Each folder of archive/ is a layer with its own library; a file may include headers of its own
folder and of the layers below it, never of a layer above it nor of a sibling on the same level.
The host layer (platform/) sits below the engine and includes nothing of it; the two lowest
layers (messages, codecs) do not use the host layer either. Quoted includes are rooted at the
source root and must name a file that exists, and the headers must not include each other in a
cycle. Prints one line per finding and exits 1 when there is any.

    check_layers.py <source root>     check the tree
    check_layers.py --self-test       check that the checker catches what it should
"""
import os
import re
import sys
import tempfile

# Folder of archive/ -> level. Higher levels may include lower ones; equal levels are siblings.
LAYERS = {
    "messages": 0,
    "codecs": 1,
    "common": 2,
    "records": 3,
    "driver": 4,
    "zip": 5,
    "formats": 5,
    "extract": 6,
}
# Layers that may use the host layer (platform/).
USES_PLATFORM = {"common", "records", "driver", "zip", "formats", "extract"}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
SOURCE_SUFFIXES = (".h", ".cpp")


def sources(root, top):
    for folder, _, files in os.walk(os.path.join(root, top)):
        for name in sorted(files):
            if name.endswith(SOURCE_SUFFIXES):
                path = os.path.join(folder, name)
                yield os.path.relpath(path, root).replace(os.sep, "/")


def includes(root, path):
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
        text = f.read()
    # Commented-out includes do not count.
    text = re.sub(r"//[^\n]*", "", text)
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.DOTALL)
    return INCLUDE.findall(text)


def layer_of(path):
    """The layer folder of a path under archive/, or None."""
    parts = path.split("/")
    if len(parts) >= 3 and parts[0] == "archive":
        return parts[1]
    return None


def check(root):
    findings = []
    graph = {}
    files = list(sources(root, "archive")) + list(sources(root, "platform"))
    for path in files:
        if path.startswith("archive/"):
            layer = layer_of(path)
            if layer not in LAYERS:
                findings.append(f"{path}: not inside a layer folder of archive/")
                continue
        for target in includes(root, path):
            if not target.startswith(("archive/", "platform/")):
                findings.append(f"{path}: include \"{target}\" is not rooted at the source root")
                continue
            if not os.path.isfile(os.path.join(root, target)):
                findings.append(f"{path}: include \"{target}\" names no file")
                continue
            if target.endswith(".h"):
                graph.setdefault(path, []).append(target)
            if path.startswith("platform/"):
                if target.startswith("archive/"):
                    findings.append(f"{path}: the host layer includes the engine (\"{target}\")")
                continue
            if target.startswith("platform/"):
                if layer not in USES_PLATFORM:
                    findings.append(f"{path}: layer {layer} uses the host layer (\"{target}\")")
                continue
            other = layer_of(target)
            if other not in LAYERS:
                findings.append(f"{path}: include \"{target}\" is outside every layer")
            elif other != layer and LAYERS[other] >= LAYERS[layer]:
                kind = "a sibling" if LAYERS[other] == LAYERS[layer] else "a layer above"
                findings.append(f"{path}: layer {layer} includes {kind}, {other} (\"{target}\")")

    # Cycles among headers (depth-first search, reporting each cycle once by its path).
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                cycle = stack[stack.index(nxt):] + [nxt]
                findings.append("include cycle: " + " -> ".join(cycle))
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 2

    for node in sorted(graph):
        if node not in state:
            visit(node)
    return findings


def self_test():
    """Builds small trees with one fault each and expects the checker to find exactly it."""
    cases = {
        "upward": {"archive/codecs/a.h": '#include "archive/driver/b.h"\n',
                   "archive/driver/b.h": ""},
        "sibling": {"archive/zip/a.h": '#include "archive/formats/b.h"\n',
                    "archive/formats/b.h": ""},
        "host layer up": {"platform/a.h": '#include "archive/codecs/b.h"\n',
                          "archive/codecs/b.h": ""},
        "codecs on host": {"archive/codecs/a.cpp": '#include "platform/b.h"\n',
                           "platform/b.h": ""},
        "unrooted": {"archive/common/a.cpp": '#include "b.h"\n', "archive/common/b.h": ""},
        "missing": {"archive/common/a.cpp": '#include "archive/common/gone.h"\n'},
        "outside layers": {"archive/a.h": ""},
        "cycle": {"archive/common/a.h": '#include "archive/common/b.h"\n',
                  "archive/common/b.h": '#include "archive/common/a.h"\n'},
    }
    clean = {"archive/driver/a.cpp": '#include "archive/codecs/b.h"\n// #include "archive/zip/c.h"\n',
             "archive/codecs/b.h": '#include "archive/messages/c.h"\n',
             "archive/messages/c.h": "", "archive/zip/c.h": ""}
    failures = []
    for name, tree in list(cases.items()) + [("clean", clean)]:
        with tempfile.TemporaryDirectory() as root:
            for path, text in tree.items():
                os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
                with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                    f.write(text)
            found = check(root)
            expected = 0 if name == "clean" else 1
            if len(found) != expected:
                failures.append(f"self-test {name}: expected {expected} finding(s), got {found}")
    for line in failures:
        print(line)
    return 1 if failures else 0


def main(argv):
    if len(argv) == 2 and argv[1] == "--self-test":
        return self_test()
    if len(argv) != 2:
        print(__doc__)
        return 2
    findings = check(argv[1])
    for line in findings:
        print(line)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
