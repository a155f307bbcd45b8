#!/usr/bin/env python3
"""The text of an HTML page as a reader sees it, as an independent oracle.

usage: oracle_text.py FILE

FILE is parsed with html5lib and its text printed one line per text line,
as UTF-8: tags removed; <script> and <style> content and comments dropped;
character references decoded; a line ends at each line end of the source
inside text and at the start and end of each element in BLOCK (which
follows the elements the HTML rendering rules display as blocks, table
parts and list items, plus <br> and <title>); other elements (a, em, code,
span, ...) join their text without a break. Within a line each run of ASCII
whitespace becomes one space (U+00A0 stays as it is); lines are stripped of
ASCII whitespace and empty ones dropped. <textarea> and <title> keep their
text, fake tags and all.
"""
import re
import sys

from oracle_parse import ASCII_WS, utf8_stdout, walk

BLOCK = frozenset("""
    address article aside blockquote body br caption center col colgroup dd
    details dialog dir div dl dt fieldset figcaption figure footer form frame
    frameset h1 h2 h3 h4 h5 h6 head header hgroup hr html legend li listing
    main menu nav ol optgroup option p plaintext pre search section summary
    table tbody td tfoot th thead title tr ul xmp
""".split())
DROPPED = frozenset(("script", "style"))

RUN = re.compile(r"[\t\n\f\r ]+")


def text_lines(tokens):
    lines, current, dropped = [], [], 0

    def end_line():
        line = RUN.sub(" ", "".join(current)).strip(ASCII_WS)
        if line:
            lines.append(line)
        current.clear()

    for token in tokens:
        kind = token["type"]
        if kind in ("StartTag", "EmptyTag", "EndTag"):
            if token["name"] in DROPPED and kind != "EmptyTag":
                dropped += 1 if kind == "StartTag" else -1
            if token["name"] in BLOCK:
                end_line()
        elif kind in ("Characters", "SpaceCharacters") and not dropped:
            pieces = token["data"].split("\n")
            current.append(pieces[0])
            for piece in pieces[1:]:
                end_line()
                current.append(piece)
    end_line()
    return lines


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: oracle_text.py FILE")
    utf8_stdout()
    for line in text_lines(walk(sys.argv[1])):
        print(line)


if __name__ == "__main__":
    main()
