"""A site spread over the 8 loopback hosts 127.0.0.2 to 127.0.0.9.

Each host serves pages p0.html to p5.html; every page mentions "ferret"
and links the next page of its own host and two pages of other hosts, so
that a crawl from one page crosses every host, and shards, many times.
Every request is logged as (host, path), and answered after delay seconds
(a network's round trip, for timings). Serves on threads of this process
until close().
"""
import http.server
import socketserver
import threading
import time

HOSTS = ["127.0.0.%d" % n for n in range(2, 10)]
PAGES = 6


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = False
    block_on_close = True


class EightHostSite:
    def __init__(self, delay=0.0):
        self.lock = threading.Lock()
        self.log = []
        self.servers = []
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                host = self.server.server_address[0]
                with site.lock:
                    site.log.append((host, self.path))
                if delay:
                    time.sleep(delay)
                body = site.page(host, self.path)
                self.send_response(200 if body is not None else 404)
                self.send_header("Content-Type", "text/html" if body else "text/plain")
                data = (body or "no\n").encode()
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *args):
                pass

        for host in HOSTS:
            self.servers.append(_Server((host, 0), Handler))
        self.threads = [threading.Thread(target=s.serve_forever) for s in self.servers]
        for thread in self.threads:
            thread.start()

    def url(self, host_index, page):
        server = self.servers[host_index]
        return "http://%s:%d/p%d.html" % (server.server_address[0], server.server_address[1], page)

    def page(self, host, path):
        h = HOSTS.index(host)
        if not path.startswith("/p") or not path.endswith(".html"):
            return None
        try:
            i = int(path[2:-5])
        except ValueError:
            return None
        if not 0 <= i < PAGES:
            return None
        links = [self.url(h, (i + 1) % PAGES), self.url((h + 1) % 8, i),
                 self.url((h * 3 + i + 2) % 8, (i + 2) % PAGES)]
        return "<p>ferret %s %d</p>\n%s\n" % (host, i, "\n".join(
            '<a href="%s">next</a>' % link for link in links))

    def pages(self):
        return {(host, "/p%d.html" % i) for host in HOSTS for i in range(PAGES)}

    def take_log(self):
        with self.lock:
            log, self.log = self.log, []
        return log

    def close(self):
        for server in self.servers:
            server.shutdown()
            server.server_close()
        for thread in self.threads:
            thread.join()
