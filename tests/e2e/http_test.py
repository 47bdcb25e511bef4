"""applet.cgi through every real web server set-up of servers.py (lighttpd,
Apache with mod_cgid and with mod_cgi, nginx with fcgiwrap), applet.fcgi
through every FastCGI set-up (nginx and Apache with spawn-fcgi, lighttpd
starting it), and the header writers through lighttpd, as an HTTP client
sees them: status, headers and body of every response."""

import http.client
import os
import re
import socket
import subprocess
import sys
import time
import unittest

from common import APPLET_FCGI, HOSTILE, ORDINARY, ROOT, SANITIZED, page, query
from servers import FASTCGI_SETUPS, SETUPS, Lighttpd

HEADERS_CGI = os.environ.get("HEADERS_CGI", os.path.join(ROOT, "build", "tests", "e2e_headers"))
ORDER_CGI = os.environ.get("ORDER_CGI", os.path.join(ROOT, "build", "examples", "order.cgi"))
VISITS_CGI = os.environ.get("VISITS_CGI", os.path.join(ROOT, "build", "examples", "visits.cgi"))
# Headers that the servers add of their own; every other one comes from the program.
SERVER_HEADERS = {"date", "server", "content-length", "accept-ranges", "connection",
                  "transfer-encoding", "keep-alive"}
FORM = "application/x-www-form-urlencoded"
MIB = 1024 * 1024


def fetch(port, method, target, body=None, headers=None):
    """Status, headers (name and value pairs, in order) and body of one request."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    try:
        connection.request(method, target, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.getheaders(), response.read()
    finally:
        connection.close()


def exchange(port, request, stop_sending=False):
    """Every byte the server sends back for the raw request, until it closes
    the connection; stop_sending shuts the client's side down after it."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(request)
        if stop_sending:
            s.shutdown(socket.SHUT_WR)
        received = b""
        while chunk := s.recv(65536):
            received += chunk
    return received


def program_headers(headers):
    return [(n, v) for n, v in headers if n.lower() not in SERVER_HEADERS]


def b(text):
    return text.encode()


