"""The parse both oracles share: html5lib's tree, walked in document order.

A page is read as UTF-8 (a UTF-8 byte order mark skipped), and bytes that
are not UTF-8 are kept as they are, so what the oracles print carries the
page's own bytes, as a reader of bytes sees them. A browser would decode a
page by its <meta charset> or a legacy default instead: that is the one
place the oracles read a page unlike a browser. The tree is built with
scripting off, as a crawler runs no script: <noscript> content is markup.
"""
import os
import sys

try:
    import html5lib
except ImportError:
    # Debian's python3-html5lib lives beside Debian's interpreter; another
    # python3 first on PATH (a pyenv shim, a venv) does not see it.
    system_python = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(system_python) \
            and os.path.exists(system_python):
        os.execv(system_python, [system_python] + sys.argv)
    sys.exit("html5lib is missing: install Debian's python3-html5lib")

HTML_NS = "http://www.w3.org/1999/xhtml"
# The HTML standard's ASCII whitespace: the only characters that separate
# attribute parts and that collapse in text (U+00A0 does not).
ASCII_WS = "\t\n\f\r "


def walk(path):
    """Yields html5lib tree-walker tokens for the page in FILE order."""
    with open(path, "rb") as f:
        text = f.read().decode("utf-8-sig", "surrogateescape")
    doc = html5lib.parse(text, treebuilder="etree")
    return html5lib.getTreeWalker("etree")(doc)


def plain_attrs(token):
    """The token's attributes that carry no namespace (href, not xlink:href),
    in source order; the first of two with one name wins, as in a browser."""
    return {name: value for (ns, name), value in token["data"].items()
            if ns is None}


def utf8_stdout():
    """Lines go out as UTF-8 whatever the locale, one per text line."""
    sys.stdout.reconfigure(encoding="utf-8", errors="surrogateescape",
                           newline="\n")
