#!/usr/bin/env python3
"""A calendar feed over HTTPS on 127.0.0.1 for the fetch tests, with a certificate
authority of its own. Usage: feed_server.py FOLDER PORT (0: any; the port it got is
written to FOLDER/port, the plain-http one's to FOLDER/http-port).

What it answers is read from FOLDER/mode at each request:
  feed NAME  FOLDER/NAME, ETag "NAME"; 304 when If-None-Match names it
  inject     FOLDER/b.ics, with an ETag and a Last-Modified holding a bare CR and a
             header of their own after it; a request carrying that header gets a 400
  hang       reads the request and never answers
  endless    a calendar's start, then lines without end
  huge       a calendar announced as 1 GiB
  loop       a redirect to itself
  tohttp     a redirect to http:// (which serves FOLDER/other.ics)
  tofile     a redirect to file://FOLDER/other.ics
  gzip       Content-Encoding: gzip, 64 MiB of calendar in 64 KiB
  expired    the handshake with a certificate that expired ten days ago
  otherhost  the handshake with a certificate for another host (other.example)
  query NAME    a redirect to ?token=moved, which serves NAME as feed does
  fragment NAME a redirect to /dir/feed.ics, and from there to moved.ics#part beside it,
                which serves NAME as feed does
  trickle    a header line every two seconds, without end
Each request is counted in FOLDER/log. It ends when FOLDER/stop appears (removing it),
when FOLDER goes, or after ten minutes: under Wine, whose CreateProcess starts it, the
test has no handle to end it by.

The server's certificate names 127.0.0.1 as a DNS name too: Wine's certificate checks
match the host against DNS names only."""
import gzip
import http.server
import os
import ssl
import subprocess
import sys
import threading
import time

folder, port = sys.argv[1], int(sys.argv[2])


def path(name):
    return os.path.join(folder, name)


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=folder)


# Dates set by the authority, a day or more before now, and RSA keys. With EC keys,
# certificates dated this second and an expired one made under faketime, a run failed
# now and then: Wine refused the chain, or openssl under faketime ended in an error.
AUTHORITY = """[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
[authority]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = CA:FALSE
subjectAltName = IP:127.0.0.1, DNS:127.0.0.1
[other]
basicConstraints = CA:FALSE
subjectAltName = DNS:other.example
"""


