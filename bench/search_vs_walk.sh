#!/usr/bin/env bash
# Search speed: `docharvest-cli search` against a small Python walk of the same
# result pages that keeps the same links (urllib + html.parser, standard
# library only), both as whole processes on the same demo service.
#
#   bench/search_vs_walk.sh [BUILD_DIR] [ROUNDS]
#     BUILD_DIR  folder holding docharvest-cli and docharvest-demo-service (default: build)
#     ROUNDS     timing rounds, at least 5 (default 7)
#
# Ten keyword groups x four types x five result pages = 200 pages, no rate
# limit on the service and `--delay 0`. A first untimed run of each side
# checks that both keep the same links (title, type, address, in order).
# Then every round runs the CLI and then the walk (A B A B ...), and the
# script prints min / median / max of each side, the ratio of the medians and
# the load average before and after. Everything lives in a temporary folder
# that is removed at the end.
set -euo pipefail

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC_DIR/build}
ROUNDS=${2:-7}
[ "$ROUNDS" -ge 5 ] || { echo "ROUNDS must be at least 5" >&2; exit 2; }
CLI=$(cd "$BUILD" && pwd)/docharvest-cli
DEMO=$(cd "$BUILD" && pwd)/docharvest-demo-service
PY=/usr/bin/python3
for f in "$CLI" "$DEMO" "$PY"; do
  [ -x "$f" ] || { echo "missing: $f" >&2; exit 2; }
done

WORK=$(mktemp -d /tmp/dh-search-bench-XXXXXX)
DEMO_PID=""
cleanup() {
  [ -n "$DEMO_PID" ] && kill "$DEMO_PID" 2>/dev/null && wait "$DEMO_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# The CLI reads its defaults from the settings: give it a clean set.
export XDG_CONFIG_HOME=$WORK/config XDG_DATA_HOME=$WORK/data XDG_CACHE_HOME=$WORK/cache

"$DEMO" --port 0 --rate-pages -1 --pages 5 > "$WORK/demo.out" 2>"$WORK/demo.err" &
DEMO_PID=$!
for _ in $(seq 1 100); do
  BASE=$(head -n 1 "$WORK/demo.out" 2>/dev/null || true)
  [ -n "$BASE" ] && break
  sleep 0.1
done
[ -n "${BASE:-}" ] || { echo "the demo service did not start" >&2; cat "$WORK/demo.err" >&2; exit 2; }

printf '%s\n' 教程 '数学 复习' '物理 实验' '化学 方程式' '英语 语法' '历史 年表' '地理 气候' \
  '生物 细胞' '计算机 网络' '经济 统计' > "$WORK/keywords.txt"

cat > "$WORK/walk.py" <<'PY'
# The same walk as `docharvest-cli search`, standard library only: every
# keyword group x type, each result page's links kept by the same rules
# (first .content-net-left, each h3's first link, known type, cleaned title,
# no duplicates), the next page followed through its "下一页>" link.
import sys, urllib.parse, urllib.request
from html.parser import HTMLParser

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}
TYPES = {".PDF": "pdf", ".DOC": "doc", ".XLS": "xls", ".PPT": "ppt", ".TXT": "txt"}
EXCLUDED = ("_百度文库", "-百度文库", "-豆丁网", "-道客巴巴")

