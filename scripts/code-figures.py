#!/usr/bin/env python3
"""Figures on the shape of the code: public widget pointers of the windows,
functions longer than 120 lines and files longer than 800 lines.

    scripts/code-figures.py [ROOT]      (default: the checkout holding this script)

A public widget pointer is a pointer member (m_...) declared in a public
section of a class in src/gui/*.h. A function's length runs from the line of
its opening brace to that of its closing one."""
import importlib.util
import os
import re
import sys

FUNCTION_MAX = 120
FILE_MAX = 800
HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location('check_names', os.path.join(HERE, 'check-names.py'))
_names = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_names)
code_only = _names.code_only  # strings and comments blanked, lines kept

MEMBER = re.compile(r'^[ \t]*[\w:<>]+(?:[ \t]+[\w:<>]+)*[ \t]*\*[ \t]*(m_\w+)(?:\[\w*\])?[ \t]*(?:=[^;\n]*|\{[^;\n]*\})?;', re.M)
ACCESS = re.compile(r'^\s*(public|protected|private)\s*:', re.M)
CLASS = re.compile(r'\b(class|struct)\s+\w+[^;{]*\{')
NOT_FUNCTION = re.compile(r'\b(class|struct|union|enum|namespace|if|for|while|switch|catch|do|else|try)\b|=\s*$|\]\s*(\([^)]*\))?\s*(mutable\s*)?(->[^{]*)?$')


def sources(root, top):
    for dirpath, _, files in os.walk(os.path.join(root, top)):
        for f in sorted(files):
            if f.endswith(('.h', '.cpp')):
                yield os.path.join(dirpath, f)


def public_widget_pointers(root):
    count = {}
    for path in sources(root, os.path.join('src', 'gui')):
        if not path.endswith('.h'):
            continue
        code = code_only(open(path, encoding='utf-8').read())
        for c in CLASS.finditer(code):
            depth, i, start = 1, c.end(), c.end()
            while depth and i < len(code):
                depth += {'{': 1, '}': -1}.get(code[i], 0)
                i += 1
            body = code[start:i - 1]
            # Only the class's own level: nested bodies blanked.
            flat, d = [], 0
            for ch in body:
                if ch == '}':
                    d -= 1
                flat.append(ch if d == 0 or ch == '\n' else ' ')
                if ch == '{':
                    d += 1
            flat = ''.join(flat)
            access = 'private' if c.group(1) == 'class' else 'public'
            for m in sorted(list(ACCESS.finditer(flat)) + list(MEMBER.finditer(flat)), key=lambda m: m.start()):
                if m.re is ACCESS:
                    access = m.group(1)
                elif access == 'public':
                    where = os.path.relpath(path, root)
                    count[where] = count.get(where, 0) + 1
    return count


def long_functions(root):
    out = []
    for top in ('src',):
        for path in sources(root, top):
            code = code_only(open(path, encoding='utf-8').read())
            depth, header_start, scopes = 0, 0, []
            for i, ch in enumerate(code):
                if ch in ';}':
                    if ch == '}':
                        depth -= 1
                        if scopes and scopes[-1][0] == depth:
                            _, opened, kind, name = scopes.pop()
                            if kind == 'function':
                                lines = code.count('\n', opened, i) + 1
                                if lines > FUNCTION_MAX:
                                    out.append((lines, f'{os.path.relpath(path, root)}:{code.count(chr(10), 0, opened) + 1} {name}'))
                    header_start = i + 1
                elif ch == '{':
                    inside_function = any(s[2] == 'function' for s in scopes)
                    header = code[header_start:i].strip()
                    if not inside_function:
                        kind = 'function' if '(' in header and not NOT_FUNCTION.search(header) else 'scope'
                        name = header.split('(')[0].split()[-1] if kind == 'function' and header.split('(')[0].split() else ''
                        scopes.append((depth, i, kind, name))
                    depth += 1
                    header_start = i + 1
    return sorted(out, reverse=True)


def long_files(root):
    out = []
    for path in sources(root, 'src'):
        n = sum(1 for _ in open(path, encoding='utf-8'))
        if n > FILE_MAX:
            out.append((n, os.path.relpath(path, root)))
    return sorted(out, reverse=True)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(HERE)
    pointers = public_widget_pointers(root)
    print(f'public widget pointers: {sum(pointers.values())}')
    for where, n in sorted(pointers.items(), key=lambda x: (-x[1], x[0])):
        print(f'  {n:5} {where}')
    functions = long_functions(root)
    print(f'functions over {FUNCTION_MAX} lines: {len(functions)}')
    for n, where in functions:
        print(f'  {n:5} {where}')
    files = long_files(root)
    print(f'files over {FILE_MAX} lines: {len(files)}')
    for n, where in files:
        print(f'  {n:5} {where}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
