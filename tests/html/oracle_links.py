#!/usr/bin/env python3
"""The links a browser finds in an HTML page, as an independent oracle.

usage: oracle_links.py FILE BASE_URL

FILE is parsed with html5lib (a full HTML5 tree builder, not Ferret's
tokenizer); BASE_URL is the page's own URL. One line per link, in document
order, within an element in attribute order:

    KIND<TAB>ELEMENT<TAB>ATTRIBUTE<TAB>URL

KIND is "page" (a link to follow: a[href], area[href], frame[src],
iframe[src], the URL of meta[http-equiv=refresh]) or "file" (img[src], each
srcset candidate of img and source, source[src], video[src] and [poster],
audio[src], track[src], embed[src], object[data], script[src], link[href]).
ELEMENT is the element's name and ATTRIBUTE the attribute read (content
for meta refresh).

URL is resolved against the first <base href> of the document (itself
resolved against BASE_URL; it serves links before it too, as in a browser's
finished document) or BASE_URL, by the URL Standard's parser for http and https:
leading and trailing C0 controls and spaces stripped, tab/LF/CR removed,
"\\" read as "/", dot segments removed, the fragment dropped, the host
lower-cased (internationalised names through UTS 46 with the idna module,
else Python's IDNA 2003 codec), IPv4 and IPv6 hosts normalised, the default
port dropped, the rest percent-encoded as UTF-8 by the path, query and
userinfo sets (a byte of the page that is not UTF-8 is encoded as itself).

Left out: a value that is empty or only whitespace; a URL of any other
scheme (mailto:, javascript:, data:, ftp:, ...), also a relative one under a
<base> of such a scheme; a URL the parser rejects (bad port, bad host, ...);
a refresh without a URL; a srcset candidate whose descriptors the HTML
standard rejects.

Every refresh <meta> is read (a browser acts on the first one only); its
http-equiv must be "refresh" in any letter case, without spaces. An element
is matched by its local name in any namespace (so SVG's <a href> counts),
but after html5lib's tree building, which reads <image> as <img>.
"""
import ipaddress
import re
import sys

from oracle_parse import ASCII_WS, plain_attrs, utf8_stdout, walk

try:
    import idna
except ImportError:
    idna = None

PAGE_LINKS = {("a", "href"), ("area", "href"), ("frame", "src"),
              ("iframe", "src")}
FILE_LINKS = {("img", "src"), ("source", "src"), ("video", "src"),
              ("video", "poster"), ("audio", "src"), ("track", "src"),
              ("embed", "src"), ("object", "data"), ("script", "src"),
              ("link", "href")}
SRCSET_ELEMENTS = {"img", "source"}

DEFAULT_PORT = {"http": 80, "https": 443}

# The URL Standard's percent-encode sets, beyond C0 controls and non-ASCII.
QUERY_SET = frozenset(" \"#<>'")        # the special-query set
PATH_SET = frozenset(" \"#<>?^`{}")
USERINFO_SET = PATH_SET | frozenset("/:;=@[\\]|")
FORBIDDEN_HOST = frozenset("\0\t\n\r #/:<>?@[\\]^|")


def percent_encode(s, ascii_set):
    out = []
    for c in s:
        if c in ascii_set or not " " <= c <= "~":
            out.append("".join("%%%02X" % b
                               for b in c.encode("utf-8", "surrogateescape")))
        else:
            out.append(c)
    return "".join(out)


def ipv4_number(part):
    if part[:2] in ("0x", "0X"):
        digits, radix = part[2:], 16
    elif len(part) > 1 and part[0] == "0":
        digits, radix = part[1:], 8
    else:
        digits, radix = part, 10
    if digits == "":
        return 0 if part else None
    try:
        return int(digits, radix) if re.fullmatch(r"[0-9a-fA-F]+", digits) else None
    except ValueError:
        return None


