"""The FastCGI driver driven directly, as a FastCGI server drives it
(fastcgi.py): applet.fcgi's pages against applet.cgi's for the same
requests, the request state of one request never seen by the next, clients
that go away, SIGTERM, and what a child of the application inherits.  Every
process must exit with status 0 on SIGTERM, which in the sanitizer build
means the leak checker found nothing."""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import fastcgi
from common import APPLET, HOSTILE, ORDINARY, ROOT, collect_descendants, query

APPLET_FCGI = os.environ.get("APPLET_FCGI", os.path.join(ROOT, "build", "app", "applet.fcgi"))
PROBE = os.environ.get("PROBE_FCGI", os.path.join(ROOT, "build", "tests", "e2e_probe"))
FORM = "application/x-www-form-urlencoded"
# Meta-variables in the process environment, which no request may see.
BAIT = {"SERVER_NAME": "from-the-environment", "QUERY_STRING": "bait=1", "HTTP_COOKIE": "c=bait",
        "REQUEST_METHOD": "POST", "CONTENT_TYPE": FORM, "CONTENT_LENGTH": "3"}
NAMES = ["SERVER_SOFTWARE", "SERVER_NAME", "GATEWAY_INTERFACE", "SERVER_PROTOCOL", "SERVER_PORT",
         "REQUEST_METHOD", "PATH_INFO", "PATH_TRANSLATED", "SCRIPT_NAME", "QUERY_STRING",
         "REMOTE_HOST", "REMOTE_ADDR", "AUTH_TYPE", "REMOTE_USER", "REMOTE_IDENT",
         "CONTENT_TYPE", "HTTP_ACCEPT", "HTTP_USER_AGENT"]


def get(pairs, **params):
    return {"REQUEST_METHOD": "GET", "QUERY_STRING": query(pairs), **params}


def post(body, content_type=FORM, length=None, method="POST", **params):
    return {"REQUEST_METHOD": method, "CONTENT_TYPE": content_type,
            "CONTENT_LENGTH": str(len(body) if length is None else length), **params}


def b(text):
    return text.encode()


def responder(program):
    return fastcgi.Responder(program, dict(os.environ, **BAIT))


# Decoding and page cases: (params, body, label).  applet.fcgi must answer
# each with applet.cgi's bytes, and with -1 where applet.cgi exits with -1.
BREAKS = [(b"name", b"a\r\nb\r\rc\nd\n\r\ne\r"), (b"idApp", b"\r\n\r\n"), (b"idGrp", b"\x01\0x")]
PAGE_CASES = [
    (get(ORDINARY), b"", "GET"),
    (get([]), b"", "no form data"),
    ({"REQUEST_METHOD": "GET"}, b"", "no QUERY_STRING"),
    (get(HOSTILE), b"", "hostile values"),
    (get([(b"name", b"n" * 60), (b"idApp", b"1234567890ab"), (b"idGrp", b"&" * 12)]), b"",
     "cut to 49, 9 and 9 bytes"),
    (get([(b"name", b"first"), (b"name", b"second"), (b"Name", b"x")]), b"", "first of two"),
    ({"REQUEST_METHOD": "get", "QUERY_STRING": "name=a+b%2Bc%25d&idApp=%e9%C3%A9&idGrp=a=b%",
      "CONTENT_LENGTH": "99"}, b"", "raw escapes, lower-case method, a length ignored"),
    (post(b(query(HOSTILE))), b(query(HOSTILE)), "POST"),
    (post(b(query(BREAKS)), "Application/X-WWW-Form-URLEncoded", method="Post",
          QUERY_STRING=query(ORDINARY)), b(query(BREAKS)), "mixed case; the query not read"),
    (post(b"name=Ada", FORM + "; charset=UTF-8"), b"name=Ada", "a parameter: not decoded"),
    (post(b"name=Ada", "multipart/form-data; boundary=x"), b"name=Ada", "other type: not read"),
    (post(b"name=Ada&pad=" + b"x" * 200000), b"name=Ada&pad=" + b"x" * 200000, "a large body"),
    (post(b"name=Ada", length=100), b"name=Ada", "a body shorter than announced"),
    (post(b"name=Ada", length=-1), b"name=Ada", "a negative length"),
    (post(b"name=Ada", length=""), b"name=Ada", "an empty length"),
    (post(b"name=Ada", method="POST "), b"name=Ada", "a method with a blank"),
    ({"REQUEST_METHOD": "HEAD", "QUERY_STRING": query(ORDINARY)}, b"", "HEAD"),
    ({"REQUEST_METHOD": "PUT", "QUERY_STRING": query(ORDINARY)}, b"", "PUT"),
]


