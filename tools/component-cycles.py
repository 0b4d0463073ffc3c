#!/usr/bin/env python3
"""Prints the component cycles of the firmware's sources and fails on any that the allowed list does not name.

It also checks the layering: each folder may include the headers of its own layer and of the layers LAYERS
names for it, nothing else; and the Layout table of README.md says the same as LAYERS.

A component is a header and its source with the same name in one folder (core/Node.h and core/Node.cpp).
Component A depends on B when A's header or source includes B's header. A cycle is a set of components that
reach each other through those dependencies (a strongly connected set): two files that include each other's
headers, or a longer ring. A cycle is allowed when every one of its components matches the patterns of one
line of the allowed list (tools/component-cycles.allowed: one group a line, components as shell patterns
such as "neural/InternalWaveNetModelT_*", '#' starts a comment).

Usage: tools/component-cycles.py [--root DIR] [--allowed FILE] [--all]
  --all  prints the allowed cycles too.
Exit status: 0 when every cycle is allowed and every include and README row follows LAYERS, 1 otherwise.
"""

import argparse
import fnmatch
import os
import re
import sys

SOURCE_FOLDERS = ["audio", "blocks", "board", "btle", "core", "neural", "nnet", "nolt", "porting", "remote", "ui"]
SUFFIXES = (".h", ".hpp", ".c", ".cpp")
HEADER_SUFFIXES = (".h", ".hpp")
# The layers from the bottom up, each with the layers it may use. A layer holds its folder and every folder
# below it that is not a layer of its own (audio/ holds audio/dsp/).
LAYERS = {
    "porting": [],
    "core": ["porting"],
    "nolt/driver": ["porting", "core"],
    "audio": ["core", "porting"],
    "neural": ["porting"],
    "nnet": [],
    "blocks": ["audio", "neural", "core", "porting"],
    "ui": ["core", "blocks", "audio", "nolt/driver", "porting"],
    "btle": [],
    "btle/port": ["btle", "porting"],
    "remote": ["core", "porting", "btle/port"],
    "board": ["porting", "core", "nolt/driver", "audio", "neural", "nnet", "blocks", "ui", "btle", "btle/port",
              "remote"],
}
README_ROW = re.compile(r"^\| (`[^|]*) \| [^|]* \| ([^|]*) \|$", re.MULTILINE)
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


def source_files(root):
    for folder in SOURCE_FOLDERS:
        for directory, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if name.endswith(SUFFIXES):
                    yield os.path.relpath(os.path.join(directory, name), root)


def component_of(path):
    return os.path.splitext(path)[0]


def resolve(include, including, headers_by_name, headers):
    """The project header an include names, or None for a system or unknown one.

    Tried in the compiler's order for quoted includes: beside the including file, then a path from the root,
    then a header of that name anywhere, the one nearest the including file when there are several."""
    beside = os.path.normpath(os.path.join(os.path.dirname(including), include))
    if beside in headers:
        return beside
    if os.path.normpath(include) in headers:
        return os.path.normpath(include)
    candidates = [path for path in headers_by_name.get(os.path.basename(include), [])
                  if path.endswith(os.sep + os.path.normpath(include)) or path == os.path.normpath(include)]
    if not candidates:
        return None
    here = os.path.dirname(including).split(os.sep)

    def shared_depth(path):
        there = os.path.dirname(path).split(os.sep)
        depth = 0
        while depth < min(len(here), len(there)) and here[depth] == there[depth]:
            depth += 1
        return depth

    return max(candidates, key=lambda path: (shared_depth(path), path))


def layer_of(path):
    """The layer a file or header belongs to: its deepest folder that is a layer, or None."""
    parts = path.split(os.sep)[:-1]
    for depth in range(len(parts), 0, -1):
        if "/".join(parts[:depth]) in LAYERS:
            return "/".join(parts[:depth])
    return None


def layering_faults():
    """A layer that uses one above it or one that is not a layer: LAYERS itself must run bottom-up."""
    faults = []
    seen = set()
    for layer, uses in LAYERS.items():
        faults += [f"LAYERS: {layer} uses {used}, which is not below it" for used in uses if used not in seen]
        seen.add(layer)
    return faults