def ends_in_number(host):
    parts = host.split(".")
    if parts[-1] == "" and len(parts) > 1:
        parts.pop()
    last = parts[-1]
    return last.isascii() and (last.isdigit() or re.fullmatch(r"0[xX][0-9a-fA-F]*", last))


def parse_ipv4(host):
    parts = host.split(".")
    if parts[-1] == "" and len(parts) > 1:
        parts.pop()
    numbers = [ipv4_number(p) for p in parts]
    if len(parts) > 4 or None in numbers or any(n > 255 for n in numbers[:-1]) \
            or numbers[-1] >= 256 ** (5 - len(numbers)):
        return None
    value = numbers[-1]
    for i, n in enumerate(numbers[:-1]):
        value += n << (8 * (3 - i))
    return ".".join(str((value >> s) & 255) for s in (24, 16, 8, 0))


def serialize_ipv6(text):
    if "%" in text:  # no zone identifiers in URLs
        return None
    try:
        value = int(ipaddress.IPv6Address(text))
    except ValueError:
        return None
    pieces = [(value >> (16 * (7 - i))) & 0xFFFF for i in range(8)]
    # The first longest run of two or more zero pieces becomes "::".
    first, length = 0, 0
    for i in range(8):
        n = next((j for j in range(i, 8) if pieces[j]), 8) - i
        if n > length and n >= 2:
            first, length = i, n
    hexes = ["%x" % p for p in pieces]
    if length == 0:
        return "[" + ":".join(hexes) + "]"
    return "[" + ":".join(hexes[:first]) + "::" + ":".join(hexes[first + length:]) + "]"


def domain_to_ascii(domain):
    labels = domain.split(".")
    if domain.isascii() and not any(l.lower().startswith("xn--") for l in labels):
        return domain.lower()
    if idna is None:
        try:
            return domain.encode("idna").decode("ascii").lower()
        except UnicodeError:
            return None
    try:
        labels = idna.uts46_remap(domain, std3_rules=False,
                                  transitional=False).split(".")
        out = []
        for label in labels:
            if label.isascii():
                if label.startswith("xn--"):  # must decode, or the host fails
                    label[4:].encode("ascii").decode("punycode")
                out.append(label)
            else:
                out.append(idna.alabel(label).decode("ascii"))
        return ".".join(out)
    except (idna.IDNAError, UnicodeError):
        return None


def parse_host(text):
    if text.startswith("["):
        return serialize_ipv6(text[1:-1]) if text.endswith("]") else None
    raw = re.sub(rb"%([0-9A-Fa-f]{2})", lambda m: bytes([int(m[1], 16)]),
                 text.encode("utf-8", "surrogateescape"))
    ascii_host = domain_to_ascii(raw.decode("utf-8", "replace"))
    if not ascii_host or any(c in FORBIDDEN_HOST or c in "%\x7f" or c < " "
                             for c in ascii_host):
        return None
    return parse_ipv4(ascii_host) if ends_in_number(ascii_host) else ascii_host


class Url:
    def __init__(self, scheme, userinfo, host, port, path, query):
        self.scheme, self.userinfo, self.host = scheme, userinfo, host
        self.port, self.path, self.query = port, path, query

    def __str__(self):
        port = "" if self.port is None else ":%d" % self.port
        query = "" if self.query is None else "?" + self.query
        return "%s://%s%s%s%s%s" % (self.scheme, self.userinfo, self.host, port,
                                    "".join("/" + s for s in self.path), query)


def split_tail(s):
    """PATH?QUERY#FRAGMENT -> (path with "\\" as "/", query or None)."""
    s = s.split("#", 1)[0]
    path, mark, query = s.partition("?")
    return path.replace("\\", "/"), (query if mark else None)


