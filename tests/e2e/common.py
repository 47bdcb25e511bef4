"""Shared by the end-to-end tests: where the programs are, the clean-up of
everything the tests start, and the page that applet.cgi must answer with."""

import ctypes
import os
import signal
import time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
APPLET = os.environ.get("APPLET_CGI", os.path.join(ROOT, "build", "app", "applet.cgi"))
APPLET_FCGI = os.environ.get("APPLET_FCGI", os.path.join(ROOT, "build", "app", "applet.fcgi"))
# Whether the programs were built with the sanitizers (slower, more memory).
SANITIZED = os.environ.get("CGI_SANITIZE") == "1"


LIBC = ctypes.CDLL(None, use_errno=True)
LIBC.prctl(36, 1)  # PR_SET_CHILD_SUBREAPER: orphans below this process come here


def die_with_parent():
    """Runs in a child before exec: the child gets SIGTERM if the test dies,
    so no server or browser outlives a test that was killed."""
    LIBC.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def _children():
    """Ids of this process's children, ended ones included."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                if int(f.read().rsplit(b")", 1)[1].split()[1]) == os.getpid():
                    found.append(int(entry))
        except (OSError, ValueError, IndexError):
            pass
    return found


def collect_descendants(timeout=10):
    """Waits until every process started below this one has ended and been
    reaped (programs left by the server end within their one-second pause);
    kills what is still there after timeout."""
    deadline = time.monotonic() + timeout
    while children := _children():
        for pid in children:
            try:
                if time.monotonic() > deadline:
                    os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, os.WNOHANG)
            except (ChildProcessError, ProcessLookupError):
                pass
        time.sleep(0.02)


def Server(programs=None):
    """lighttpd serving applet.cgi and programs (name -> path) under
    /cgi-bin/: the lighttpd set-up of servers.py, by its older name."""
    from servers import Lighttpd
    return Lighttpd(programs)


ORDINARY = [(b"name", b"Ada"), (b"idApp", b"7"), (b"idGrp", b"3")]
HOSTILE = [
    (b"name", b'"><script>alert(1)</script><p title=\'x'),
    (b"idApp", b"a onclick=x"),
    (b"idGrp", b"&amp;`="),
]


def query(pairs):
    """A query string with every byte of the names and values percent-encoded
    but for the unreserved ones."""
    return "&".join(urllib.parse.quote(n, safe="") + "=" + urllib.parse.quote(v, safe="")
                    for n, v in pairs)


def field(pairs, name, size):
    """The value that the program reads for name: the first one, up to a NUL,
    each run of CR and LF turned into as many LFs as the larger of its counts,
    cut to size - 1 bytes."""
    value = next((v for n, v in pairs if n == name), b"")
    value = value.split(b"\0")[0]
    out, run = bytearray(), b""
    for byte in value + b"\0":
        if byte in b"\r\n":
            run += bytes([byte])
            continue
        out += b"\n" * max(run.count(b"\r"), run.count(b"\n"))
        run = b""
        out.append(byte)
    return bytes(out[:-1][: size - 1])


# Bytes that cannot stand in an unquoted HTML attribute value.
UNSAFE = set(b" \t\n\f\r\"'=<>`&")
REFERENCES = {ord("&"): b"&amp;", ord("<"): b"&lt;", ord(">"): b"&gt;", ord('"'): b"&quot;",
              ord("'"): b"&#39;"}


def attribute(value):
    """value as the program must write it after value=."""
    if not UNSAFE.intersection(value):
        return value
    return b'"' + b"".join(REFERENCES.get(b, bytes([b])) for b in value) + b'"'


def values(pairs):
    """The three parameter values, Name, idApp and idGrp, that the page carries
    for the form pairs (names and values as bytes)."""
    return field(pairs, b"name", 50), field(pairs, b"idApp", 10), field(pairs, b"idGrp", 10)


def page(pairs):
    """The whole body of the applet page for the form pairs."""
    name, id_app, id_grp = (attribute(v) for v in values(pairs))
    return (b"<HTML>\n<HEAD>\n<TITLE> A simple program </TITLE>\n</HEAD>\n<BODY>\n"
            b"<applet code=App.class WIDTH=500 HEIGHT=500>\n"
            b"<param name=Name value=" + name + b">\n"
            b"<param name=idApp value=" + id_app + b">\n"
            b"<param name=idGrp value=" + id_grp + b">\n"
            b"</applet>\n</BODY>\n</HTML>\n")
