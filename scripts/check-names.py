#!/usr/bin/env python3
"""Finds names in the C++ sources that do not explain themselves: identifiers
with non-ASCII characters, and numbered control names such as Check5 or
Command31, also as object names given to widgets. Other string literals and comments are skipped, since captions, messages
and settings keys are meant to stay as users and stored files know them.

    scripts/check-names.py [DIR ...]      (default: src tests bench)

Prints one line per finding and exits 1 when there is any."""
import os
import re
import sys

# Also inside a longer identifier (onCheck1Toggled, m_Command3Clicked): the
# name starts at a word boundary, after a lower-case letter or an underscore.
NUMBERED = re.compile(r'(?:\b|(?<=[a-z_]))'
                      r'(Command|Check|Combo|Option|Text|Label|ListView|Timer|Frame|Shape|StatusBar|StatusPanel|ProgressBar)'
                      r'\d+(?!\d)')
OBJECT_NAME = re.compile(r'setObjectName\(\s*(?:\w+\(\s*)?"(?:' + NUMBERED.pattern[NUMBERED.pattern.index('(Command'):] + r')')
RAW_OPEN = re.compile(r'(u8|u|U|L)?R"([^()\\ ]{0,16})\(')


def code_only(src):
    """The source with every string, character literal and comment blanked
    (newlines kept, so line numbers stay right)."""
    out = []
    i, n = 0, len(src)

    def blank(text):
        out.append(re.sub(r'[^\n]', ' ', text))

    while i < n:
        if src.startswith('//', i):
            j = src.find('\n', i)
            j = n if j < 0 else j
            blank(src[i:j]); i = j; continue
        if src.startswith('/*', i):
            j = src.find('*/', i + 2)
            j = n if j < 0 else j + 2
            blank(src[i:j]); i = j; continue
        m = RAW_OPEN.match(src, i)
        if m and (i == 0 or not (src[i - 1].isalnum() or src[i - 1] == '_')):
            end = ')' + m.group(2) + '"'
            j = src.find(end, m.end())
            j = n if j < 0 else j + len(end)
            blank(src[i:j]); i = j; continue
        c = src[i]
        if c == '"' or (c == "'" and not (i > 0 and src[i - 1].isalnum())):
            j = i + 1
            while j < n and src[j] != c:
                if src[j] == '\\':
                    j += 1
                elif src[j] == '\n':
                    break
                j += 1
            blank(src[i:j + 1]); i = j + 1; continue
        if src.startswith('#include', i):
            j = src.find('\n', i)
            j = n if j < 0 else j
            blank(src[i:j]); i = j; continue
        out.append(c); i += 1
    return ''.join(out)


def main():
    dirs = sys.argv[1:] or ['src', 'tests', 'bench']
    found = 0
    for d in dirs:
        for root, _, files in os.walk(d):
            for f in sorted(files):
                if not f.endswith(('.cpp', '.h', '.hpp', '.cc')):
                    continue
                path = os.path.join(root, f)
                with open(path, encoding='utf-8') as fh:
                    text = fh.read()
                code = code_only(text)
                for no, line in enumerate(text.split('\n'), 1):
                    for m in OBJECT_NAME.finditer(line):
                        print(f'{path}:{no}: numbered object name: {m.group(0)}'); found += 1
                for no, line in enumerate(code.split('\n'), 1):
                    for m in re.finditer(r'[^\x00-\x7F]+', line):
                        print(f'{path}:{no}: non-ASCII name: {m.group(0)}'); found += 1
                    for m in NUMBERED.finditer(line):
                        print(f'{path}:{no}: numbered control name: {m.group(0)}'); found += 1
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