def path_segments(path, s):
    """Appends the "/"-separated segments of s to path, removing dot segments."""
    parts = s.split("/")
    for i, seg in enumerate(parts):
        last = i == len(parts) - 1
        seg = percent_encode(seg, PATH_SET)
        low = seg.lower()
        if low in ("..", ".%2e", "%2e.", "%2e%2e"):
            if path:
                path.pop()
            if last:
                path.append("")
        elif low in (".", "%2e"):
            if last:
                path.append("")
        else:
            path.append(seg)
    return path


def with_tail(scheme, userinfo, host, port, path, query):
    if query is not None:
        query = percent_encode(query, QUERY_SET)
    return Url(scheme, userinfo, host, port, path, query)


def parse_authority(scheme, s):
    """s follows the slashes of "scheme://"."""
    end = re.search(r"[/\\?#]", s)
    authority, rest = (s[:end.start()], s[end.start():]) if end else (s, "")
    userinfo = ""
    if "@" in authority:
        info, authority = authority.rsplit("@", 1)
        user, _, password = info.partition(":")
        user = percent_encode(user, USERINFO_SET)
        password = percent_encode(password, USERINFO_SET)
        if user or password:
            userinfo = user + (":" + password if password else "") + "@"
    m = re.fullmatch(r"(\[[^\]]*\]?|[^:]*)(?::(.*))?", authority)
    if not m or m[1] == "":
        return None
    host = parse_host(m[1])
    port = m[2]
    if host is None or (port and not (port.isascii() and port.isdigit())):
        return None
    port = int(port) if port else None
    if port is not None and port > 65535:
        return None
    if port == DEFAULT_PORT[scheme]:
        port = None
    path, query = split_tail(rest)
    if path.startswith("/"):
        path = path[1:]
    return with_tail(scheme, userinfo, host, port, path_segments([], path), query)


def parse_relative(s, base):
    if s[:1] in ("/", "\\"):
        if s[1:2] in ("/", "\\"):
            return parse_authority(base.scheme, s.lstrip("/\\"))
        path, query = split_tail(s[1:])
        return with_tail(base.scheme, base.userinfo, base.host, base.port,
                         path_segments([], path), query)
    if s[:1] == "?":
        return with_tail(base.scheme, base.userinfo, base.host, base.port,
                         list(base.path), split_tail(s)[1])
    if s[:1] in ("#", ""):
        return Url(base.scheme, base.userinfo, base.host, base.port,
                   list(base.path), base.query)
    path, query = split_tail(s)
    return with_tail(base.scheme, base.userinfo, base.host, base.port,
                     path_segments(list(base.path[:-1]), path), query)


SCHEME = re.compile(r"([A-Za-z][A-Za-z0-9+.\-]*):")


def parse_url(s, base):
    """The URL Standard's basic URL parser for http(s) results. base is a Url
    or None (a base of another scheme, under which a relative URL resolves to
    that scheme). Returns a Url, or None for failure or another scheme."""
    s = "".join(c for c in s.strip("".join(map(chr, range(33))))
                if c not in "\t\n\r")
    m = SCHEME.match(s)
    if m:
        scheme = m[1].lower()
        if scheme not in DEFAULT_PORT:
            return None
        rest = s[m.end():]
        if base is not None and base.scheme == scheme and not rest.startswith("//"):
            return parse_relative(rest, base)
        return parse_authority(scheme, rest.lstrip("/\\"))
    return parse_relative(s, base) if base is not None else None


def srcset_urls(value):
    """The URLs of the candidates the HTML standard's srcset parser keeps."""
    pos, n, urls = 0, len(value), []
    while True:
        while pos < n and (value[pos] in ASCII_WS or value[pos] == ","):
            pos += 1
        if pos >= n:
            return urls
        start = pos
        while pos < n and value[pos] not in ASCII_WS:
            pos += 1
        url = value[start:pos]
        descriptors = []
        if url.endswith(","):
            url = url.rstrip(",")
        else:
            while pos < n and value[pos] in ASCII_WS:
                pos += 1
            current, parens = "", False
            while pos < n:
                c = value[pos]
                pos += 1
                if parens:
                    current += c
                    parens = c != ")"
                elif c in ASCII_WS:
                    if current:
                        descriptors.append(current)
                    current = ""
                elif c == ",":
                    break
                else:
                    current += c
                    parens = c == "("
            if current:
                descriptors.append(current)
        if descriptors_valid(descriptors):
            urls.append(url)