def cgi_runs(cases):
    """applet.cgi's standard output and exit status for each case, the runs
    started all at once (each pauses a second after its output)."""
    runs = []
    for params, body, _ in cases:
        stdin = tempfile.TemporaryFile()
        stdin.write(body)
        stdin.seek(0)
        runs.append(subprocess.Popen([APPLET], env=params, stdin=stdin, stdout=subprocess.PIPE))
        stdin.close()
    try:
        return [(run.stdout.read(), run.wait(60)) for run in runs]
    finally:
        for run in runs:
            run.kill()
            run.wait()
            run.stdout.close()
        collect_descendants()


def report(params, fields=(), cookie=None, first=""):
    """The probe's report for a request with these parameters."""
    lines = [first] if first else []
    lines += [f"{name}={params.get(name, '')}" for name in NAMES]
    length = params.get("CONTENT_LENGTH", "0") or "0"
    if params.get("REQUEST_METHOD") == "GET":
        length = str(len(params.get("QUERY_STRING", "")))
    lines.append(f"CONTENT_LENGTH={length}")
    if cookie is not None:
        lines.append(f"cookie c={cookie}")
    lines += [f"field {name}={value}" for name, value in fields]
    return ("Content-type: text/plain\n\n" + "".join(line + "\n" for line in lines)).encode()


UPLOAD = (b"--B\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhello\r\n"
          b"--B\r\nContent-Disposition: form-data; name=\"photo\"; filename=\"a.txt\"\r\n"
          b"Content-Type: text/plain\r\n\r\nfile content\r\n"
          b"--B\r\nContent-Disposition: form-data; name=\"photo\"; filename=\"b.txt\"\r\n"
          b"\r\nb\r\n--B--\r\n")
FULL = {**{name: name.lower() + "-value" for name in NAMES}, "REQUEST_METHOD": "GET",
        "QUERY_STRING": "name=Ada&idApp=7", "PATH_INFO": "", "HTTP_COOKIE": "a=1; c=full"}


