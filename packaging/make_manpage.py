#!/usr/bin/python3
"""Writes a manual page (roff with the man macros) to the file PAGE.

    make_manpage.py readme PAGE README.md CHANGELOG VERSION SUMMARY [SEE_ALSO ...]
    make_manpage.py tool PAGE NAME SCRIPT CHANGELOG VERSION [SEE_ALSO ...]

readme: tavro's own page, made from the README so that the two never
disagree: the text before the first section is the DESCRIPTION, and the
sections of README_SECTIONS follow under their manual headings. Only the
Markdown the README uses is understood: paragraphs, "### " headings,
indented code blocks (the Options block becomes the option list), pipe
tables, "- " and "1. " lists and inline `code`, **bold** and [links](...);
a missing section is an error.

tool: a companion tool's page, made from its argparse --help: the usage
line as the synopsis (with the tool's installed NAME), the description and
every argument.

The page's date is that of the newest entry of the Debian changelog, so
that the same sources always give the same page. SEE_ALSO names other
pages of section 1.
"""

import email.utils
import os
import re
import subprocess
import sys

README_SECTIONS = (
    ("Options", "OPTIONS"),
    ("What the output means", "OUTPUT"),
    ("Exit codes", "EXIT STATUS"),
    ("Messages and what to do", "DIAGNOSTICS"),
    ("Linux notes", "LINUX NOTES"),
)

CODE_RE = re.compile(r"`([^`]*)`")
BOLD_RE = re.compile(r"\*\*(.+?)\*\*")
LINK_RE = re.compile(r"\[([^\]]*)\]\([^)]*\)")
# An option line of the README's Options block: the names (and the value),
# two or more blanks, the description.
OPTION_LINE_RE = re.compile(r"^ {4}(-\S.*?) {2,}(\S.*)$")
# The first line of a list item: "- " or "1. ".
ITEM_RE = re.compile(r"^(-|\d+\.) ")
# An argument line of argparse's help: two blanks, the invocation, then the
# help after two or more blanks or on the next lines.
ARGUMENT_LINE_RE = re.compile(r"^  (\S.*?)(?: {2,}(\S.*))?$")


class PageError(Exception):
    """The sources do not make a page; the text says why."""


def roff_text(text):
    """Plain text with its backslashes escaped for roff."""
    return text.replace("\\", "\\e")


def roff_literal(text):
    """Text shown as typed: options and commands keep real minus signs."""
    return roff_text(text).replace("-", "\\-")


def inline(text):
    """Markdown inline markup as roff: code and strong text in bold."""
    pieces = CODE_RE.split(text)
    out = []
    for i, piece in enumerate(pieces):
        if i % 2:
            # \% keeps an option or a path from being hyphenated; a long path
            # may still break after a slash (\:).
            code = roff_literal(piece).replace("/", "/\\:")
            out.append("\\fB\\%" + code + "\\fR")
        else:
            piece = roff_text(LINK_RE.sub(r"\1", piece))
            out.append(BOLD_RE.sub(r"\\fB\1\\fR", piece))
    return "".join(out)


def text_line(text):
    """A roff input line that a leading period or apostrophe cannot turn into
    a request."""
    return "\\&" + text if text.startswith((".", "'")) else text


def split_cells(row):
    """The cells of a pipe-table row; a "\\|" is a "|" inside a cell."""
    cells = re.split(r"(?<!\\)\|", row.strip().strip("|"))
    return [cell.strip().replace("\\|", "|") for cell in cells]


def blocks_of(lines):
    """Blank-line separated blocks, each a list of lines."""
    blocks, block = [], []
    for line in lines:
        if line.strip():
            block.append(line)
        elif block:
            blocks.append(block)
            block = []
    if block:
        blocks.append(block)
    return blocks


def option_names(left):
    """Roff for "-n, --numthreads N" or "-o FILE, --output FILE": names in
    bold, values in italics."""
    parts = []
    for part in left.split(", "):
        name, _, value = part.strip().partition(" ")
        parts.append("\\fB" + roff_literal(name) + "\\fR" +
                     (" \\fI" + roff_text(value) + "\\fR" if value else ""))
    return ", ".join(parts)


def option_list(block):
    """The README's Options block as .TP entries; None if it is not one."""
    entries = []
    for line in block:
        match = OPTION_LINE_RE.match(line)
        if match:
            entries.append([match.group(1), match.group(2)])
        elif entries and line.startswith(" " * 8):
            entries[-1][1] += " " + line.strip()
        else:
            return None
    out = []
    for left, description in entries:
        out += [".TP", option_names(left), text_line(roff_text(description))]
    return out


def code_block(block):
    out = [".PP", ".RS 4", ".nf"]
    out += [text_line(roff_literal(line[4:])) for line in block]
    return out + [".fi", ".RE"]


def table(block):
    """A pipe table as tagged paragraphs: the first cell is the tag, the
    second the text; further cells follow, each after its column's name."""
    header = split_cells(block[0])
    out = []
    for row in block[2:]:
        cells = split_cells(row)
        if len(cells) != len(header):
            raise PageError(f"a table row has {len(cells)} cells, not {len(header)}: {row}")
        out += [".TP", text_line(inline(cells[0])), text_line(inline(cells[1]))]
        for name, cell in zip(header[2:], cells[2:]):
            out += [".IP", text_line(f"\\fI{roff_text(name)}:\\fR " + inline(cell))]
    return out