class Page(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.depth = 0
        self.container = None      # depth of the first .content-net-left while it is open
        self.container_seen = False
        self.h3 = None             # depth of the open h3 inside it
        self.link = None           # [href, text parts, depth] of that h3's first link
        self.link_taken = False
        self.items = []            # (href, text)
        self.next = None           # [href, text parts, depth] of an open a.next
        self.next_href = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        classes = (a.get("class") or "").split()
        if tag not in VOID:
            self.depth += 1
        if not self.container_seen and "content-net-left" in classes:
            self.container_seen = True
            self.container = self.depth
        if self.container is not None and tag == "h3" and self.h3 is None:
            self.h3, self.link_taken = self.depth, False
        if tag == "a" and self.h3 is not None and not self.link_taken:
            self.link, self.link_taken = [a.get("href") or "", [], self.depth], True
        if tag == "a" and "next" in classes and self.next_href is None:
            self.next = [a.get("href") or "", [], self.depth]

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if self.link and self.depth == self.link[2]:
            self.items.append((self.link[0], "".join(self.link[1])))
            self.link = None
        if self.next and self.depth == self.next[2]:
            if "".join(self.next[1]).strip().lower() == "下一页>":
                self.next_href = self.next[0]
            self.next = None
        if self.h3 == self.depth:
            self.h3 = None
        if self.container == self.depth:
            self.container = None
        self.depth -= 1

    def handle_data(self, data):
        if self.link:
            self.link[1].append(data)
        if self.next:
            self.next[1].append(data)

def clean(title, kind):
    t = " ".join(title.split()).replace("...", "").replace(" ", "")
    prefix = "【" + kind + "】"
    if kind and t.lower().startswith(prefix):
        t = t[len(prefix):].strip(" ")
    return t

base, keywords = sys.argv[1].rstrip("/"), sys.argv[2]
seen, out = set(), sys.stdout
out.write("title\ttype\turl\n")
for group in open(keywords, encoding="utf-8").read().splitlines():
    group = group.strip(" ")
    if not group:
        continue
    for kind in ("pdf", "doc", "ppt", "xls"):
        page = f"{base}/p?w={urllib.parse.quote(group)}+filetype%3A{kind}"
        visited = set()
        while page and page not in visited:
            visited.add(page)
            with urllib.request.urlopen(page, timeout=30) as reply:
                p = Page()
                p.feed(reply.read().decode("utf-8", "replace"))
            for href, text in p.items:
                url = urllib.parse.urljoin(page, href.strip(" "))
                t = TYPES.get(url[-4:].upper(), "")
                title = clean(text, t)
                if not t or not title or title.endswith(EXCLUDED) or url in seen:
                    continue
                if urllib.parse.urlsplit(url).scheme not in ("http", "https"):
                    continue
                seen.add(url)
                out.write(f"{title}\t{t}\t{url}\n")
            page = urllib.parse.urljoin(page, p.next_href) if p.next_href else None
PY

run_cli() {
  "$CLI" search --keywords "$WORK/keywords.txt" --delay 0 --search-base "$BASE" \
    --out "$WORK/cli.tsv" 2>"$WORK/cli.err"
}
run_walk() { "$PY" "$WORK/walk.py" "$BASE" "$WORK/keywords.txt" > "$WORK/walk.tsv"; }
now() { date +%s.%N; }

echo "service: $BASE (200 result pages: 10 groups x 4 types x 5 pages, no rate limit, --delay 0)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# The untimed first run of each side: same links, and the pages all walked.
run_cli || { echo "docharvest-cli search failed:" >&2; tail -n 5 "$WORK/cli.err" >&2; exit 1; }
run_walk
pages=$(grep -c '^  page ' "$WORK/cli.err" || true)
links=$(($(wc -l < "$WORK/walk.tsv") - 1))
if ! diff -q <(cut -f1-3 "$WORK/cli.tsv" | tail -n +2) <(tail -n +2 "$WORK/walk.tsv") >/dev/null; then
  echo "the two sides kept different links:" >&2
  diff <(cut -f1-3 "$WORK/cli.tsv" | tail -n +2) <(tail -n +2 "$WORK/walk.tsv") | head -n 10 >&2
  exit 1
fi
echo "both keep the same $links links; the CLI read $pages result pages"
[ "$pages" -eq 200 ] || { echo "expected 200 result pages" >&2; exit 1; }

: > "$WORK/times"
for r in $(seq 1 "$ROUNDS"); do
  t0=$(now); run_cli; t1=$(now); run_walk; t2=$(now)
  printf '%s %s\n' "$(echo "$t1 - $t0" | bc -l)" "$(echo "$t2 - $t1" | bc -l)" >> "$WORK/times"
  printf 'round %d: cli %.3f s, walk %.3f s\n' "$r" "$(echo "$t1 - $t0" | bc -l)" "$(echo "$t2 - $t1" | bc -l)"
done

"$PY" - "$WORK/times" <<'PY'
import statistics, sys
rows = [tuple(map(float, l.split())) for l in open(sys.argv[1]) if l.strip()]
cli, walk = [r[0] for r in rows], [r[1] for r in rows]
for name, xs in (("cli", cli), ("walk", walk)):
    print(f"{name:5s} min {min(xs):.3f} s  median {statistics.median(xs):.3f} s  max {max(xs):.3f} s"
          f"  ({statistics.median(xs) * 1000 / 200:.1f} ms per page)")
print(f"cli / walk (medians): {statistics.median(cli) / statistics.median(walk):.2f}x (goal <= 3x)")
PY
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
