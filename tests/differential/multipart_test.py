#!/usr/bin/env python3
"""Differential test of multipart/form-data reading against real encoders.

Random forms (text fields, files of random bytes with CR, LF, NUL, dashes and
near copies of the delimiter, names and file names with quotes, backslashes,
semicolons and directory parts) are encoded by Python's email package (its
generator picks the boundary, quotes the parameters and writes every header;
the content goes in exactly as generated) and, through a real lighttpd, by
curl -F.  The upload example must report every part in form order with its
size and CRC-32 (zlib.crc32) and the file name cut to its last component.

Usage: multipart_test.py UPLOAD_BATCH UPLOAD_CGI [FORMS] [SEED]
"""
import email.mime.multipart
import email.mime.nonmultipart
import email.generator
import email.policy
import io
import os
import random
import re
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from common import Server  # noqa: E402

PRINTABLE = bytes(range(0x20, 0x7F))
TRICKY = [b"\r", b"\n", b"\r\n", b"\0", b"-", b"--", b"\r\n--", b"\n--", b"\r\r\n", b"\xff"]


def random_name(rng, alphabet, longest):
    return bytes(rng.choice(alphabet) for _ in range(rng.randint(0, longest)))


def random_content(rng, boundary, text):
    """Bytes with runs of the delimiter's pieces; no NUL in a text value
    half of the time, so that both cases come up."""
    pieces = []
    for _ in range(rng.choice([0, 1, 3, 20, 200])):
        roll = rng.random()
        if roll < 0.3:
            pieces.append(rng.choice(TRICKY))
        elif roll < 0.45:
            cut = rng.randint(0, len(boundary) - 1)
            pieces.append(b"\r\n--" + boundary[:cut])
        elif roll < 0.55:
            pieces.append(b"\r\n--" + boundary + rng.choice([b"x", b"-x", b" x", b"--x", b"\t-"]))
        elif roll < 0.6:
            pieces.append(b"\n--" + boundary + b"\r\n")
        else:
            pieces.append(rng.randbytes(rng.choice([1, 10, 1000, 30000])))
    content = b"".join(pieces)
    if text and rng.random() < 0.5:
        content = content.replace(b"\0", b"")
    return content


def is_delimiter_inside(content, boundary):
    return re.search(rb"\r\n--" + re.escape(boundary) + rb"(--)?[ \t]*(\r?\n|$)", content)


def clean_file_name(raw):
    name = re.split(rb"[/\\]", raw)[-1]
    name = bytes(b for b in name if b >= 32 and b != 127)
    return b"" if name in (b".", b"..") else name


def expected(fields):
    """The upload example's answer: one line per part, in form order."""
    lines = [b"Content-type: text/plain\n\n"]
    for name, file_name, content in fields:
        if file_name is None:
            value = content.split(b"\0")[0]
            lines.append(b"text %s %d %08x\n" % (name, len(value), zlib.crc32(value)))
        else:
            lines.append(b"file %s %d %08x %s\n" % (name, len(content), zlib.crc32(content),
                                                    clean_file_name(file_name)))
    return b"".join(lines)


def email_form(rng):
    """A form built by the email package: (content type, body, fields)."""
    root = email.mime.multipart.MIMEMultipart("form-data", policy=email.policy.HTTP)
    fields, holders = [], {}
    # (The email package writes an empty form as one empty part.)
    for index in range(rng.choice([1, 2, 5, rng.randint(1, 20)])):
        is_file = rng.random() < 0.5
        # The email package writes an empty value as a parameter without "=".
        name = random_name(rng, PRINTABLE, 12) or b"n"
        file_name = (random_name(rng, PRINTABLE + b"/\\", 20) or b"f") if is_file else None
        part = email.mime.nonmultipart.MIMENonMultipart(
            *(("application", "octet-stream") if is_file else ("text", "plain")),
            policy=email.policy.HTTP)
        part["Content-Disposition"] = "form-data"
        part.set_param("name", name.decode(), header="Content-Disposition")
        if is_file:
            part.set_param("filename", file_name.decode(), header="Content-Disposition")
        holder = f"@@content-{index}-{rng.getrandbits(64):x}@@"
        part.set_payload(holder)
        root.attach(part)
        fields.append([name, file_name, holder])
    out = io.BytesIO()
    email.generator.BytesGenerator(out, policy=email.policy.HTTP).flatten(root)
    head, body = out.getvalue().split(b"\r\n\r\n", 1)
    content_type = re.search(rb"(?m)^Content-Type: (.*)\r$", head + b"\r").group(1).decode()
    boundary = root.get_boundary().encode()
    for field in fields:
        content = random_content(rng, boundary, field[1] is None)
        while is_delimiter_inside(content, boundary):
            content = random_content(rng, boundary, field[1] is None)
        body = body.replace(field[2].encode(), content)
        field[2] = content
    return content_type, body, [tuple(f) for f in fields]


