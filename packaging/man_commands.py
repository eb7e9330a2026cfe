#!/usr/bin/env python3
"""Writes a help2man include file with a COMMANDS section made of each quarvelctl command's
own --help, so the man page says what the program says.

usage: man_commands.py QUARVELCTL OUTPUT
"""
import re
import subprocess
import sys


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\n".join(("\\&" + line if line.startswith((".", "'")) else line) for line in text.split("\n"))


def help_of(program, *args):
    return subprocess.run([program, *args, "--help"], check=True, capture_output=True, text=True).stdout


def command_section(program, name):
    lines = help_of(program, name).rstrip("\n").split("\n")
    usage = lines[0].removeprefix("Usage: ")
    out = [f'.SS "{roff(usage)}"']
    # Paragraphs of prose stay filled; indented lines (examples, options) keep their layout.
    block = []

    def flush():
        if block:
            out.append(".PP")
            out.append(roff("\n".join(block)))
            block.clear()

    option = re.compile(r"^  (-\S.*?)  +(\S.*)$")
    in_options = False
    for line in lines[1:]:
        if not line.strip():
            flush()
            in_options = False
            continue
        if line in ("Options:", "Arguments:"):
            flush()
            out.append(f".PP\n.B {line}")
            in_options = True
            continue
        m = option.match(line) if in_options else None
        if m:
            out.append(".TP")
            out.append(f".B {roff(m.group(1))}")
            out.append(roff(m.group(2)))
        elif in_options and line.startswith("  ") and re.match(r"^  \S+  +\S", line):
            name_, desc = re.split(r"  +", line.strip(), maxsplit=1)
            out.append(".TP")
            out.append(f".I {roff(name_)}")
            out.append(roff(desc))
        elif in_options and out[-1] != ".TP" and line.startswith("    "):
            out.append(roff(line.strip()))
        elif line.startswith("  "):
            flush()
            out.append(".nf")
            out.append(roff(line))
            out.append(".fi")
        else:
            block.append(line)
    flush()
    return "\n".join(out)


def main():
    program, output = sys.argv[1], sys.argv[2]
    top = help_of(program)
    commands = re.findall(r"^  ([a-z]+) ", top.split("Commands:", 1)[1].split("\n\n", 1)[0], re.M)
    if not commands:
        sys.exit("man_commands.py: no commands in quarvelctl --help")
    sections = [command_section(program, c) for c in commands]
    with open(output, "w", encoding="utf-8") as f:
        f.write("[COMMANDS]\n" + "\n".join(sections) + "\n")


main()