def include_direction_faults(root):
    """Every include of a project header from a layer that may not use the header's layer."""
    faults = []
    for path, header in project_includes(root):
        here, there = layer_of(path), header and layer_of(header)
        if there and here and there != here and there not in LAYERS[here]:
            faults.append(f"layer: {path} ({here}) includes {header} ({there}), which {here} may not use")
    return faults


def readme_faults(root):
    """Every row of README.md's Layout table whose "may use" column differs from LAYERS."""
    with open(os.path.join(root, "README.md"), encoding="utf-8") as readme:
        rows = README_ROW.findall(readme.read())
    faults, above, named = [], [], set()
    for folders, uses in rows:
        layers = {layer_of(folder.strip(" `/") + "/x") for folder in folders.split(",")} - {None}
        if not layers:
            continue
        listed = set(re.findall(r"`([^`]+)`", uses))
        if "everything above" in uses:
            listed = set(above)
        for layer in sorted(layers):
            if listed != set(LAYERS[layer]):
                faults.append(f"README.md: the row of {layer} says it may use {sorted(listed)}, LAYERS says "
                              f"{sorted(LAYERS[layer])}")
        above += sorted(layers)
        named |= layers
    faults += [f"README.md: the Layout table has no row for {layer}" for layer in LAYERS if layer not in named]
    return faults


def project_includes(root):
    """Every source file with each project header it includes: (file, header) pairs."""
    files = list(source_files(root))
    headers = {path for path in files if path.endswith(HEADER_SUFFIXES)}
    headers_by_name = {}
    for path in headers:
        headers_by_name.setdefault(os.path.basename(path), []).append(path)
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            text = source.read()
        yield path, None
        for include in INCLUDE.findall(text):
            header = resolve(include, path, headers_by_name, headers)
            if header:
                yield path, header


def dependencies(root):
    graph = {}
    for path, header in project_includes(root):
        component = component_of(path)
        graph.setdefault(component, set())
        if header and component_of(header) != component:
            graph[component].add(component_of(header))
    return graph


def strongly_connected(graph):
    """Tarjan's algorithm, iterative: the sets of two or more components that reach each other."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = 0
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph[start])))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, successors = work[-1]
            advanced = False
            for successor in successors:
                if successor not in graph:
                    continue
                if successor not in index:
                    index[successor] = low[successor] = counter
                    counter += 1
                    stack.append(successor)
                    on_stack.add(successor)
                    work.append((successor, iter(sorted(graph[successor]))))
                    advanced = True
                    break
                if successor in on_stack:
                    low[node] = min(low[node], index[successor])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                members = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    members.append(member)
                    if member == node:
                        break
                if len(members) > 1:
                    found.append(sorted(members))
    return sorted(found)


def read_allowed(path):
    groups = []
    if not os.path.exists(path):
        return groups
    with open(path, encoding="utf-8") as listing:
        for line in listing:
            line = line.split("#", 1)[0].split()
            if line:
                groups.append(line)
    return groups


def allowed_by(cycle, groups):
    for number, patterns in enumerate(groups):
        if all(any(fnmatch.fnmatchcase(member, pattern) for pattern in patterns) for member in cycle):
            return number
    return None


def describe(cycle, graph):
    """The cycle's members and, for a pair, the two includes that tie it."""
    members = set(cycle)
    edges = sorted(f"{a} -> {b}" for a in cycle for b in graph[a] if b in members)
    return f"{len(cycle)} components: " + ", ".join(cycle) + "\n    " + "\n    ".join(edges)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", default=os.path.dirname(here))
    parser.add_argument("--allowed", default=os.path.join(here, "component-cycles.allowed"))
    parser.add_argument("--all", action="store_true")
    options = parser.parse_args()

    graph = dependencies(options.root)
    groups = read_allowed(options.allowed)
    refused = 0
    for cycle in strongly_connected(graph):
        group = allowed_by(cycle, groups)
        if group is None:
            refused += 1
            print("cycle: " + describe(cycle, graph))
        elif options.all:
            print(f"allowed (line group {group + 1}): " + describe(cycle, graph))
    print(f"{refused} component cycle(s) outside the allowed list")
    layering = layering_faults() + include_direction_faults(options.root) + readme_faults(options.root)
    for fault in layering:
        print(fault)
    print(f"{len(layering)} include(s) or README row(s) against the layers")
    return 1 if refused or layering else 0


if __name__ == "__main__":
    sys.exit(main())