def run_batch(program, requests, tmp):
    """Runs (content type, body) requests through one process; their answers."""
    data = b"".join(b"%s\n%d\n%s" % (t.encode(), len(b), b) for t, b in requests)
    done = subprocess.run([program], input=data, capture_output=True, check=True, timeout=240,
                          env={"TMPDIR": tmp, "PATH": "/usr/bin:/bin"})
    out, answers = done.stdout, []
    while not out.startswith(b"descriptors "):
        size, out = out.split(b"\n", 1)
        answers.append(out[: int(size)])
        out = out[int(size):]
    before, after = out.split()[1:]
    if before != after:
        fail(f"descriptors before {before}, after {after}: something survived a request")
    return answers


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def compare(label, got, want, body=b""):
    if got != want:
        fail(f"{label}\n  got:  {got[:2000]!r}\n  want: {want[:2000]!r}\n  body: {body[:600]!r}")


REFUSALS = [
    ("21 files", lambda b: b"".join(
        b'--%s\r\nContent-Disposition: form-data; name="f"; filename="x"\r\n\r\n\r\n' % b
        for _ in range(21)) + b"--%s--\r\n" % b,
     b"Status: 413 Content Too Large\nContent-type: text/plain\n\n"
     b"The form has more than 20 files.\n"),
    ("over 10 MiB", lambda b: b"x" * (10 * 1024 * 1024 + 1),
     b"Status: 413 Content Too Large\nContent-type: text/plain\n\nThe body is larger than 10 MiB.\n"),
    ("no close delimiter", lambda b: b'--%s\r\nContent-Disposition: form-data; name="a"\r\n\r\n1' % b,
     b"Status: 400 Bad Request\nContent-type: text/plain\n\n"
     b"The body is not well-formed multipart/form-data.\n"),
]


def check_email_forms(batch, program, count, rng, tmp):
    forms = [email_form(rng) for _ in range(count)]
    requests = [(t, b) for t, b, _ in forms]
    for _, make, _ in REFUSALS:
        requests.append(("multipart/form-data; boundary=zz", make(b"zz")))
    answers = run_batch(batch, requests, tmp)
    for k, (content_type, body, fields) in enumerate(forms):
        compare(f"email form {k} ({content_type})", answers[k], expected(fields), body)
    for k, (label, _, want) in enumerate(REFUSALS):
        compare(label, answers[len(forms) + k], want)
    # A few as separate CGI processes, as a web server runs the example.
    runs = []
    for content_type, body, fields in forms[:4]:
        env = {"REQUEST_METHOD": "POST", "CONTENT_TYPE": content_type,
               "CONTENT_LENGTH": str(len(body)), "TMPDIR": tmp}
        proc = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        runs.append((proc, body, fields))
    for proc, body, fields in runs:
        out, _ = proc.communicate(body, timeout=60)
        compare("email form as a process", out, expected(fields), body)
    files = sum(1 for _, _, fields in forms for f in fields if f[1] is not None)
    parts = sum(len(fields) for _, _, fields in forms)
    print(f"{count} forms from the email package, {parts} parts ({files} files), read exactly")


def curl_form(rng, directory, index):
    """curl -F arguments for a random form, and the form's fields."""
    args, fields = [], []
    safe = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._- "
    for k in range(rng.randint(1, 8)):
        name = b"field%d" % rng.randint(0, 3)
        if rng.random() < 0.4:
            value = random_name(rng, PRINTABLE, 40)
            args += ["--form-string", (name + b"=" + value).decode()]
            fields.append((name, None, value))
            continue
        path = os.path.join(directory, f"upload-{index}-{k}")
        content = random_content(rng, b"-" * 24, False)
        with open(path, "wb") as f:
            f.write(content)
        base = random_name(rng, safe, 12).strip() or b"f"
        file_name = rng.choice([b"", b"dir/", b"C:\\dir\\", b"../"]) + base
        args += ["-F", f"{name.decode()}=@{path};filename={file_name.decode()};type=text/x-test"]
        fields.append((name, file_name, content))
    return args, fields


def check_curl(program, count, rng, files):
    with Server({"upload.cgi": program}) as server:
        url = server.url("/cgi-bin/upload.cgi")
        page = subprocess.run(["curl", "-sS", "--max-time", "30", url], capture_output=True,
                              check=True).stdout
        if b'enctype="multipart/form-data"' not in page or b'type="file"' not in page:
            fail(f"the form page: {page!r}")
        for index in range(count):
            args, fields = curl_form(rng, files, index)
            got = subprocess.run(["curl", "-sS", "--max-time", "60", "-H", "Expect:"] + args + [url],
                                 capture_output=True, check=True).stdout
            want = expected(fields).split(b"\n\n", 1)[1]
            compare(f"curl form {index} {args}", got, want)
    print(f"{count} forms posted by curl -F through lighttpd, read exactly")


def main():
    batch, program = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    seed = int(sys.argv[4]) if len(sys.argv) > 4 else 17
    rng = random.Random(seed)
    random.seed(seed)  # the email package's boundaries come from the shared generator
    with tempfile.TemporaryDirectory(prefix="cgi-multipart-") as tmp:
        check_email_forms(batch, program, count, rng, tmp)
        if os.listdir(tmp):
            fail(f"files left in TMPDIR: {os.listdir(tmp)}")
    with tempfile.TemporaryDirectory(prefix="cgi-multipart-curl-") as files:
        check_curl(program, max(5, count // 10), rng, files)


if __name__ == "__main__":
    main()