def make_authority():
    if os.path.exists(path("ca.pem")):
        return
    with open(path("ca.cnf"), "w") as out:
        out.write(AUTHORITY)
    open(path("index.txt"), "w").close()
    with open(path("serial"), "w") as out:
        out.write("01\n")
    day = lambda n: time.strftime("%Y%m%d%H%M%SZ", time.gmtime(time.time() + n * 86400))
    key = ["-newkey", "rsa:2048", "-nodes"]
    sign = ["ca", "-batch", "-notext", "-config", "ca.cnf", "-keyfile", "ca.key"]
    openssl("req", "-new", *key, "-keyout", "ca.key", "-out", "ca.csr", "-subj", "/CN=Feed Test CA")
    openssl(*sign, "-selfsign", "-in", "ca.csr", "-out", "ca.pem", "-extensions", "authority",
            "-startdate", day(-2), "-enddate", day(3))
    openssl("req", "-new", *key, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    for name, since, until, names in (("server.pem", -1, 2, "server"), ("expired.pem", -12, -10, "server"),
                                      ("otherhost.pem", -1, 2, "other")):
        openssl(*sign, "-cert", "ca.pem", "-in", "server.csr", "-out", name, "-extensions", names,
                "-startdate", day(since), "-enddate", day(until))


def context(cert):
    made = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    made.load_cert_chain(path(cert), path("server.key"))
    return made


def mode():
    with open(path("mode")) as text:
        return text.read().split()


bomb = []


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, headers=(), body=b""):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if body:
            self.wfile.write(body)

    def do_GET(self):
        injected = "X-Injected" in self.headers
        with open(path("log"), "a") as log:
            log.write(self.path + (" X-Injected" if injected else "") + "\n")
        what = mode()
        if injected:
            return self.answer(400)
        # Each calendar's address moved to another query of its own path, or to one
        # address in a folder and from there to one beside it, with a fragment; a client
        # that resolves them wrongly asks again.
        if what[0] == "query":
            if self.path not in ("/feed.ics?token=moved", "/new.ics?token=moved"):
                return self.answer(302, [("Location", "?token=moved")])
            what = ["feed", what[1]]
        if what[0] == "fragment":
            if self.path != "/dir/moved.ics":
                return self.answer(302, [("Location", "moved.ics#part" if self.path.startswith("/dir/") else "/dir/feed.ics")])
            what = ["feed", what[1]]
        if what[0] == "trickle" and not self.path.startswith("/feed.ics"):
            what = ["feed", "b.ics"]
        if self.server.plain:
            with open(path("other.ics"), "rb") as other:
                return self.answer(200, [("Content-Length", str(os.path.getsize(path("other.ics"))))], other.read())
        if what[0] == "feed":
            tag = '"%s"' % what[1]
            if self.headers.get("If-None-Match") == tag:
                return self.answer(304, [("ETag", tag)])
            with open(path(what[1]), "rb") as feed:
                body = feed.read()
            return self.answer(200, [("ETag", tag), ("Last-Modified", "Mon, 07 Dec 2026 06:00:00 GMT"),
                                     ("Content-Length", str(len(body)))], body)
        if what[0] == "inject":
            with open(path("b.ics"), "rb") as feed:
                body = feed.read()
            return self.answer(200, [("ETag", '"i"\rX-Injected: 1'), ("Content-Length", str(len(body))),
                                     ("Last-Modified", "Mon, 07 Dec 2026 06:00:00 GMT\rX-Injected: 2")], body)
        if what[0] == "hang":
            time.sleep(600)
        if what[0] == "trickle":
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            for line in range(300):
                time.sleep(2)
                self.wfile.write(b"X-Wait-%d: 1\r\n" % line)
        start = b"BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n"
        if what[0] == "endless":
            self.answer(200)
            line = b"COMMENT:" + b"x" * 65000 + b"\r\n"
            self.wfile.write(start)
            while True:
                self.wfile.write(line)
        if what[0] == "huge":
            self.answer(200, [("Content-Length", str(1 << 30))])
            line = b"COMMENT:" + b"x" * 65000 + b"\r\n"
            self.wfile.write(start)
            for _ in range((1 << 30) // len(line)):
                self.wfile.write(line)
        if what[0] == "loop":
            return self.answer(302, [("Location", "/feed.ics")])
        if what[0] == "tohttp":
            with open(path("http-port")) as other:
                return self.answer(302, [("Location", "http://127.0.0.1:%s/feed.ics" % other.read())])
        if what[0] == "tofile":
            return self.answer(302, [("Location", "file://" + path("other.ics"))])
        if what[0] == "gzip":
            if not bomb:
                with open(path("other.ics"), "rb") as other:
                    text = other.read().replace(b"END:VCALENDAR", b"COMMENT:" + b"x" * (64 << 20) + b"\r\nEND:VCALENDAR")
                bomb.append(gzip.compress(text, 9))
            return self.answer(200, [("Content-Encoding", "gzip"), ("Content-Length", str(len(bomb[0])))], bomb[0])


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    plain = False

    def get_request(self):
        connection, address = self.socket.accept()
        if self.plain:
            return connection, address
        connection.settimeout(10)
        cert = {"expired": "expired.pem", "otherhost": "otherhost.pem"}.get(mode()[0], "server.pem")
        return context(cert).wrap_socket(connection, server_side=True), address

    def handle_error(self, request, address):
        pass


def watch():
    for _ in range(12000):
        if os.path.exists(path("stop")) or not os.path.isdir(folder):
            break
        time.sleep(0.05)
    try:
        os.remove(path("stop"))
    except OSError:
        pass
    os._exit(0)


make_authority()
threading.Thread(target=watch, daemon=True).start()
plain = Server(("127.0.0.1", 0), Handler)
plain.plain = True
with open(path("http-port"), "w") as out:
    out.write(str(plain.server_address[1]))
threading.Thread(target=plain.serve_forever, daemon=True).start()
secure = Server(("127.0.0.1", port), Handler)
with open(path("port.tmp"), "w") as out:
    out.write(str(secure.server_address[1]))
os.replace(path("port.tmp"), path("port"))
secure.serve_forever()
