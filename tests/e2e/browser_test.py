"""applet.cgi through a real lighttpd, read by a real browser: headless
Chromium, driven over its DevTools pipe, loads the pages and the test reads
back the DOM that the browser built.

The page declares no character set, so the browser guesses one for each page
(windows-1252 for most, another single-byte set for some short ones).  The
test asks the page which one it used (document.characterSet) and compares
each value with the bytes sent decoded the same way: equal text means the
browser got back exactly the bytes that were sent."""

import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

from common import ROOT, die_with_parent, field, query, values
from servers import Lighttpd

HTML_CGI = os.environ.get("HTML_CGI", os.path.join(ROOT, "build", "tests", "e2e_html"))
VISITS_CGI = os.environ.get("VISITS_CGI", os.path.join(ROOT, "build", "examples", "visits.cgi"))
UPLOAD_CGI = os.environ.get("UPLOAD_CGI", os.path.join(ROOT, "build", "examples", "upload.cgi"))

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-quic", "--remote-debugging-pipe"]

# What the page holds, element by element, with every attribute, as the DOM
# has it; with the text of the body and whether a script set a mark.
SUMMARY = """JSON.stringify({
  charset: document.characterSet,
  elements: Array.from(document.querySelectorAll('*'),
                       e => [e.localName, Array.from(e.attributes, a => [a.name, a.value])]),
  text: document.body ? document.body.textContent : null,
  injected: window.injected !== undefined,
})"""

# The elements of the body with their attributes and text, the character
# set, whether a script set a mark, and the cookies that scripts can see.
BODY = """JSON.stringify({
  charset: document.characterSet,
  elements: Array.from(document.querySelectorAll('body *'),
                       e => [e.localName, Array.from(e.attributes, a => [a.name, a.value]),
                             e.textContent]),
  injected: window.injected !== undefined,
  cookie: document.cookie,
})"""


class Browser:
    """Headless Chromium with a fresh profile and one page, driven through the
    DevTools protocol on file descriptors 3 (commands) and 4 (answers)."""

    def __init__(self):
        chromium = shutil.which("chromium") or shutil.which("chromium-browser")
        if not chromium:
            raise RuntimeError("chromium is missing: scripts/install-deps chromium")
        self.profile = tempfile.mkdtemp(prefix="cgi-e2e-chromium-")
        commands_r, self.commands = os.pipe()
        self.answers, answers_w = os.pipe()

        def pipes():
            die_with_parent()
            r, w = os.dup(commands_r), os.dup(answers_w)
            os.dup2(r, 3)
            os.dup2(w, 4)

        self.proc = subprocess.Popen(
            [chromium, *FLAGS, "--user-data-dir=" + self.profile, "about:blank"],
            preexec_fn=pipes, close_fds=False, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(commands_r)
        os.close(answers_w)
        self.pending, self.last_id = b"", 0
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]

    def call(self, method, session=None, timeout=20, **params):
        """Sends one command and returns its result; events are skipped."""
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            while b"\0" in self.pending:
                raw, self.pending = self.pending.split(b"\0", 1)
                answer = json.loads(raw)
                if answer.get("id") == self.last_id:
                    if "error" in answer:
                        raise RuntimeError(f"{method}: {answer['error']}")
                    return answer["result"]
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.answers], [], [], left)[0]:
                raise TimeoutError(method)
            chunk = os.read(self.answers, 1 << 16)
            if not chunk:
                raise RuntimeError("chromium ended")
            self.pending += chunk

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", session=self.session, expression=expression,
                           returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError(result["exceptionDetails"])
        return result["result"].get("value")

    def after_navigation(self, start):
        """Runs start (which leaves the current page) and waits until the next
        page has loaded; returns that page's summary."""
        self.evaluate("window.oldPage = true")
        start()
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                if self.evaluate("!window.oldPage && document.readyState === 'complete'"):
                    return json.loads(self.evaluate(SUMMARY))
            except RuntimeError:  # the old page went away during the call
                pass
            time.sleep(0.05)
        raise TimeoutError("page load")

    def open(self, url):
        return self.after_navigation(
            lambda: self.call("Page.navigate", session=self.session, url=url))

    def close(self):
        try:
            if self.proc.poll() is None:
                try:
                    self.call("Browser.close", timeout=5)
                except (RuntimeError, TimeoutError, OSError):
                    pass
                try:
                    self.proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    self.proc.send_signal(signal.SIGKILL)
                    self.proc.wait()
        finally:
            os.close(self.commands)
            os.close(self.answers)
            shutil.rmtree(self.profile, ignore_errors=True)


