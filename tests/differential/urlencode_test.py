#!/usr/bin/env python3
"""Differential test of form decoding against Python's urllib.parse.urlencode.

Random forms (names and values over every byte value 1 to 255, repeated
names, empty names and values) are encoded the ways a client does it:
urlencode with quote_plus (spaces as "+"), urlencode with quote (spaces as
"%20"), and the same with lower-case hexadecimal digits.  The echo CGI
program must decode each, sent as QUERY_STRING and as a POST body, to
exactly the encoded names and values, in order.

Usage: urlencode_test.py ECHO_CGI [FORMS] [SEED]
"""
import random
import subprocess
import sys
import urllib.parse

SPECIAL = b"%+&=;# \r\n\t\x7f\x80\xff"


def random_bytes(rng, longest):
    n = rng.choice([0, 1, 2, rng.randint(0, longest)])
    if rng.random() < 0.3:
        return bytes(rng.choice(SPECIAL) for _ in range(n))
    return bytes(rng.randint(1, 255) for _ in range(n))


def random_form(rng):
    pairs = []
    for _ in range(rng.choice([0, 1, 2, 3, rng.randint(0, 12)])):
        names = [name for name, _ in pairs]
        name = rng.choice(names) if names and rng.random() < 0.4 else random_bytes(rng, 10)
        pairs.append((name, random_bytes(rng, 200)))
    return pairs


def lower_escapes(data):
    out, i = [], 0
    while i < len(data):
        if data[i] == "%":
            out.append(data[i : i + 3].lower())
            i += 3
        else:
            out.append(data[i])
            i += 1
    return "".join(out)


def encode(rng, pairs):
    if rng.random() < 0.5:
        data = urllib.parse.urlencode(pairs)
    else:
        data = urllib.parse.urlencode(pairs, quote_via=urllib.parse.quote)
    return lower_escapes(data) if rng.random() < 0.25 else data


def expected_output(pairs):
    return "".join(f"{n.hex()}:{v.hex()}\n" for n, v in pairs) + ".\n"


def fail(message, data, pairs, got, want):
    print(f"FAIL: {message}\n  data: {data!r}\n  pairs: {pairs!r}\n"
          f"  got:  {got!r}\n  want: {want!r}")
    sys.exit(1)


def main():
    program = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 8)
    forms = []
    for _ in range(count):
        pairs = random_form(rng)
        forms.append((pairs, encode(rng, pairs)))

    # Every form as a GET and as a POST request, in one process.
    lines = "".join(f"{method} {data}\n" for _, data in forms for method in ("GET", "POST"))
    run = subprocess.run([program, "--batch"], input=lines.encode("ascii"),
                         capture_output=True, check=True)
    answers = run.stdout.decode("ascii").split(".\n")
    if answers[-1] != "" or len(answers) != 2 * len(forms) + 1:
        print(f"FAIL: {len(answers) - 1} answers for {2 * len(forms)} requests")
        sys.exit(1)
    for k, (pairs, data) in enumerate(forms):
        want = expected_output(pairs)
        for j, method in enumerate(("GET", "POST")):
            got = answers[2 * k + j] + ".\n"
            if got != want:
                fail(f"{method} request {k}", data, pairs, got, want)

    # A few forms as separate CGI processes, the way a web server runs it.
    for pairs, data in forms[:20]:
        want = expected_output(pairs)
        get = subprocess.run([program], env={"REQUEST_METHOD": "GET", "QUERY_STRING": data},
                             stdin=subprocess.DEVNULL, capture_output=True, check=True)
        post = subprocess.run([program], input=data.encode("ascii"), capture_output=True, check=True,
                              env={"REQUEST_METHOD": "POST",
                                   "CONTENT_TYPE": "application/x-www-form-urlencoded",
                                   "CONTENT_LENGTH": str(len(data))})
        for method, result in (("GET process", get), ("POST process", post)):
            if result.stdout.decode("ascii") != want:
                fail(method, data, pairs, result.stdout.decode("ascii"), want)

    entries = sum(len(pairs) for pairs, _ in forms)
    print(f"{len(forms)} forms with {entries} entries decoded exactly, as GET and as POST")


if __name__ == "__main__":
    main()
