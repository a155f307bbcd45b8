#!/usr/bin/env python3
"""Checks ferret -json output against its schema and, when given, against
the human output of the same run.

  json_check.py SCHEMA JSON_OUT [HUMAN_OUT [--print] [--stat]]

Every line of JSON_OUT must be one JSON object that validates against
SCHEMA (doc/ferret-events.schema.json), with exactly one "stats" event, the
last. With HUMAN_OUT (standard output of the same run without -json, with
--print and --stat as that run had them), the two must tell the same
events: the lines the human output has (printed pages and links, "Saving"
lines, error lines, the counters line) are those the events imply, as a
multiset, and the saves and errors come in the same order. -show's lines
are left out of the comparison. URLs compare without "http://", which the
human output leaves out of plain http URLs.

Prints "ok" and exits 0, or prints what is wrong and exits 1.
"""
import json
import sys

import jsonschema


def human_lines(events, printed, stat):
    lines = []
    for e in events:
        t = e["type"]
        if t == "page" and e["matched"] and printed:
            lines.append(e["final_url"])  # a page is printed as it answered
        elif t == "link" and printed:
            lines.append(e["url"])
        elif t == "save":
            lines.append("Saving %s as %s" % (e["url"], e["path"]))
        elif t == "error":
            lines.append(e["message"])
        elif t == "stats" and stat:
            lines.append("Saves(%d) Prints(%d) Hits(%d) HTTP 200(%d%%) Errors(%d)" %
                         (e["saves"], e["prints"], e["hits"], e["percent200"], e["errors"]))
    return lines


def plain(line):
    return line.replace("http://", "")


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    printed, stat = "--print" in sys.argv, "--stat" in sys.argv
    schema = json.load(open(args[0]))
    validator = jsonschema.Draft202012Validator(schema)
    events = []
    for number, line in enumerate(open(args[1], encoding="utf-8", errors="strict"), 1):
        try:
            event = json.loads(line)
        except ValueError as e:
            print("line %d is not JSON: %s: %r" % (number, e, line[:200]))
            return 1
        errors = sorted(validator.iter_errors(event), key=str)
        if errors:
            print("line %d does not validate: %s: %r" % (number, errors[0].message, line[:300]))
            return 1
        events.append(event)
    stats = [i for i, e in enumerate(events) if e["type"] == "stats"]
    if stats != [len(events) - 1]:
        print("stats events at %s of %d" % (stats, len(events)))
        return 1
    if len(args) > 2:
        told = [plain(l) for l in human_lines(events, printed, stat)]
        shown = [plain(l) for l in open(args[2], encoding="utf-8", errors="surrogateescape")
                 .read().split("\n") if l and not l.startswith("  ")]
        if sorted(told) != sorted(shown):
            missing = sorted(set(shown) - set(told))[:5]
            extra = sorted(set(told) - set(shown))[:5]
            print("the outputs differ: only human: %s; only JSON: %s" % (missing, extra))
            return 1
        errors_told = {plain(e["message"]) for e in events if e["type"] == "error"}

        def saves_errors(lines):
            return [l for l in lines if l.startswith("Saving ") or l in errors_told]

        if saves_errors(told) != saves_errors(shown):
            print("saves and errors come in another order")
            return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
