#!/usr/bin/env python3
"""Writes the origin's files for the load benchmark into a directory.

small.html  1 KiB page
page.html   200 KiB article page with window.open calls, ping= links, onbeforeunload
            handlers and advert elements shaped like those the built-in rules remove
            (div ids tads* / bottomads*, font elements opening with an a whose id starts
            with pa), some of them holding nested divs
big.bin     100 MiB of random bytes
"""
import os
import sys

SMALL_SIZE = 1024
PAGE_SIZE = 200 * 1024
BIG_SIZE = 100 * 1024 * 1024


def pad_to(text, size):
    """Pads an HTML text with a comment before its last line so that it is exactly size bytes."""
    closing = "</html>\n"
    body = text[: -len(closing)]
    filler = size - len(body) - len(closing) - len("<!--  -->\n")
    if filler < 0:
        raise ValueError("page text longer than its size")
    return body + "<!-- " + "x" * filler + " -->\n" + closing


def small_page():
    head = (
        "<!DOCTYPE html>\n<html>\n<head><title>Small page</title></head>\n<body>\n"
        "<p>A short page for request rate measurements.</p>\n</body>\n</html>\n"
    )
    return pad_to(head, SMALL_SIZE)


def article_block(n):
    paragraphs = "".join(
        f'<p class="text">Paragraph {n}.{k}: the quick brown fox jumps over the lazy dog, '
        f'then reads <a href="/story/{n}/{k}.html">the next part</a> of the story '
        f"about item {n * 7 + k}.</p>\n"
        for k in range(4)
    )
    return (
        f'<div class="article" id="article{n}">\n<h2>Story {n}</h2>\n{paragraphs}'
        f'<a href="/more/{n}" ping="/track?{n}">More</a>\n'
        f'<button onclick="show({n})">Show</button>\n'
        "<script>\n"
        f"var link{n} = document.getElementById('article{n}');\n"
        f"window.open('/popup/{n}.html', 'ad{n}');\n"
        f"window.onbeforeunload = function () {{ return 'stay {n}'; }};\n"
        "</script>\n</div>\n"
    )


def advert_block(n):
    kind = n % 3
    if kind == 0:
        return (
            f'<div id="tads{n}" class="ads"><div class="ad-line">Sponsored {n}</div>'
            f'<a href="/ad/{n}">Buy item {n} now</a></div>\n'
        )
    if kind == 1:
        return (
            f'<div id="bottomads{n}"><div><div>Advert {n}</div></div>'
            f'<span>Cheap offers</span></div>\n'
        )
    return f'<font size="2"> <a id="pa{n}" href="/ad/{n}">Offer {n}</a> text</font>\n'


def article_page():
    parts = ["<!DOCTYPE html>\n<html>\n<head><title>Article page</title></head>\n<body>\n"]
    size = len(parts[0]) + 200
    n = 0
    while size < PAGE_SIZE - 4096:
        block = article_block(n) + advert_block(n)
        parts.append(block)
        size += len(block)
        n += 1
    parts.append("</body>\n</html>\n")
    return pad_to("".join(parts), PAGE_SIZE)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_site.py DIRECTORY")
    directory = sys.argv[1]
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "small.html"), "w", encoding="ascii") as out:
        out.write(small_page())
    with open(os.path.join(directory, "page.html"), "w", encoding="ascii") as out:
        out.write(article_page())
    with open(os.path.join(directory, "big.bin"), "wb") as out:
        chunk = 1024 * 1024
        for _ in range(BIG_SIZE // chunk):
            out.write(os.urandom(chunk))


if __name__ == "__main__":
    main()
