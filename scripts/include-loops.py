#!/usr/bin/env python3
"""Lists the folders of the engine (src/core/*) that include each other,
directly or round a longer loop, and the includes by which the ground floor
(the engine's interfaces and the document model) reaches up into app/.

    scripts/include-loops.py [ROOT]      (default: the checkout holding this script)

Prints one line per loop and per upward include, then a summary line, and
exits 1 when there is any."""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
GROUND = ('platform', 'ports', 'html')  # folders that must not include app/


def folder_of(root, including_dir, name):
    """The src/core folder an include names, or None when it is elsewhere."""
    core = os.path.join(root, 'src', 'core')
    for base in (including_dir, core, os.path.join(root, 'src')):
        path = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(path):
            rel = os.path.relpath(path, core)
            if rel.startswith('..') or os.sep not in rel:
                return None
            return rel.split(os.sep)[0]
    return None


def edges(root):
    core = os.path.join(root, 'src', 'core')
    found = {}  # (from, to) -> the includes that make the edge
    for folder in sorted(os.listdir(core)):
        top = os.path.join(core, folder)
        for dirpath, _, files in os.walk(top):
            for f in sorted(files):
                if not f.endswith(('.h', '.cpp')):
                    continue
                path = os.path.join(dirpath, f)
                with open(path, encoding='utf-8') as fh:
                    for name in INCLUDE.findall(fh.read()):
                        to = folder_of(root, dirpath, name)
                        if to and to != folder:
                            found.setdefault((folder, to), []).append(os.path.relpath(path, root) + ' -> ' + name)
    return found


def loops(graph):
    """Strongly connected groups of more than one folder (Tarjan)."""
    index, low, stack, on, out = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v); on.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w); low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = []
            while True:
                w = stack.pop(); on.discard(w); group.append(w)
                if w == v:
                    break
            if len(group) > 1:
                out.append(sorted(group))

    for v in sorted(graph):
        if v not in index:
            visit(v)
    return out


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    found = edges(root)
    graph = {}
    for a, b in found:
        graph.setdefault(a, set()).add(b)
    groups = loops(graph)
    for g in groups:
        print('loop: ' + ' <-> '.join(g))
        for a, b in sorted(found):
            if a in g and b in g:
                print(f'  {a} -> {b}: ' + '; '.join(found[(a, b)]))
    upward = [(a, b) for a, b in sorted(found) if a in GROUND and b == 'app']
    for a, b in upward:
        for how in found[(a, b)]:
            print(f'upward: {how}')
    ups = sum(len(found[e]) for e in upward)
    print(f'{len(groups)} include loops, {ups} upward includes from the ground floor')
    return 1 if groups or ups else 0


if __name__ == '__main__':
    sys.exit(main())
