#!/usr/bin/python3
"""Peer of document_bench: the same result-page extraction with BeautifulSoup
over lxml. Reads the page bytes from a file, runs the extraction `runs` times
and prints one JSON line: median and best time in milliseconds plus what was
found (so the caller can check both sides did the same work).

usage: document_bench.py PAGE_FILE URL RUNS [marker]
  marker: also search the serialised page for the verification marker,
          as the search window does before extracting.
"""
import json
import statistics
import sys
import time
from urllib.parse import urljoin

from bs4 import BeautifulSoup

MARKER = "请输入以下验证码，即可恢复使用。"


def text_of(el):
    # White space collapsed, as the rendered text of a link title.
    return " ".join(el.get_text().split())


def extract(data, url, with_marker):
    soup = BeautifulSoup(data, "lxml")
    if with_marker and MARKER in str(soup):
        return [], []
    base = soup.find("base", href=True)
    base_url = urljoin(url, base["href"]) if base else url
    links = []
    box = soup.find(class_="content-net-left")
    if box is not None:
        for h3 in box.find_all("h3"):
            a = h3.find("a")
            if a is None:
                continue
            href = a.get("href")
            links.append((text_of(a), urljoin(base_url, href.strip()) if href is not None else ""))
    pager = [text_of(n) for n in soup.find_all(class_="next")]
    return links, pager


def main():
    path, url, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with_marker = len(sys.argv) > 4 and sys.argv[4] == "marker"
    with open(path, "rb") as f:
        data = f.read()
    times = []
    links = pager = None
    for _ in range(runs):
        t0 = time.perf_counter()
        links, pager = extract(data, url, with_marker)
        times.append((time.perf_counter() - t0) * 1000.0)
    print(json.dumps({
        "median_ms": statistics.median(times),
        "best_ms": min(times),
        "links": len(links),
        "first_title": links[0][0] if links else "",
        "last_href": links[-1][1] if links else "",
        "pager": pager,
    }, ensure_ascii=False))


if __name__ == "__main__":
    main()