def as_read(data, charset):
    """The text that a browser decoding data with charset sees."""
    if charset.lower() == "utf-8":
        return data.decode("utf-8", "replace")
    try:
        return data.decode(charset)
    except UnicodeDecodeError:  # bytes the codec leaves undefined read as C1 controls
        return "".join(bytes([x]).decode(charset, "ignore") or chr(x) for x in data)


def setUpModule():
    global server, browser
    server = Lighttpd({"html.cgi": HTML_CGI, "visits.cgi": VISITS_CGI, "upload.cgi": UPLOAD_CGI})
    server.__enter__()
    # A form for every field as a text area, so that line breaks can be sent.
    with open(os.path.join(server.dir, "htdocs", "areas.html"), "w") as f:
        f.write('<!DOCTYPE html><meta charset="utf-8"><title>areas</title>'
                '<form method="post" action="/cgi-bin/applet.cgi">'
                '<textarea name="name"></textarea><textarea name="idApp"></textarea>'
                '<textarea name="idGrp"></textarea></form>')
    try:
        browser = Browser()
    except BaseException:
        server.__exit__(None, None, None)
        raise


def tearDownModule():
    try:
        browser.close()
    finally:
        server.__exit__(None, None, None)


def fill(fields, pairs):
    """JavaScript that sets each form field to its value in pairs."""
    return "".join(f"document.querySelector({json.dumps(f'[name={n}]')}).value = "
                   f"{json.dumps(v.decode())};" for n, v in zip(fields, (v for _, v in pairs)))


HOSTILE = [
    [(b"name", b"\"><script>window.injected=1</script>"), (b"idApp", b"' onload='x"),
     (b"idGrp", b"&amp;&lt;")],
    [(b"name", b"a b=c `d` <p id=x>text</p> &#39; \xc3\xa9\xe6\x97\xa5\xe2\x82\xac"),
     (b"idApp", b"</applet>"), (b"idGrp", b"<!--")],
    [(b"name", "Grüße aus Köln – naïve café".encode()), (b"idApp", b"\xc3\xa9t\xc3\xa9"),
     (b"idGrp", b"x>y")],
]
BREAKS = [(b"name", b"one\ntwo\r\nthree\rfour"), (b"idApp", b"\n<b>\r\n"), (b"idGrp", b"a\"\nb")]
NAMES = ["a b+c&d=e%f", "100% = 50% + 50% & more", "Grüße, 日本語, emoji 🎉", "  +%2B%26&=  "]


class Pages(unittest.TestCase):
    def check(self, summary, pairs, label):
        """The page is the applet page, element for element and attribute for
        attribute, with the three values that the program read."""
        expected = [as_read(v, summary["charset"]) for v in values(pairs)]
        self.assertEqual(summary["elements"], [
            ["html", []], ["head", []], ["title", []], ["body", []],
            ["applet", [["code", "App.class"], ["width", "500"], ["height", "500"]]],
            ["param", [["name", "Name"], ["value", expected[0]]]],
            ["param", [["name", "idApp"], ["value", expected[1]]]],
            ["param", [["name", "idGrp"], ["value", expected[2]]]],
        ], f"{label} (read as {summary['charset']})")
        self.assertEqual(summary["text"].strip(" \t\n\f\r"), "", label)
        self.assertFalse(summary["injected"], label)

    def test_hostile_values_in_a_link(self):
        for pairs in HOSTILE:
            with self.subTest(pairs=pairs):
                summary = browser.open(server.url("/cgi-bin/applet.cgi?" + query(pairs)))
                self.check(summary, pairs, repr(pairs))

    def test_hostile_values_posted_with_line_breaks(self):
        # A form sends every line break as CR LF; the program makes it one LF.
        for pairs in HOSTILE + [BREAKS]:
            with self.subTest(pairs=pairs):
                browser.open(server.url("/areas.html"))
                summary = browser.after_navigation(lambda: browser.evaluate(
                    fill(["name", "idApp", "idGrp"], pairs) + "document.forms[0].submit()"))
                self.check(summary, pairs, repr(pairs))

    def test_the_served_form_round_trips_names(self):
        # The form of scripts/serve, sent with each of its two buttons.
        for button, method in (("button:not([formmethod])", "POST"),
                               ("button[formmethod=get]", "GET")):
            for name in NAMES:
                with self.subTest(method=method, name=name):
                    pairs = [(b"name", name.encode()), (b"idApp", b"7"), (b"idGrp", b"3")]
                    browser.open(server.url("/"))
                    summary = browser.after_navigation(lambda: browser.evaluate(
                        fill(["name", "idApp", "idGrp"], pairs)
                        + f"document.querySelector({json.dumps(button)}).click()"))
                    self.check(summary, pairs, f"{method} {name!r}")