FLOAT = re.compile(r"-?(?:[0-9]+(?:\.[0-9]+)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")


def descriptors_valid(descriptors):
    seen = set()
    for d in descriptors:
        kind, number = d[-1:], d[:-1]
        if kind in seen or kind not in ("w", "x", "h"):
            return False
        if kind == "x":
            if not FLOAT.fullmatch(number) or float(number) < 0:
                return False
        elif not number.isascii() or not number.isdigit() or int(number) == 0:
            return False
        seen.add(kind)
    return not ({"w", "x"} <= seen or ("h" in seen and "w" not in seen))


def refresh_url(content):
    """The URL of the HTML standard's declarative refresh, or None for none."""
    m = re.match(r"[\t\n\f\r ]*([0-9]*)", content)
    if m[1] == "" and content[m.end():m.end() + 1] != ".":
        return None
    rest = content[re.compile(r"[0-9.]*").match(content, m.end()).end():]
    if rest:
        if rest[0] not in ";," + ASCII_WS:
            return None
        rest = rest.lstrip(ASCII_WS)
        if rest[:1] in (";", ","):
            rest = rest[1:].lstrip(ASCII_WS)
    if not rest:
        return None
    if rest[0] in "uU":
        # "url=" is optional, but a "u" not starting it begins the URL.
        m = re.match(r"[uU][rR][lL][\t\n\f\r ]*=[\t\n\f\r ]*", rest)
        if not m:
            return rest
        rest = rest[m.end():]
    if rest[:1] in ("'", '"'):
        rest = rest[1:].split(rest[0], 1)[0]
    return rest


def links(tokens):
    """(kind, element, attribute, raw value) for each link, in order."""
    for token in tokens:
        if token["type"] not in ("StartTag", "EmptyTag"):
            continue
        name, attrs = token["name"], plain_attrs(token)
        for attr, value in attrs.items():
            if (name, attr) in PAGE_LINKS:
                yield "page", name, attr, value
            elif (name, attr) in FILE_LINKS:
                yield "file", name, attr, value
            elif attr == "srcset" and name in SRCSET_ELEMENTS:
                for url in srcset_urls(value):
                    yield "file", name, attr, url
            elif name == "meta" and attr == "content" and \
                    attrs.get("http-equiv", "").lower() == "refresh":
                url = refresh_url(value)
                if url is not None:
                    yield "page", name, attr, url


def document_base(tokens, page):
    """The first <base href>, resolved against the page's URL; the page's
    URL when it fails or is data:/javascript:; None for another scheme."""
    for token in tokens:
        if token["type"] in ("StartTag", "EmptyTag") and token["name"] == "base" \
                and token["namespace"] == "http://www.w3.org/1999/xhtml":
            href = plain_attrs(token).get("href")
            if href is None:
                continue
            url = parse_url(href, page)
            if url is not None:
                return url
            m = SCHEME.match(href.strip("".join(map(chr, range(33)))))
            if m and m[1].lower() not in ("http", "https", "data", "javascript"):
                return None
            return page
    return page


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: oracle_links.py FILE BASE_URL")
    page = parse_url(sys.argv[2], None)
    if page is None:
        sys.exit("oracle_links.py: BASE_URL must be an absolute http(s) URL")
    utf8_stdout()
    tokens = list(walk(sys.argv[1]))
    base = document_base(tokens, page)
    for kind, element, attr, value in links(tokens):
        if value.strip(ASCII_WS) == "":
            continue
        url = parse_url(value, base)
        if url is not None:
            print("%s\t%s\t%s\t%s" % (kind, element, attr, url))


if __name__ == "__main__":
    main()
