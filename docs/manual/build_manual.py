#!/usr/bin/env python3
"""Builds the technician's manual: each page's Markdown into HTML in one frame, then checks the
result. It fails on a link to a page or anchor that is not there, a picture that was not made, a
message, button, menu or window a page quotes that the programs do not have (the rules are at
OUTSIDE_NAMES below), and a sentence or message tied to a test (tested.txt) that the page or the
test no longer says; each failure names the page, its line and the quote.

usage: build_manual.py SOURCE_DIR OUTPUT_DIR PROGRAM_SOURCES VERSION [--without-pictures]
(the screenshots are in OUTPUT_DIR/images already, unless --without-pictures puts each picture's
caption in its place)
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
    ("history", "The history of every selector"),
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


def convert(source_dir, output_dir, version, pictures=True):
    md = markdown.Markdown(extensions=["tables", "toc", "attr_list", "fenced_code", "def_list"])
    for i, (name, title) in enumerate(PAGES):
        with open(os.path.join(source_dir, name + ".md"), encoding="utf-8") as f:
            body = md.reset().convert(f.read())
        if not pictures:
            # Made quickly where no virtual screen can run the program: each picture's caption stands in.
            note = r'<span class="note">[Picture: \1. <code>make manual</code> makes the full manual.]</span>'
            body = re.sub(r'<img [^>]*alt="([^"]*)"[^>]*>', note, body)
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


def as_shown(literal):
    """A caption as the user reads it: "File(&F)" shows as "File", "&Open && Program" as "Open & Program"."""
    return re.sub(r"&([^ ])", r"\1", re.sub(r"\(&(?:%\d|[^&])\)", "", literal))


def program_texts(sources):
    """Every string literal of the programs, as shown, with adjacent literals joined as the compiler does."""
    texts = []
    for top in sources:
        for root, _, files in os.walk(top):
            for f in files:
                if f.endswith((".cpp", ".h")):
                    with open(os.path.join(root, f), encoding="utf-8") as h:
                        code = h.read()
                    code = re.sub(r'"\s*\n\s*"', "", code)
                    # A text built as "a " + n + " b" (or streamed) reads as "a %9 b": what is put
                    # between its literals varies like a placeholder.
                    code = re.sub(r'"\s*(?:\+|<<)\s*[^";{}]+?\s*(?:\+|<<)\s*"', "%9", code)
                    texts.extend(as_shown(unescape(m)) for m in re.findall(r'"((?:[^"\\\n]|\\.)*)"', code))
    return texts


# What a page quotes, and how it must match the programs:
# - `code` is a text the programs show or print; "…" stands for what varies. It passes when
#   - it lies within one program string, its "…" standing for a placeholder or any text;
#   - a program string spells it whole, its placeholders (%1, or what a "+" or "<<" puts between
#     literals) filled with an example value: a number, a path, a name in capitals ("Read 189
#     cells" by "Read %1 cells"); a string whose fixed part has no word of three letters ("%1: %2")
#     vouches for nothing;
#   - or it is such strings and values one after the other, joined at punctuation ("Restore of …:
#     Restored exactly; backup in …"), a placeholder holding another message as well.
#   Not checked: a single word or value (`dialout`, `PASS`), a path (`/…`, `~/…`, `%LOCALAPPDATA%…`),
#   a command line (`read -o`), the system's own reasons (OUTSIDE_TEXTS), and a program's output
#   shown as a sample in a ```text block.
# - **bold** and *italic* name a button, menu, menu entry or window of QUARVEL ("File → Open &
#   Program" is two names). Each must be a whole program string as the user reads it (without its
#   Alt letter's "&"), give or take a closing ":"; its "..." or "…" count ("Restore…" is a button,
#   "Restore" none). Emphasis is written _like this_ instead; names that belong to the system or to
#   Qt are in OUTSIDE_NAMES.
# - "Double quotes" in the running text are the manual's own and are not checked.
OUTSIDE_NAMES = {
    "Show Details...", "Save",  # Qt's message box buttons
    "Device Manager", "Ports (COM & LPT)",  # Windows
}
OUTSIDE_TEXTS = {"No such file or directory", "Permission denied"}  # the system's reasons
COMMANDS = ("quarvel ", "quarvelctl ", "sudo ", "echo ", "xvfb-run ", "man ", "nohup ", "make ")


class ProgramTexts:
    def __init__(self, literals):
        self.generic = [re.sub(r"%\d", "…", t) for t in literals]
        self.names = {t.strip().rstrip(":").strip() for t in literals}
        self.patterns = []
        for t in literals:
            # Placeholders side by side ("%3%4") read as one: an example fills them with one value.
            parts = re.split(r"(?:%\d)+", t)
            if len(parts) > 1 and re.search(r"[A-Za-z]{3}", "".join(parts)):
                self.patterns.append(re.compile("(.+?)".join(re.escape(p) for p in parts), re.S))

    @staticmethod
    def value(text):
        """A number, a path, a name in capitals, "…": what an example puts in a placeholder."""
        return text in OUTSIDE_TEXTS or all(
            re.search(r"[\d/\\_.…–-]|^[A-Z]|^\W*$", word) or len(word) < 3 for word in text.split())

    def whole(self, text, depth):
        """text is one program string, its placeholders holding values or, nested, messages."""
        text = text.strip()
        if text in self.generic:
            return True
        for p in self.patterns:
            m = p.fullmatch(text)
            if m and all(self.value(g) or (depth > 0 and self.joined(g, depth - 1)) for g in m.groups()):
                return True
        return False

    def joined(self, text, depth):
        """text is program strings put one after the other ("Restored exactly" and "; backup in
        …"), cut where punctuation joins them; a value may stand between them."""
        marks = [i for i, c in enumerate(text) if c in ";:,.()…"]
        cuts = sorted({0, len(text)} | set(marks) | {i + 1 for i in marks})
        reached = {0}
        for a in cuts:
            if a not in reached:
                continue
            for b in cuts:
                part = text[a:b]
                if b > a and b not in reached and (self.value(part) or self.whole(part, depth)):
                    reached.add(b)
        return len(text) in reached

    def says(self, quote):
        # Part of one program string, or program strings and values put together.
        inside = re.compile(".*?".join(re.escape(p) for p in quote.split("…")), re.S)
        return any(inside.search(g) for g in self.generic) or self.joined(quote, 2)

    def names_it(self, name):
        return (name in OUTSIDE_NAMES or name.rstrip(":") in self.names
                or any(p.fullmatch(name) for p in self.patterns))


def is_message(code):
    command = code.startswith(COMMANDS) or re.match(r"[a-z]+ --?[a-z]", code)
    return " " in code.strip() and not code.startswith(("/", "~", "%", "./")) and not command


def quotes(text):
    """(line, kind, quote) of each quoted text of a page, outside code blocks and raw HTML."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if line.lstrip().startswith("```"):
            fenced = not fenced
            continue
        if fenced or line.lstrip().startswith("<"):
            continue
        prose = re.sub(r"`[^`]*`", "", line)
        for code in re.findall(r"`([^`]+)`", line):
            if is_message(code):
                yield number, "message", code
        for bold in re.findall(r"\*\*([^*]+)\*\*", prose):
            for name in bold.split(" → "):
                yield number, "name", name.strip()
        plain = re.sub(r"\*\*[^*]+\*\*", "", prose)
        for italic in re.findall(r"(?<![*\w])\*([^*\s][^*]*?)\*(?![*\w])", plain):
            for name in italic.split(" → "):
                yield number, "name", name.strip()


def check_quotes(source_dir, sources):
    """Every page's quoted messages and names must be the programs' own, so a page cannot drift
    from what the user sees."""
    said = ProgramTexts(program_texts(sources))
    problems = []
    for name, _ in PAGES:
        with open(os.path.join(source_dir, name + ".md"), encoding="utf-8") as f:
            text = f.read()
        for line, kind, quote in quotes(text):
            if kind == "message" and not said.says(quote):
                problems.append(f"{name}.md:{line}: the programs do not say \"{quote}\"")
            elif kind == "name" and not said.names_it(quote):
                problems.append(f"{name}.md:{line}: the programs have no button, menu or window \"{quote}\"")
    return problems


# A page's sentence or quoted message tied to the test that proves the program does it, one a
# line in tested.txt: "page | what the page says | Suite.Test" ("…" stands for what varies on either
# side). The page must still say it, and the test must still be there and say it too, in an
# assertion or its comment: a page and a program that part ways fail the build on either side.
TEST_HEAD = re.compile(r"^TEST(?:_F|_P)?\(\s*(\w+)\s*,\s*(\w+)\s*\)", re.M)


def flat(text):
    """Text as it reads: literals joined, comment marks, Markdown marks and line breaks gone."""
    text = re.sub(r'"\s*\n\s*"', "", text)
    text = re.sub(r"^\s*//+ ?", "", text, flags=re.M)
    text = unescape(text).replace("`", "").replace("**", "")
    return re.sub(r"\s+", " ", text)


def test_bodies(tests_dir):
    """Suite.Test: the test's source with the comment just above it."""
    bodies = {}
    for root, _, files in os.walk(tests_dir):
        for f in files:
            if not f.endswith(".cpp"):
                continue
            with open(os.path.join(root, f), encoding="utf-8") as h:
                code = h.read()
            heads = list(TEST_HEAD.finditer(code))
            for i, m in enumerate(heads):
                start = m.start()
                while True:  # the comment lines right above the test are part of what it says
                    before = code.rfind("\n", 0, start - 1) + 1
                    if start == 0 or not code[before:start].lstrip().startswith("//"):
                        break
                    start = before
                end = heads[i + 1].start() if i + 1 < len(heads) else len(code)
                bodies[f"{m.group(1)}.{m.group(2)}"] = code[start:end]
    return bodies


def says_phrase(text, phrase):
    return re.search(".*?".join(re.escape(p) for p in flat(phrase).split("…")), flat(text), re.S) is not None


def check_ties(source_dir, ties_file, tests_dir):
    bodies = test_bodies(tests_dir)
    problems = []
    with open(ties_file, encoding="utf-8") as f:
        lines = f.read().splitlines()
    for number, line in enumerate(lines, 1):
        if not line.strip() or line.startswith("#"):
            continue
        page, phrase, test = (part.strip() for part in line.split("|"))
        where = f"{os.path.basename(ties_file)}:{number}"
        with open(os.path.join(source_dir, page + ".md"), encoding="utf-8") as h:
            if not says_phrase(h.read(), phrase):
                problems.append(f"{where}: {page}.md no longer says \"{phrase}\"")
        if test not in bodies:
            problems.append(f"{where}: there is no test {test} for \"{phrase}\"")
        elif not says_phrase(bodies[test], phrase):
            problems.append(f"{where}: the test {test} does not say \"{phrase}\"")
    return problems


def main():
    source_dir, output_dir, program_sources, version = sys.argv[1:5]
    pictures = "--without-pictures" not in sys.argv[5:]
    os.makedirs(output_dir, exist_ok=True)
    convert(source_dir, output_dir, version, pictures)
    problems = check_links(output_dir)
    problems += check_quotes(source_dir, [os.path.join(program_sources, d) for d in ("src", "cli", "app")])
    problems += check_ties(source_dir, os.path.join(source_dir, "tested.txt"), os.path.join(program_sources, "tests"))
    for p in problems:
        print("manual: " + p, file=sys.stderr)
    if problems:
        sys.exit(1)
    print(f"manual: {len(PAGES)} pages in {output_dir}" + ("" if pictures else
          " without pictures (make manual makes them; it needs xvfb-run)"))


if __name__ == "__main__":
    main()