class Writers(unittest.TestCase):
    def test_every_byte_reads_back_as_sent(self):
        # Each byte 1 to 255 alone, then all of them in a row, through both
        # writers: the browser must hold exactly those bytes (CR included)
        # as the text of a p and of a textarea and as the p's title.
        sent = [bytes([b]) for b in range(1, 256)] + [bytes(range(1, 256))]
        browser.open(server.url("/cgi-bin/html.cgi?" + "&".join("hex=" + v.hex() for v in sent)))
        page = json.loads(browser.evaluate(BODY))
        expected = []
        for value in sent:
            text = as_read(value, page["charset"])
            expected += [["p", [["title", text]], text], ["textarea", [], text]]
        self.assertEqual(page["charset"], "windows-1252")
        for k, (got, want) in enumerate(zip(page["elements"], expected)):
            self.assertEqual(got, want, f"element {k}: {sent[k // 2]!r}")
        self.assertEqual(len(page["elements"]), len(expected))


class Visits(unittest.TestCase):
    def test_cookie_comes_back_and_values_stay_text(self):
        # The example counts visits in an HttpOnly cookie, which the browser
        # sends back with the next request and hides from scripts.  The
        # first two visits follow links, the others send the page's own form.
        hostile = b"<script>window.injected=1</script>\"'><img src=x onerror=injected=1>&amp;"
        for visit, name in enumerate([b"Ada", b"", hostile, "Grüße, 日本".encode()], 1):
            with self.subTest(visit=visit, name=name):
                if visit <= 2:
                    browser.open(server.url("/cgi-bin/visits.cgi?" + query([(b"name", name)])))
                else:
                    browser.after_navigation(lambda: browser.evaluate(
                        f"document.forms[0].name.value = {json.dumps(name.decode())};"
                        "document.querySelector('button').click()"))
                page = json.loads(browser.evaluate(BODY))
                shown = field([(b"name", name)], b"name", 100).decode()
                self.assertEqual(page["elements"], [
                    ["p", [], f"Hello, {shown or 'stranger'}. This is visit {visit}."],
                    ["form", [], " Again"],
                    ["input", [["name", "name"], ["value", shown]], ""],
                    ["button", [], "Again"],
                ])
                self.assertFalse(page["injected"])
                self.assertEqual(page["cookie"], "")

class Uploads(unittest.TestCase):
    """Files chosen in the upload example's form (DOM.setFileInputFiles, as a
    user picking them) and posted by the browser as multipart/form-data."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="cgi-e2e-files-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def file(self, name, content):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(content)
        return path

    def test_files_through_the_form(self):
        binary = bytes(range(256)) * 300 + b"\r\n--\r\n------WebKitFormBoundary\r\n\0"
        cases = [
            ("Grüße ✓ <&>", [("photo one.bin", binary)]),
            ("", [("a.txt", b"line\r\nline\n"), ("empty.dat", b""), ("big.bin", binary * 20)]),
            ("no file", []),
        ]
        for note, files in cases:
            with self.subTest(note=note, files=[n for n, _ in files]):
                paths = [self.file(name, content) for name, content in files]
                browser.open(server.url("/cgi-bin/upload.cgi"))
                root = browser.call("DOM.getDocument", session=browser.session)["root"]["nodeId"]
                node = browser.call("DOM.querySelector", session=browser.session, nodeId=root,
                                    selector="input[type=file]")["nodeId"]
                browser.call("DOM.setFileInputFiles", session=browser.session, nodeId=node,
                             files=paths)
                summary = browser.after_navigation(lambda: browser.evaluate(
                    f"document.querySelector('[name=note]').value = {json.dumps(note)};"
                    "document.querySelector('button').click()"))
                value = note.encode()
                lines = [f"text note {len(value)} {zlib.crc32(value):08x}"]
                # An empty file input still sends one part, with no file name.
                for name, content in files or [("", b"")]:
                    lines.append(f"file file {len(content)} {zlib.crc32(content):08x} {name}")
                self.assertEqual(summary["text"], "\n".join(lines) + "\n")


if __name__ == "__main__":
    unittest.main(verbosity=2, argv=sys.argv[:1])
