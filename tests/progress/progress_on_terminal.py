#!/usr/bin/env python3
"""The progress line on a terminal: drawn while a crawl runs, and gone from
the final screen, which reads exactly as the output without a terminal.

usage: progress_on_terminal.py FERRET_BINARY SITE_DIR
Serves SITE_DIR on 127.0.0.1 with a short delay per request (so that the
crawl lasts long enough for the line to be drawn), crawls it once with plain
pipes and once under a pseudo-terminal, and compares.
"""
import fcntl
import functools
import http.server
import os
import pty
import struct
import subprocess
import sys
import termios
import threading
import time


class SlowHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        time.sleep(0.03)
        super().do_GET()


def screen_text(raw):
    """What a terminal shows after raw: CR goes to the line's start, LF to a
    new line, ESC [ K erases to the line's end."""
    lines, line, col = [], [], 0
    i = 0
    while i < len(raw):
        if raw.startswith("\x1b[K", i):
            del line[col:]
            i += 3
            continue
        c = raw[i]
        if c == "\r":
            col = 0
        elif c == "\n":
            lines.append("".join(line))
            line, col = [], 0
        else:
            if col < len(line):
                line[col] = c
            else:
                line.append(c)
            col += 1
        i += 1
    if line:
        lines.append("".join(line))
    return "\n".join(lines) + "\n"


def run_on_terminal(argv):
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    attrs = termios.tcgetattr(slave)
    attrs[1] &= ~termios.ONLCR  # LF stays LF, as in a pipe
    termios.tcsetattr(slave, termios.TCSANOW, attrs)
    child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=slave, stderr=slave)
    os.close(slave)
    chunks = []
    while True:
        try:
            data = os.read(master, 65536)
        except OSError:
            break
        if not data:
            break
        chunks.append(data)
    status = child.wait(timeout=120)
    os.close(master)
    return status, b"".join(chunks).decode("utf-8", "replace")


def main():
    binary, site = sys.argv[1], sys.argv[2]
    handler = functools.partial(SlowHandler, directory=site)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = "http://127.0.0.1:%d/" % server.server_address[1]
    argv = [binary, url, "-f", ".", "-d", "3", "-print", "-stat"]
    try:
        plain = subprocess.run(argv, capture_output=True, text=True, timeout=120)
        status, raw = run_on_terminal(argv)
    finally:
        server.shutdown()
    failures = []
    if plain.returncode != 0 or plain.stderr:
        failures.append("plain run: status %d, stderr %r" % (plain.returncode, plain.stderr))
    if "\x1b[K" in plain.stdout or "pages " in plain.stdout:
        failures.append("plain run carries progress output")
    if status != 0:
        failures.append("terminal run: status %d" % status)
    if "\x1b[K" not in raw or "] pages " not in raw:
        failures.append("no progress line was drawn on the terminal")
    screen = screen_text(raw)
    if screen != plain.stdout:
        failures.append("final screen differs:\n--- screen\n%s--- plain\n%s" % (screen, plain.stdout))
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("ok: progress drawn %d times; final screen equals the plain output (%d lines)"
              % (raw.count("] pages "), plain.stdout.count("\n")))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