class Applet:
    """The cases run through each set-up; a test class per set-up below."""

    setup = None

    @classmethod
    def setUpClass(cls):
        cls.server = cls.setup()
        cls.server.__enter__()
        cls.path = cls.server.applet_path

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def fetch(self, method, target, body=None, content_type=None, headers=None):
        headers = dict(headers or {}, **({"Content-Type": content_type} if content_type else {}))
        return fetch(self.server.port, method, target, body, headers)

    def check(self, status, headers, body, pairs, label):
        label = f"{self.setup.name}: {label}"
        self.assertEqual(status, 200, label)
        self.assertEqual([(n.lower(), v) for n, v in program_headers(headers)],
                         [("content-type", "text/html")], label)
        length = [v for n, v in headers if n.lower() == "content-length"]
        if length:
            self.assertEqual(length, [str(len(body))], label)
        self.assertEqual(body, page(pairs), label)

    def test_get(self):
        cases = [
            ([], "no query string"),
            (ORDINARY, "ordinary values"),
            ([(b"name", b"n" * 60), (b"idApp", b"1234567890ab"), (b"idGrp", b"x" * 12)],
             "cut to 49, 9 and 9 bytes"),
            ([(b"name", b"n" * 49), (b"idApp", b"123456789"), (b"idGrp", b"%" * 9)],
             "exactly 49, 9 and 9 bytes"),
            ([(b"name", b"first"), (b"name", b"second"), (b"idApp", b"1"), (b"idApp", b"2")],
             "repeated fields give the first"),
            (HOSTILE, "markup, quotes and references"),
            ([(b"idApp", b"a'b"), (b"idGrp", b"<")], "other unsafe bytes"),
            ([(b"name", "Grüße, 日本".encode()), (b"idApp", b"a/b.c-d")], "UTF-8 and safe bytes"),
            ([(b"name", b"&" * 20), (b"idApp", b"<" * 12)], "cut before escaping"),
        ]
        for pairs, label in cases:
            with self.subTest(label):
                self.check(*self.fetch("GET", self.path + "?" + query(pairs)), pairs, label)

    def test_raw_query(self):
        # Plus signs and escapes as a browser sends them.  (lighttpd rejects
        # escaped control bytes in a URL and rewrites malformed escapes, so
        # those go in POST bodies below.)
        raw = "name=a+b%2Bc%25d&idApp=%e9%C3%A9&idApp=2&idGrp=a=b"
        pairs = [(b"name", b"a b+c%d"), (b"idApp", b"\xe9\xc3\xa9"), (b"idGrp", b"a=b")]
        self.check(*self.fetch("GET", self.path + "?" + raw), pairs, raw)

    def test_post(self):
        breaks = [(b"name", b"a\r\nb\r\rc\nd\n\r\ne\r"), (b"idApp", b"\r\n\r\n"),
                  (b"idGrp", b"12345678\r\n")]
        controls = [(b"name", b"tab\there\fform feed"), (b"idApp", b"a\0b"), (b"idGrp", b"\x01")]
        # Over 1 MiB, the largest body nginx accepts unless told otherwise.
        large = HOSTILE + [(b"pad", b"x" * MIB)]
        cases = [
            (FORM, "", HOSTILE, HOSTILE, "URL-encoded body"),
            ("Application/X-WWW-Form-URLEncoded", "", HOSTILE, HOSTILE, "mixed-case type"),
            (FORM, "?" + query(ORDINARY), HOSTILE, HOSTILE, "the query string is not read"),
            (FORM, "", breaks, breaks, "line breaks"),
            (FORM, "", controls, controls, "control bytes"),
            (FORM, "", large, large, "a body over 1 MiB"),
            (FORM + "; charset=UTF-8", "", HOSTILE, [], "a parameter leaves the body undecoded"),
            ("multipart/form-data; boundary=x", "?" + query(ORDINARY), HOSTILE, [],
             "other content type"),
            ("multipart/form-data; boundary=x", "", large, [], "a large body left unread"),
        ]
        for content_type, target, sent, pairs, label in cases:
            with self.subTest(label):
                response = self.fetch("POST", self.path + target, b(query(sent)),
                                      content_type)
                self.check(*response, pairs, label)

    def test_chunked_post(self):
        # lighttpd and nginx collect the body and pass its CONTENT_LENGTH;
        # Apache passes none, so the program reads no body.  Either way the
        # whole form or none of it.
        sent = b(query(HOSTILE))
        # http.client sends a body of unknown length in chunks.
        chunks = iter([sent[:10], sent[10:11], sent[11:]])
        response = self.fetch("POST", self.path, chunks, FORM)
        passed = self.setup.chunked_body_passed
        if passed is None:  # either, by how much of it had come
            passed = response[2] == page(HOSTILE)
        self.check(*response, HOSTILE if passed else [], "chunked body")

    def test_head(self):
        # The program answers a HEAD request as any other method, without
        # decoding; the server sends the header without the body.
        received = exchange(self.server.port, b"HEAD " + b(self.path) + b"?" + b(query(ORDINARY)) +
                            b" HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
        head, _, body = received.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.assertRegex(lines[0], r"^HTTP/1\.1 200 ")
        self.assertIn(("content-type", "text/html"),
                      [(n.strip().lower(), v.strip()) for n, _, v in
                       (line.partition(":") for line in lines[1:])])
        self.assertEqual(body, b"")

    def test_body_cut_short(self):
        # The client announces 100 bytes, sends 16 and stops sending: no page
        # may come back.
        received = exchange(self.server.port,
                            b"POST " + b(self.path) + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                            b"Connection: close\r\nContent-Type: " + b(FORM) + b"\r\n"
                            b"Content-Length: 100\r\n\r\nname=Ada&idApp=7", stop_sending=True)
        self.assertFalse(received.startswith(b"HTTP/1.1 2"), received)
        self.assertNotIn(b"<applet", received)

    def test_response_does_not_wait_for_the_pause(self):
        # The program sleeps one second after the page; it releases its
        # standard input, output and error first, so the response is complete
        # long before.  Any one of three tries under 0.75 s shows it; a
        # program that kept one of them open could never give one.
        times = []
        for _ in range(3):
            start = time.monotonic()
            status, _, body = self.fetch("GET", self.path + "?" + query(ORDINARY))
            times.append(time.monotonic() - start)
            self.assertEqual((status, body), (200, page(ORDINARY)))
            if times[-1] < 0.75:
                return
        self.fail(f"{self.setup.name}: every response took the pause: {times}")


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"^VmRSS:\s+(\d+) kB", f.read(), re.M).group(1))