class Driver(unittest.TestCase):
    def test_pages_are_those_of_the_cgi_program(self):
        expected = cgi_runs(PAGE_CASES)
        with responder(APPLET_FCGI) as app:
            for (params, body, label), (out, status) in zip(PAGE_CASES, expected):
                with self.subTest(label):
                    reply = app.request(params, body)
                    self.assertEqual(reply.stdout, out)
                    self.assertEqual(reply.app_status, -1 if status == 255 else status)
                    self.assertEqual(reply.protocol_status, 0)
            self.assertEqual(app.stop(), 0)

    def test_nothing_of_one_request_is_seen_by_the_next(self):
        with tempfile.TemporaryDirectory() as scratch:
            capture = os.path.join(scratch, "capture")
            upload = post(UPLOAD, "multipart/form-data; boundary=B", PATH_INFO="/upload")
            kinds = [
                ("every variable, a cookie, a query", FULL, b"",
                 report(FULL, [("name", "Ada"), ("idApp", "7")], "full")),
                ("no variable but the method", {"REQUEST_METHOD": "GET"}, b"",
                 report({"REQUEST_METHOD": "GET"})),
                ("a POST body", post(b"name=Bob&x="), b"name=Bob&x=",
                 report(post(b"name=Bob&x="), [("name", "Bob"), ("x", "")])),
                ("a replay", get([(b"path", b(capture))], PATH_INFO="/replay"), b"", None),
                ("an upload", upload, UPLOAD, report(upload, [
                    ("note", "hello"), ("photo", "a.txt file a.txt 12 file content"),
                    ("photo", "b.txt file b.txt 1 b")],
                    first="multipart 0")),
                ("walks it never started", get([], PATH_INFO="/next"), b"",
                 report(get([], PATH_INFO="/next"), first="next 0 0")),
                ("no upload after one", get([], PATH_INFO="/upload"), b"",
                 report(get([], PATH_INFO="/upload"), first="multipart 1")),
            ]
            with responder(PROBE) as app:
                captured = dict(FULL, PATH_INFO="/capture",
                                QUERY_STRING=query([(b"path", b(capture)), (b"name", b"Cy")]))
                reply = app.request(captured)
                self.assertEqual(reply.stdout, report(captured, [("path", capture), ("name", "Cy")],
                                                      "full", first="capture 2"))
                # A replay: the captured variables and fields, no cookie.
                replayed = report(captured, [("path", capture), ("name", "Cy")], first="replay 2")
                kinds[3] = kinds[3][:3] + (replayed,)
                for i in range(10000):
                    label, params, body, expected = kinds[i % len(kinds)]
                    reply = app.request(params, body)
                    if reply.stdout != expected or reply.app_status != 0:
                        self.fail(f"request {i} ({label}): status {reply.app_status}\n"
                                  f"{reply.stdout.decode(errors='replace')}\n"
                                  f"instead of\n{expected.decode(errors='replace')}")
                self.assertEqual(app.stop(), 0)
                # At exit no variable refers to the last request any more.
                self.assertEqual(app.output("stderr"), report({})[len(b"Content-type: text/plain\n\n"):])

    def test_clients_that_go_away(self):
        # Each one ends its connection early; the process answers the next
        # request as ever.
        def cut_body(sock):
            sock.sendall(fastcgi.begin() + fastcgi.stream(fastcgi.PARAMS, 1, fastcgi.encode_params(
                post(b"", length=1000))) + fastcgi.record(fastcgi.STDIN, 1, b"name=Ada&"))

        def aborted(sock):
            cut_body(sock)
            sock.sendall(fastcgi.record(fastcgi.ABORT_REQUEST, 1))
            time.sleep(0.1)

        def big_page_unread(sock):
            sock.sendall(fastcgi.message(get([(b"size", b"8000000")], PATH_INFO="/big")))
            sock.recv(100)

        def nothing(sock):
            pass

        with responder(PROBE) as app:
            for action in (cut_body, aborted, big_page_unread, nothing, cut_body):
                with self.subTest(action.__name__):
                    with app.connect() as sock:
                        action(sock)
                    reply = app.request(get([(b"name", b"next")], PATH_INFO="/status"))
                    self.assertEqual(reply.app_status, 0)
                    self.assertIn(b"field name=next\n", reply.stdout)
            self.assertEqual(app.stop(), 0)

    def test_status_is_the_result_of_cgi_main(self):
        with responder(PROBE) as app:
            for status in (0, 3, -7, 255):
                reply = app.request(get([(b"status", b(str(status)))], PATH_INFO="/status"))
                self.assertEqual(reply.app_status, status)
            self.assertEqual(app.stop(), 0)

    def test_a_stop_signal_finishes_the_request_in_progress(self):
        body = b(query(ORDINARY))
        for sig in (signal.SIGTERM, signal.SIGUSR1):
            with self.subTest(sig.name), responder(APPLET_FCGI) as app:
                with app.connect() as sock:
                    sock.sendall(fastcgi.begin() + fastcgi.stream(
                        fastcgi.PARAMS, 1, fastcgi.encode_params(post(body))) +
                        fastcgi.record(fastcgi.STDIN, 1, body[:5]))
                    time.sleep(0.2)
                    app.process.send_signal(sig)
                    time.sleep(0.2)
                    sock.sendall(fastcgi.stream(fastcgi.STDIN, 1, body[5:]))
                    reply = fastcgi.read_reply(sock)
                self.assertIn(b"<param name=Name value=Ada>\n", reply.stdout)
                self.assertEqual(reply.app_status, 0)
                self.assertEqual(app.process.wait(10), 0)

    def test_sigterm_while_waiting(self):
        # On a connection the server keeps open after requests on it, one
        # after the other; and in processes that share the socket, of
        # which only one can take a connection.
        with responder(APPLET_FCGI) as app:
            with app.connect() as sock:
                for i in range(4):
                    sock.sendall(fastcgi.message(get([(b"name", b(str(i)))]), keep=True))
                    self.assertIn(b"value=" + b(str(i)) + b">", fastcgi.read_reply(sock).stdout)
            with app.connect() as sock:
                sock.sendall(fastcgi.message(get(ORDINARY), keep=True))
                fastcgi.read_reply(sock)
                self.assertEqual(app.stop(10), 0)
        with fastcgi.Responder(APPLET_FCGI, copies=3) as app:
            for _ in range(300):
                self.assertEqual(app.request(get(ORDINARY)).app_status, 0)
            self.assertEqual(app.stop(10), [0, 0, 0])

    def test_children_inherit_no_socket(self):
        with responder(PROBE) as app:
            reply = app.request(get([], PATH_INFO="/shell"))
            self.assertTrue(reply.stdout.startswith(b"Content-type: text/plain\n\nshell 0\n"),
                            reply.stdout)
            listing = app.output("stdout").decode()
            self.assertRegex(listing, r"\s0 -> /dev/null\n", listing)
            self.assertNotIn("socket:", listing)
            self.assertEqual(app.stop(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2, argv=sys.argv[:1])
