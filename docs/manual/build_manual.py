#!/usr/bin/env python3
"""Builds the technician's manual: each page's Markdown into HTML in one frame, then checks the
result. It fails on a link to a page or anchor that is not there, a picture that was not made, and
a message in the troubleshooting table that the programs do not say word for word.

usage: build_manual.py SOURCE_DIR OUTPUT_DIR PROGRAM_SOURCES VERSION
(the screenshots are in OUTPUT_DIR/images already)
"""
import html
import html.parser
import os
import re
import shutil
import sys

import markdown

# The pages in reading order; the first is the index.
PAGES = [
    ("index", "QUARVEL Manual"),
    ("connect", "Connect a selector and choose the port"),
    ("settings", "Read and edit the settings"),
    ("teach", "Teach a channel"),
    ("calibration", "Channel Calibration"),
    ("open-program", "Open & Program"),
    ("backups", "Backups and Restore Selector"),
    ("check-link", "Check Link"),
    ("production", "The production line"),
    ("troubleshooting", "Troubleshooting"),
]

TEMPLATE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title} – QUARVEL Manual</title>
<link rel="stylesheet" href="style.css">
</head>
<body>
<nav>
<p class="brand"><a href="index.html">QUARVEL Manual</a> <span>{version}</span></p>
<ol>
{nav}
</ol>
</nav>
<main>
{body}
<p class="pager">{pager}</p>
</main>
</body>
</html>
"""


def convert(source_dir, output_dir, version):
    md = markdown.Markdown(extensions=["tables", "toc", "attr_list", "fenced_code", "def_list"])
    for i, (name, title) in enumerate(PAGES):
        with open(os.path.join(source_dir, name + ".md"), encoding="utf-8") as f:
            body = md.reset().convert(f.read())
        here = ' class="here"'
        nav = "\n".join(f'<li{here if n == name else ""}><a href="{n}.html">{html.escape(t)}</a></li>'
                        for n, t in PAGES[1:])
        pager = []
        if i > 0:
            n, t = PAGES[i - 1]
            pager.append(f'<a href="{n}.html">← {html.escape(t)}</a>')
        if i + 1 < len(PAGES):
            n, t = PAGES[i + 1]
            pager.append(f'<a class="next" href="{n}.html">{html.escape(t)} →</a>')
        page = TEMPLATE.format(title=html.escape(title), version=html.escape(version), nav=nav, body=body,
                               pager=" ".join(pager))
        with open(os.path.join(output_dir, name + ".html"), "w", encoding="utf-8") as f:
            f.write(page)
    shutil.copy(os.path.join(source_dir, "style.css"), output_dir)


class Refs(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids, self.links = set(), []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a:
            self.ids.add(a["id"])
        for key in ("href", "src"):
            if key in a:
                self.links.append((tag, a[key]))


def check_links(output_dir):
    pages = {}
    for f in os.listdir(output_dir):
        if f.endswith(".html"):
            p = Refs()
            with open(os.path.join(output_dir, f), encoding="utf-8") as h:
                p.feed(h.read())
            pages[f] = p
    problems = []
    for f, p in sorted(pages.items()):
        for tag, link in p.links:
            if re.match(r"^[a-z]+:", link):
                # The manual is read offline: nothing may depend on the network.
                problems.append(f"{f}: link out of the manual: {link}")
                continue
            target, _, anchor = link.partition("#")
            target = target or f
            if not os.path.isfile(os.path.join(output_dir, target)):
                what = "picture" if tag == "img" else "page"
                problems.append(f"{f}: missing {what} {target}")
            elif anchor and (target not in pages or anchor not in pages[target].ids):
                problems.append(f"{f}: no anchor #{anchor} in {target}")
    return problems


def unescape(literal):
    return re.sub(r"\\(u[0-9a-fA-F]{4}|.)",
                  lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) == 5 else
                  {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), literal)


def program_texts(sources):
    """Every string literal of the programs, with adjacent literals joined as the compiler does."""
    texts = []
    for top in sources:
        for root, _, files in os.walk(top):
            for f in files:
                if f.endswith((".cpp", ".h")):
                    with open(os.path.join(root, f), encoding="utf-8") as h:
                        code = h.read()
                    code = re.sub(r'"\s*\n\s*"', "", code)
                    texts.extend(unescape(m) for m in re.findall(r'"((?:[^"\\\n]|\\.)*)"', code))
    return "\n".join(texts)


def check_messages(source_dir, sources):
    """The first column of the troubleshooting table quotes the programs; "…" stands for what
    varies (a port, a file, a number). Each fixed piece must be in the programs as it stands."""
    said = program_texts(sources)
    problems = []
    with open(os.path.join(source_dir, "troubleshooting.md"), encoding="utf-8") as f:
        for line in f:
            if not line.startswith("| `"):
                continue
            message = line.split("|")[1].strip().strip("`")
            for piece in message.split("…"):
                if len(piece.strip()) >= 3 and piece not in said:
                    problems.append(f"troubleshooting.md: the programs do not say \"{piece}\" (in \"{message}\")")
    return problems


def main():
    source_dir, output_dir, program_sources, version = sys.argv[1:5]
    os.makedirs(output_dir, exist_ok=True)
    convert(source_dir, output_dir, version)
    problems = check_links(output_dir)
    problems += check_messages(source_dir, [os.path.join(program_sources, d) for d in ("src", "cli", "app")])
    for p in problems:
        print("manual: " + p, file=sys.stderr)
    if problems:
        sys.exit(1)
    print(f"manual: {len(PAGES)} pages in {output_dir}")


main()
