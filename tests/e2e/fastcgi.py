"""A small FastCGI client, for the tests that drive a FastCGI program
directly, and the program itself, started as a FastCGI server starts one:
with a listening Unix socket (in a new temporary directory) as its standard
input.

    with Responder(program) as app:
        reply = app.request({"REQUEST_METHOD": "GET", "QUERY_STRING": "a=1"})
        reply.stdout, reply.app_status

Leaving the block sends the program SIGTERM, waits for it and removes the
directory; stop() does the same and gives the exit status."""

import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time

from common import die_with_parent

VERSION = 1
BEGIN_REQUEST, ABORT_REQUEST, END_REQUEST, PARAMS, STDIN, STDOUT, STDERR = 1, 2, 3, 4, 5, 6, 7
RESPONDER = 1
KEEP_CONN = 1


def record(kind, request_id, content=b""):
    """One record; content longer than a record holds is not split here."""
    padding = -len(content) % 8
    return struct.pack(">BBHHBx", VERSION, kind, request_id, len(content), padding) + content + \
        b"\0" * padding


def stream(kind, request_id, data):
    """The records of a whole stream: data in pieces, then the empty record
    that ends it."""
    pieces = [data[i:i + 65535] for i in range(0, len(data), 65535)]
    return b"".join(record(kind, request_id, piece) for piece in pieces) + record(kind, request_id)


def length(n):
    return bytes([n]) if n < 128 else struct.pack(">I", n | 0x80000000)


def encode_params(params):
    """Name-value pairs of a dict (or list of pairs) of bytes or str."""
    items = params.items() if isinstance(params, dict) else params
    out = b""
    for name, value in items:
        name = name.encode() if isinstance(name, str) else name
        value = value.encode() if isinstance(value, str) else value
        out += length(len(name)) + length(len(value)) + name + value
    return out


def begin(request_id=1, keep=False):
    return record(BEGIN_REQUEST, request_id, struct.pack(">HB5x", RESPONDER, KEEP_CONN if keep else 0))


def message(params, body=b"", request_id=1, keep=False):
    """The records of one whole request."""
    return (begin(request_id, keep) + stream(PARAMS, request_id, encode_params(params)) +
            stream(STDIN, request_id, body))


class Reply:
    def __init__(self):
        self.stdout, self.stderr = b"", b""
        self.app_status = self.protocol_status = None


def read_exactly(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise EOFError(f"connection closed after {len(data)} of {n} bytes")
        data += chunk
    return data


def read_reply(sock, request_id=1):
    """The reply to a request, up to its END_REQUEST record."""
    reply = Reply()
    while True:
        _, kind, rid, size, padding = struct.unpack(">BBHHBx", read_exactly(sock, 8))
        content = read_exactly(sock, size + padding)[:size]
        if rid != request_id:
            raise AssertionError(f"a record for request {rid}, not {request_id}")
        if kind == STDOUT:
            reply.stdout += content
        elif kind == STDERR:
            reply.stderr += content
        elif kind == END_REQUEST:
            reply.app_status, reply.protocol_status = struct.unpack(">iB3x", content)
            return reply
        else:
            raise AssertionError(f"unexpected record type {kind}")


class Responder:
    """The FastCGI program, started with a listening socket as its standard
    input, its standard output and error in files of the directory; with
    copies > 1, that many processes share the socket (as spawn-fcgi -F
    starts them).  self.process is the first."""

    def __init__(self, program, env=None, copies=1):
        self.program, self.env, self.copies = os.path.abspath(program), env, copies
        self.dir, self.processes = None, []

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="cgi-fastcgi-")
        self.socket = os.path.join(self.dir, "socket")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            listener.bind(self.socket)
            listener.listen(64)
            self.stdout = open(os.path.join(self.dir, "stdout"), "wb")
            self.stderr = open(os.path.join(self.dir, "stderr"), "wb")
            for _ in range(self.copies):
                self.processes.append(subprocess.Popen(
                    [self.program], stdin=listener, stdout=self.stdout, stderr=self.stderr,
                    env=self.env if self.env is not None else dict(os.environ), cwd=self.dir,
                    start_new_session=True, preexec_fn=die_with_parent))
        except BaseException:
            self.__exit__()
            raise
        finally:
            listener.close()
        return self

    @property
    def process(self):
        return self.processes[0]

    def __exit__(self, *exc):
        try:
            if self.processes:
                self.stop()
        finally:
            for f in (getattr(self, "stdout", None), getattr(self, "stderr", None)):
                if f:
                    f.close()
            shutil.rmtree(self.dir, ignore_errors=True)

    def connect(self):
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.settimeout(30)
        sock.connect(self.socket)
        return sock

    def request(self, params, body=b""):
        """One request on a connection of its own."""
        with self.connect() as sock:
            sock.sendall(message(params, body))
            return read_reply(sock)

    def output(self, name):
        """What the program wrote to its standard output or error so far."""
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    def stop(self, timeout=30):
        """SIGTERM to every process; waits for them and gives the exit
        status of each, or only the first's when there is one."""
        for process in self.processes:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
        deadline = time.monotonic() + timeout
        try:
            return [process.wait(max(0, deadline - time.monotonic()))
                    for process in self.processes][0 if self.copies == 1 else slice(None)]
        finally:
            for process in self.processes:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait()
