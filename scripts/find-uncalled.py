#!/usr/bin/env python3
"""Lists code in src/ that nothing uses.

- functions and methods declared in a src header whose name occurs nowhere in
  src/, tests/ or bench/ but in its own declaration and definition;
- signals that nothing connects to, spies on or names in a SIGNAL() macro.

Comments are ignored when counting. A name shared by two functions hides both
(the count is by name), so an empty list is a lower bound, not a proof.

Usage: scripts/find-uncalled.py [repository root]
"""
import collections
import os
import re
import sys

COMMENT = re.compile(r'//[^\n]*|/\*.*?\*/', re.S)
DECLARATION = re.compile(
    r'^\s*(?:(?:static|virtual|inline|constexpr|explicit)\s+)*[\w:<>,*& ]+?[\s*&](\w+)\s*\([^;{]*\)'
    r'\s*(?:const)?\s*(?:override)?\s*(?:=\s*0)?\s*;', re.M)
SIGNALS = re.compile(r'(?:signals|Q_SIGNALS)\s*:(.*?)(?=\n\s*(?:public|private|protected)\b[^:\n]*:|\n};)', re.S)


def sources(root):
    for top in ('src', 'tests', 'bench'):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith(('.h', '.cpp')):
                    path = os.path.join(folder, name)
                    with open(path, encoding='utf-8', errors='replace') as f:
                        yield os.path.relpath(path, root), COMMENT.sub('', f.read())


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..')
    files = dict(sources(root))
    words = collections.Counter()
    for text in files.values():
        words.update(re.findall(r'[A-Za-z_]\w*', text))
    everything = '\n'.join(files.values())
    found = 0
    for path, text in sorted(files.items()):
        if not path.startswith('src' + os.sep) or not path.endswith('.h'):
            continue
        for m in DECLARATION.finditer(text):
            name = m.group(1)
            macro = name.upper() == name  # Q_ENUM(...) and the like
            if not macro and name not in ('operator', 'if', 'return') and words[name] <= 2:
                print(f'{path}: {name} has no caller')
                found += 1
        for block in SIGNALS.finditer(text):
            for name in re.findall(r'void\s+(\w+)\s*\(', block.group(1)):
                if not re.search(r'::' + name + r'\b|SIGNAL\(\s*' + name + r'\b', everything):
                    print(f'{path}: signal {name} has no receiver')
                    found += 1
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
