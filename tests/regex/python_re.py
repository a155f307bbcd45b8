#!/usr/bin/python3
"""Oracle for RegexpPythonTest: Python's re on translated patterns.

Each input line is "pattern<TAB>subject", both hex-encoded. The pattern is
already in Python syntax and is searched with re.DOTALL (Ferret's '.' takes
every character). Each output line is "E" when Python refuses the pattern,
"N" when it finds no match, otherwise the start and end of every group from
0 on, -1 -1 for a group that took no part.
"""
import re
import sys


def answer(pattern, subject):
    try:
        compiled = re.compile(pattern, re.DOTALL)
    except re.error:
        return "E"
    found = compiled.search(subject)
    if found is None:
        return "N"
    spans = [found.span(group) for group in range(compiled.groups + 1)]
    return " ".join("%d %d" % span for span in spans)


def main():
    with open(sys.argv[1], encoding="ascii") as cases:
        for line in cases:
            pattern, subject = line.rstrip("\n").split("\t")
            print(answer(bytes.fromhex(pattern).decode("latin-1"),
                         bytes.fromhex(subject).decode("latin-1")))


main()
