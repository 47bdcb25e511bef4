"""applet.cgi and the header writers through a real lighttpd, as an HTTP
client sees them: status, headers and body of every response."""

import http.client
import os
import socket
import sys
import time
import unittest

from common import ROOT, Server, page, query

HEADERS_CGI = os.environ.get("HEADERS_CGI", os.path.join(ROOT, "build", "tests", "e2e_headers"))
ORDER_CGI = os.environ.get("ORDER_CGI", os.path.join(ROOT, "build", "examples", "order.cgi"))
VISITS_CGI = os.environ.get("VISITS_CGI", os.path.join(ROOT, "build", "examples", "visits.cgi"))
# Headers that lighttpd adds of its own; every other one comes from the program.
SERVER_HEADERS = {"date", "server", "content-length", "accept-ranges", "connection",
                  "transfer-encoding"}
FORM = "application/x-www-form-urlencoded"


def setUpModule():
    global server
    server = Server({"headers.cgi": HEADERS_CGI, "order.cgi": ORDER_CGI,
                     "visits.cgi": VISITS_CGI})
    server.__enter__()


def tearDownModule():
    server.__exit__(None, None, None)


def fetch(method, target, body=None, content_type=None, cookie=None):
    """Status, headers (name and value pairs, in order) and body of one request."""
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
    try:
        headers = {"Content-Type": content_type} if content_type else {}
        if cookie is not None:
            headers["Cookie"] = cookie
        connection.request(method, target, body=body, headers=headers)
        response = connection.getresponse()
        return response.status, response.getheaders(), response.read()
    finally:
        connection.close()


def program_headers(headers):
    return [(n, v) for n, v in headers if n.lower() not in SERVER_HEADERS]


def b(text):
    return text.encode()


ORDINARY = [(b"name", b"Ada"), (b"idApp", b"7"), (b"idGrp", b"3")]
HOSTILE = [
    (b"name", b'"><script>alert(1)</script><p title=\'x'),
    (b"idApp", b"a onclick=x"),
    (b"idGrp", b"&amp;`="),
]


class Applet(unittest.TestCase):
    def check(self, status, headers, body, pairs, label):
        self.assertEqual(status, 200, label)
        self.assertEqual(program_headers(headers), [("Content-type", "text/html")], label)
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
                self.check(*fetch("GET", "/cgi-bin/applet.cgi?" + query(pairs)), pairs, label)

    def test_raw_query(self):
        # Plus signs and escapes as a browser sends them.  (lighttpd rejects
        # escaped control bytes in a URL and rewrites malformed escapes, so
        # those go in POST bodies below.)
        raw = "name=a+b%2Bc%25d&idApp=%e9%C3%A9&idApp=2&idGrp=a=b"
        pairs = [(b"name", b"a b+c%d"), (b"idApp", b"\xe9\xc3\xa9"), (b"idGrp", b"a=b")]
        self.check(*fetch("GET", "/cgi-bin/applet.cgi?" + raw), pairs, raw)

    def test_post(self):
        breaks = [(b"name", b"a\r\nb\r\rc\nd\n\r\ne\r"), (b"idApp", b"\r\n\r\n"),
                  (b"idGrp", b"12345678\r\n")]
        controls = [(b"name", b"tab\there\fform feed"), (b"idApp", b"a\0b"), (b"idGrp", b"\x01")]
        cases = [
            (FORM, "", HOSTILE, HOSTILE, "URL-encoded body"),
            ("Application/X-WWW-Form-URLEncoded", "", HOSTILE, HOSTILE, "mixed-case type"),
            (FORM, "?" + query(ORDINARY), HOSTILE, HOSTILE, "the query string is not read"),
            (FORM, "", breaks, breaks, "line breaks"),
            (FORM, "", controls, controls, "control bytes"),
            (FORM + "; charset=UTF-8", "", HOSTILE, [], "a parameter leaves the body undecoded"),
            ("multipart/form-data; boundary=x", "?" + query(ORDINARY), HOSTILE, [],
             "other content type"),
        ]
        for content_type, target, sent, pairs, label in cases:
            with self.subTest(label):
                response = fetch("POST", "/cgi-bin/applet.cgi" + target, b(query(sent)),
                                 content_type)
                self.check(*response, pairs, label)

    def test_body_cut_short(self):
        # The client announces 100 bytes, sends 16 and stops sending: no page
        # may come back.
        with socket.create_connection(("127.0.0.1", server.port), timeout=10) as s:
            s.sendall(b"POST /cgi-bin/applet.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                      b"Connection: close\r\nContent-Type: " + b(FORM) + b"\r\n"
                      b"Content-Length: 100\r\n\r\nname=Ada&idApp=7")
            s.shutdown(socket.SHUT_WR)
            received = b""
            while chunk := s.recv(65536):
                received += chunk
        self.assertFalse(received.startswith(b"HTTP/1.1 2"), received)
        self.assertNotIn(b"<applet", received)

    def test_response_does_not_wait_for_the_pause(self):
        # The program sleeps one second after the page; it closes its output
        # first, so the response is complete long before.  Any one of three
        # tries under 0.75 s shows it; a program that kept its output open
        # could never give one.
        times = []
        for _ in range(3):
            start = time.monotonic()
            status, _, body = fetch("GET", "/cgi-bin/applet.cgi?" + query(ORDINARY))
            times.append(time.monotonic() - start)
            self.assertEqual((status, body), (200, page(ORDINARY)))
            if times[-1] < 0.75:
                return
        self.fail(f"every response took the pause: {times}")


class Headers(unittest.TestCase):
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
                got_status, headers, body = fetch("POST", "/cgi-bin/headers.cgi", b(form), FORM)
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


class Examples(unittest.TestCase):
    def test_order(self):
        cases = [
            ("size=large&quantity=3", 200, b"3 large\n"),
            ("size=huge", 400, b"Choose a size: small, medium or large.\n"),
        ]
        for target, status, body in cases:
            with self.subTest(target):
                response = fetch("GET", "/cgi-bin/order.cgi?" + target)
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
                status, headers, body = fetch("GET", "/cgi-bin/visits.cgi?" + query(
                    [(b"name", b(name))]), cookie=cookie)
                self.assertEqual(status, 200)
                self.assertEqual(program_headers(headers), [
                    ("Set-Cookie", f"visits={visit}; Max-Age=2592000; Path=/; HttpOnly; SameSite=Lax"),
                    ("Content-type", "text/html; charset=utf-8")])
                self.assertEqual(body, visits_page(greeting, visit, value))


if __name__ == "__main__":
    unittest.main(verbosity=2, argv=sys.argv[:1])
