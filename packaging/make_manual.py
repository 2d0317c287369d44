#!/usr/bin/env python3
"""Writes the manual page numbrel(1) and the bash completion from the batch options table.

The table is what `numbrel --batch --list-options` prints, one option a line:
    name <TAB> value placeholder <TAB> default <TAB> choices <TAB> help
(name may be "-o, --output"; the placeholder is empty for a flag; choices are comma-separated and
empty when the value is free). Both outputs come from it, so an option added to the program is in
the page and the completion at the next build.

    make_manual.py --table TABLE.tsv --version V --page-in numbrel.1.in --page-out numbrel.1
                   --completion-in numbrel.bash.in --completion-out numbrel
"""
import argparse
import re
import sys
from pathlib import Path


class Option:
    def __init__(self, line):
        fields = line.rstrip("\n").split("\t")
        if len(fields) != 5:
            raise ValueError(f"not five tab-separated fields: {line!r}")
        names, self.value, self.default, choices, self.help = fields
        self.names = [n.strip() for n in re.split(r"[,|]", names) if n.strip()]
        if not self.names or not all(re.fullmatch(r"--?[A-Za-z0-9][A-Za-z0-9-]*", n) for n in self.names):
            raise ValueError(f"not an option name: {names!r}")
        self.choices = [c for c in choices.split(",") if c] if choices else []

    @property
    def long(self):
        return next((n for n in self.names if n.startswith("--")), self.names[-1])

    def value_kind(self):
        """What the completion offers for the value: choices, folders, files or nothing."""
        if self.choices:
            return "choices"
        if re.search(r"DIR|FOLDER", self.value):
            return "dirs"
        if re.search(r"FILE", self.value):
            return "files"
        return "none"


def read_table(text):
    options = [Option(line) for line in text.splitlines() if line.strip()]
    if not options:
        raise ValueError("the options table is empty")
    seen = set()
    for o in options:
        for n in o.names:
            if n in seen:
                raise ValueError(f"{n} is listed twice")
            seen.add(n)
    return options


def roff(text):
    """Text as roff reads it literally: backslashes, leading dots and quotes, dashes."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def page_options(options):
    out = []
    for o in options:
        names = ", ".join(f"\\fB{roff(n)}\\fR" for n in o.names)
        if o.value:
            names += f" \\fI{roff(o.value)}\\fR"
        out.append(".TP")
        out.append(names)
        text = roff(o.help[:1].upper() + o.help[1:]) if o.help else ""
        if text and not text.endswith("."):
            text += "."
        if o.choices:
            text += " One of " + ", ".join(f"\\fB{roff(c)}\\fR" for c in o.choices) + "."
        if o.default:
            text += f" Default: \\fB{roff(o.default)}\\fR."
        out.append(text.strip())
    return "\n".join(out)


def shell_words(words):
    for w in words:
        if not re.fullmatch(r"[A-Za-z0-9_.,:/+=-]+", w):
            raise ValueError(f"{w!r} cannot be completed as a plain word")
    return " ".join(words)


def completion_cases(options):
    """The case arms that complete a value, grouped by what the value is."""
    arms = []
    by_kind = {"dirs": [], "files": [], "none": []}
    for o in options:
        if not o.value:
            continue
        kind = o.value_kind()
        if kind == "choices":
            arms.append(f"        {'|'.join(o.names)})\n"
                        f"            COMPREPLY=($(compgen -W '{shell_words(o.choices)}' -- \"$cur\"))\n"
                        f"            return 0 ;;")
        else:
            by_kind[kind] += o.names
    actions = {"dirs": "_filedir -d", "files": "_filedir", "none": "COMPREPLY=()"}
    for kind, names in by_kind.items():
        if names:
            arms.append(f"        {'|'.join(names)})\n            {actions[kind]}\n            return 0 ;;")
    return "\n".join(arms)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--table", required=True)
    p.add_argument("--version", required=True)
    p.add_argument("--page-in", required=True)
    p.add_argument("--page-out", required=True)
    p.add_argument("--completion-in", required=True)
    p.add_argument("--completion-out", required=True)
    a = p.parse_args()
    try:
        options = read_table(Path(a.table).read_text(encoding="utf-8"))
        page = Path(a.page_in).read_text(encoding="utf-8")
        page = page.replace("@VERSION@", a.version).replace("@BATCH_OPTIONS@", page_options(options))
        completion = Path(a.completion_in).read_text(encoding="utf-8")
        completion = (completion.replace("@BATCH_OPTIONS@", shell_words([n for o in options for n in o.names]))
                      .replace("@BATCH_VALUE_CASES@", completion_cases(options)))
    except (OSError, ValueError) as e:
        sys.exit(f"make_manual.py: {e}")
    for text in (page, completion):
        if re.search(r"@[A-Z_]+@", text):
            sys.exit("make_manual.py: a placeholder is left in the output")
    Path(a.page_out).write_text(page, encoding="utf-8")
    Path(a.completion_out).write_text(completion, encoding="utf-8")


if __name__ == "__main__":
    main()