def ab(url, count):
    done = subprocess.run(["ab", "-q", "-k", "-s", "30", "-n", str(count), "-c", "8", url],
                          capture_output=True, text=True, timeout=600)
    if done.returncode != 0 or not re.search(r"^Failed requests:\s+0$", done.stdout, re.M) or \
            "Non-2xx" in done.stdout:
        raise AssertionError(f"ab {url}:\n{done.stdout}{done.stderr}")


# Requests for the long runs, and the memory that the FastCGI process may
# gain between the first and the last count.  The sanitizer build runs
# fewer, a tenth as many for the memory (each request costs many times as
# much there), with the leak checker on and AddressSanitizer's quarantine
# off (see servers.Fastcgi.environment).
ALTERNATING = 2000 if SANITIZED else 10000
MEMORY_COUNTS = (1000, 10000) if SANITIZED else (1000, 100000)
MEMORY_SLACK_KIB = 1024


class FastcgiApplet(Applet):
    """The applet cases, and those of a long-lived process, through each
    FastCGI set-up: requests that fail or go away leave it serving; no value
    of one request reaches another; its memory does not grow."""

    def setUp(self):
        self.processes = self.server.fastcgi_processes()
        self.assertTrue(self.processes, "no FastCGI process")

    def tearDown(self):
        self.assertEqual(self.server.fastcgi_processes(), self.processes,
                         "the FastCGI processes must serve on, not be started again")

    def page_works(self, pairs, label):
        self.check(*self.fetch("GET", self.path + "?" + query(pairs)), pairs, label)

    def test_clients_that_go_away(self):
        head = (b"POST " + b(self.path) + b" HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " +
                b(FORM) + b"\r\nContent-Length: 100000\r\n\r\n")
        cases = [
            (head + b"name=Ada&idApp=7", "in the middle of the body"),
            (head, "before the body"),
            (b"GET " + b(self.path) + b"?" + b(query(ORDINARY)) + b" HTTP/1.1\r\n"
             b"Host: 127.0.0.1\r\n\r\n", "before the response"),
        ]
        for request, label in cases:
            with self.subTest(label):
                with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as s:
                    s.sendall(request)
                time.sleep(0.2)
                self.page_works([(b"name", b(label))], label)

    def test_a_short_body_fails_and_the_next_request_succeeds(self):
        self.test_body_cut_short()
        self.page_works(ORDINARY, "after the body cut short")

    def test_alternating_forms(self):
        forms = [("GET", ORDINARY), ("POST", [(b"name", b"Bob"), (b"idGrp", b"<9>")])]
        connection = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=30)
        try:
            for i in range(ALTERNATING):
                method, pairs = forms[i % 2]
                if method == "GET":
                    connection.request("GET", self.path + "?" + query(pairs))
                else:
                    connection.request("POST", self.path, b(query(pairs)), {"Content-Type": FORM})
                response = connection.getresponse()
                body = response.read()
                if response.status != 200 or body != page(pairs):
                    self.fail(f"request {i}: {response.status}\n{body!r}")
                if response.getheader("Connection", "").lower() == "close":
                    connection.close()
        finally:
            connection.close()

    def test_memory_does_not_grow(self):
        url = self.server.url(self.path + "?" + query(ORDINARY))
        first, last = MEMORY_COUNTS
        ab(url, first)
        before = {pid: rss_kib(pid) for pid in self.processes}
        ab(url, last - first)
        after = {pid: rss_kib(pid) for pid in self.processes}
        for pid in self.processes:
            self.assertLessEqual(after[pid] - before[pid], MEMORY_SLACK_KIB,
                                 f"process {pid}: {before[pid]} KiB after {first} requests, "
                                 f"{after[pid]} KiB after {last}")


for _setup in SETUPS:
    _name = "Applet_" + _setup.name.replace("-", "_")
    globals()[_name] = type(_name, (Applet, unittest.TestCase), {"setup": _setup})