def item_list(block):
    """A "- " or "1. " list as indented paragraphs with their marks."""
    items = []
    for line in block:
        match = ITEM_RE.match(line)
        if match:
            mark = "\\(bu" if match.group(1) == "-" else match.group(1)
            items.append([mark, line[match.end():].strip()])
        else:
            items[-1][1] += " " + line.strip()
    out = []
    for mark, item in items:
        out += [f".IP {mark} 4", text_line(inline(item))]
    return out


def markdown_block(block):
    if not block:
        return []
    if all(line.startswith("    ") for line in block):
        return option_list(block) or code_block(block)
    if block[0].startswith("|"):
        return table(block)
    if ITEM_RE.match(block[0]):
        return item_list(block)
    if block[0].startswith("### "):
        return [".SS " + roff_text(block[0][4:].strip())] + markdown_block(block[1:])
    if block[0].startswith("!["):
        return []  # pictures stay in the README
    return [".PP", text_line(inline(" ".join(line.strip() for line in block)))]


def readme_sections(text):
    """The README's title text and its "## " sections, by heading."""
    sections = {}
    current = []
    intro = current
    for line in text.splitlines():
        if line.startswith("## "):
            current = sections.setdefault(line[3:].strip(), [])
        elif not line.startswith("# "):
            current.append(line)
    return intro, sections


def page_date(changelog):
    """The date of the newest entry of a Debian changelog, as YYYY-MM-DD."""
    with open(changelog, encoding="utf-8") as stream:
        for line in stream:
            if line.startswith(" -- "):
                stamp = line.rsplit("  ", 1)[-1].strip()
                return email.utils.parsedate_to_datetime(stamp).strftime("%Y-%m-%d")
    raise PageError(f"{changelog}: no entry with a date")


def page_head(name, date, version, summary):
    return [
        f'.TH {name.upper()} 1 "{date}" "tavro {version}" "User Commands"',
        ".SH NAME",
        f"{roff_literal(name)} \\- {roff_text(summary)}",
    ]


def see_also(names):
    if not names:
        return []
    refs = [f".BR {roff_literal(name)} (1){',' if i + 1 < len(names) else ''}"
            for i, name in enumerate(names)]
    return [".SH SEE ALSO"] + refs


def readme_page(readme, changelog, version, summary, others):
    with open(readme, encoding="utf-8") as stream:
        text = stream.read()
    # The README's references to its sections name the page's headings.
    for title, heading in README_SECTIONS:
        text = text.replace(f'"{title}"', heading)
    intro, sections = readme_sections(text)
    out = page_head("tavro", page_date(changelog), version, summary)
    out += [".SH SYNOPSIS", ".B tavro", "[\\fIoptions\\fR]", ".SH DESCRIPTION"]
    for block in blocks_of(intro):
        out += markdown_block(block)
    for title, heading in README_SECTIONS:
        if title not in sections:
            raise PageError(f'{readme}: no section "## {title}"')
        out.append(f".SH {heading}")
        for block in blocks_of(sections[title]):
            out += markdown_block(block)
    return out + see_also(others)


def help_text(script):
    """The tool's --help, unwrapped: argparse wraps to $COLUMNS."""
    env = dict(os.environ, COLUMNS="1000")
    done = subprocess.run([sys.executable, script, "--help"], env=env, check=True,
                          stdout=subprocess.PIPE, universal_newlines=True)
    return done.stdout


def argument_entries(block):
    """(invocation, help) pairs of one argument group of argparse's help."""
    entries = []
    for line in block[1:]:
        match = ARGUMENT_LINE_RE.match(line)
        if match:
            entries.append([match.group(1), match.group(2) or ""])
        elif entries:
            entries[-1][1] = (entries[-1][1] + " " + line.strip()).strip()
    return entries


def invocation(text):
    """Roff for "-o OUTPUT, --output OUTPUT" or a positional "input"."""
    if not text.startswith("-"):
        return "\\fI" + roff_text(text) + "\\fR"
    return option_names(text)


def tool_page(name, script, changelog, version, others):
    blocks = blocks_of(help_text(script).splitlines())
    if not blocks or not blocks[0][0].startswith("usage: "):
        raise PageError(f"{script} --help: no usage line")
    usage = " ".join(line.strip() for line in blocks[0])[len("usage: "):].split(" ", 1)
    description, arguments = [], []
    for block in blocks[1:]:
        if block[0].endswith(":") and not block[0].startswith(" "):
            arguments += argument_entries(block)
        else:
            description.append(" ".join(line.strip() for line in block))
    if not description:
        raise PageError(f"{script} --help: no description")
    summary = description[0].split(". ")[0].rstrip(".")
    summary = summary[:1].lower() + summary[1:]
    out = page_head(name, page_date(changelog), version, summary)
    out += [".SH SYNOPSIS", ".B " + roff_literal(name)]
    if len(usage) > 1:
        out.append(text_line(roff_literal(usage[1])))
    out.append(".SH DESCRIPTION")
    for paragraph in description:
        out += [".PP", text_line(roff_text(paragraph))]
    out.append(".SH OPTIONS")
    for left, help_part in arguments:
        out += [".TP", invocation(left), text_line(roff_text(help_part))]
    return out + see_also(others)


def main(argv):
    try:
        if len(argv) >= 6 and argv[0] == "readme":
            page = readme_page(*argv[2:6], argv[6:])
        elif len(argv) >= 6 and argv[0] == "tool":
            page = tool_page(*argv[2:6], argv[6:])
        else:
            usage = "\n".join(__doc__.strip().splitlines()[2:4])
            print("usage:\n" + usage, file=sys.stderr)
            return 2
        with open(argv[1], "w", encoding="utf-8") as stream:
            stream.write("\n".join(page) + "\n")
    except (OSError, PageError, subprocess.CalledProcessError) as error:
        print(f"make_manpage: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