if os.path.exists(APPLET_FCGI):
    for _setup in FASTCGI_SETUPS:
        _name = "Applet_" + _setup.name.replace("-", "_")
        globals()[_name] = type(_name, (FastcgiApplet, unittest.TestCase), {"setup": _setup})


class ThroughLighttpd(unittest.TestCase):
    """Programs of the class's own through lighttpd."""

    programs = {}

    @classmethod
    def setUpClass(cls):
        cls.server = Lighttpd(cls.programs)
        cls.server.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)


class Headers(ThroughLighttpd):
    """The header writers."""

    programs = {"headers.cgi": HEADERS_CGI}

    def test_line_breaks_in_header_text_are_dropped(self):
        injected = "\r\nSet-Cookie: stolen=1\r\n\r\n<script>alert(1)</script>"
        cases = [
            ("type", "text/plain" + injected, 200,
             [("Content-type", "text/plainSet-Cookie: stolen=1<script>alert(1)</script>")]),
            ("location", "http://example.invalid/a" + injected, 302,
             [("Location", "http://example.invalid/aSet-Cookie: stolen=1<script>alert(1)</script>")]),
            ("status", "Denied" + injected, 403, []),
            ("status", "Denied", 403, []),
        ]
        for kind, text, status, expected in cases:
            with self.subTest(kind=kind, text=text):
                form = query([(b"kind", b(kind)), (b"text", b(text))])
                got_status, headers, body = fetch(self.server.port, "POST", "/cgi-bin/headers.cgi",
                                                  b(form), {"Content-Type": FORM})
                self.assertEqual(got_status, status)
                self.assertEqual(
                    [h for h in program_headers(headers) if h[0].lower() != "content-type"
                     or kind == "type"], expected)
                self.assertEqual(body, b"body\n")


def visits_page(greeting, visit, value):
    return ("<!DOCTYPE html>\n<html>\n<head><title>Visits</title></head>\n<body>\n"
            f"<p>Hello, {greeting}. This is visit {visit}.</p>\n"
            f"<form><input name=name value=\"{value}\"> <button>Again</button></form>\n"
            "</body>\n</html>\n").encode()


class Examples(ThroughLighttpd):
    programs = {"order.cgi": ORDER_CGI, "visits.cgi": VISITS_CGI}

    def test_order(self):
        cases = [
            ("size=large&quantity=3", 200, b"3 large\n"),
            ("size=huge", 400, b"Choose a size: small, medium or large.\n"),
        ]
        for target, status, body in cases:
            with self.subTest(target):
                response = fetch(self.server.port, "GET", "/cgi-bin/order.cgi?" + target)
                self.assertEqual(response[0], status)
                self.assertEqual(program_headers(response[1]), [("Content-type", "text/plain")])
                self.assertEqual(response[2], body)

    def test_visits(self):
        escaped = "&lt;b&gt;&quot;&#39;&amp;"
        cases = [
            (None, "", 1, "stranger", "", "no cookie"),
            ("visits=41", "<b>\"'&", 42, escaped, escaped, "the count and an escaped name"),
            ("a=1; visits=\"7\"; visits=9", "Ada", 8, "Ada", "Ada", "quoted, first of two"),
            ("visits=12345678", "", 1, "stranger", "", "too long: starts again"),
            ("visits=x", "", 1, "stranger", "", "not a number"),
        ]
        for cookie, name, visit, greeting, value, label in cases:
            with self.subTest(label):
                status, headers, body = fetch(
                    self.server.port, "GET", "/cgi-bin/visits.cgi?" + query([(b"name", b(name))]),
                    headers={} if cookie is None else {"Cookie": cookie})
                self.assertEqual(status, 200)
                self.assertEqual(program_headers(headers), [
                    ("Set-Cookie", f"visits={visit}; Max-Age=2592000; Path=/; HttpOnly; SameSite=Lax"),
                    ("Content-type", "text/html; charset=utf-8")])
                self.assertEqual(body, visits_page(greeting, visit, value))


if __name__ == "__main__":
    unittest.main(verbosity=2, argv=sys.argv[:1])
