"""The installed library used by a separate program: `cmake --install` into a
new prefix, the example application built from there with the CMake package
and with pkg-config, and each build run as a CGI program; where the FastCGI
driver was built, the same application built again against it each way and
run as a FastCGI program."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import fastcgi
from common import APPLET_FCGI, ROOT, collect_descendants

BUILD = os.environ.get("CGI_BUILD_DIR", os.path.join(ROOT, "build"))
LIBDIR = os.environ.get("CGI_INSTALL_LIBDIR", "lib")
CC = os.environ.get("CGI_C_COMPILER", "cc")

CONSUMER = """cmake_minimum_required(VERSION 3.20)
project(order C)
find_package(cgi 0.1 CONFIG REQUIRED)
add_executable(order order.c)
target_link_libraries(order PRIVATE cgi::cgi)
if(TARGET cgi::fcgi)
  add_executable(order.fcgi order.c)
  target_link_libraries(order.fcgi PRIVATE cgi::fcgi)
endif()
"""
FASTCGI = os.path.exists(APPLET_FCGI)

# Query string, then the whole output of the example for it.
REQUESTS = [
    ("size=large&quantity=3", b"Content-type: text/plain\n\n3 large\n"),
    ("quantity=12&size=small", b"Content-type: text/plain\n\n10 small\n"),
    ("size=medium&quantity=x", b"Content-type: text/plain\n\n1 medium\n"),
    ("size=huge", b"Status: 400 Unknown size\nContent-type: text/plain\n\n"
                  b"Choose a size: small, medium or large.\n"),
]


def run(args, **kwargs):
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300,
                          **kwargs)
    if done.returncode != 0:
        raise AssertionError(f"{args} failed:\n{done.stdout.decode(errors='replace')}")


class Installed(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="cgi-install-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.prefix = os.path.join(self.dir, "prefix")
        run(["cmake", "--install", BUILD, "--prefix", self.prefix])
        self.source = os.path.join(self.dir, "order.c")
        shutil.copy(os.path.join(ROOT, "examples", "order.c"), self.source)

    def test_example_built_against_the_installed_files(self):
        installed = ["include/cgi/cgi.h", f"{LIBDIR}/libcgi.a", f"{LIBDIR}/cmake/cgi/cgiConfig.cmake",
                     f"{LIBDIR}/pkgconfig/cgi.pc"]
        if FASTCGI:
            installed += [f"{LIBDIR}/libcgi-fcgi.a", f"{LIBDIR}/pkgconfig/cgi-fcgi.pc"]
        for path in installed:
            self.assertTrue(os.path.isfile(os.path.join(self.prefix, path)), path)

        with open(os.path.join(self.dir, "CMakeLists.txt"), "w") as f:
            f.write(CONSUMER)
        build = os.path.join(self.dir, "build")
        run(["cmake", "-S", self.dir, "-B", build, "-G", "Ninja", "-DCMAKE_C_COMPILER=" + CC,
             "-DCMAKE_PREFIX_PATH=" + self.prefix])
        run(["cmake", "--build", build])

        by_pkg_config = os.path.join(self.dir, "order-pc")
        env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(self.prefix, LIBDIR, "pkgconfig"))
        run(["sh", "-c", f'"$0" "$1" $(pkg-config --cflags --libs cgi) -o "$2"', CC, self.source,
             by_pkg_config], env=env)
        if FASTCGI:
            run(["sh", "-c", f'"$0" "$1" $(pkg-config --cflags --libs cgi-fcgi) -o "$2"', CC,
                 self.source, by_pkg_config + ".fcgi"], env=env)
            for program in (os.path.join(build, "order.fcgi"), by_pkg_config + ".fcgi"):
                with self.subTest(program=os.path.basename(program)), \
                        fastcgi.Responder(program) as app:
                    for query, expected in REQUESTS:
                        reply = app.request({"REQUEST_METHOD": "GET", "QUERY_STRING": query})
                        self.assertEqual((reply.stdout, reply.app_status), (expected, 0))
                    self.assertEqual(app.stop(), 0)

        # Every run pauses a second at its end: start them all, then read.
        runs = [(program, query, expected, subprocess.Popen(
                    ["env", "-i", "REQUEST_METHOD=GET", "QUERY_STRING=" + query, program],
                    stdout=subprocess.PIPE))
                for program in (os.path.join(build, "order"), by_pkg_config)
                for query, expected in REQUESTS]
        try:
            for program, query, expected, process in runs:
                with self.subTest(program=os.path.basename(program), query=query):
                    out, _ = process.communicate(timeout=60)
                    self.assertEqual(out, expected)
                    self.assertEqual(process.returncode, 0)
        finally:
            for *_, process in runs:
                process.kill()
                process.wait()
            collect_descendants()


class Readme(unittest.TestCase):
    def test_copy_of_the_example_is_the_file(self):
        with open(os.path.join(ROOT, "README.md")) as f:
            readme = f.read()
        with open(os.path.join(ROOT, "examples", "order.c")) as f:
            source = f.read()
        block = readme.split("`examples/order.c`", 1)[1].split("```c\n", 1)[1].split("```", 1)[0]
        self.assertEqual(block, source[source.index("#include"):])


if __name__ == "__main__":
    unittest.main(verbosity=2, argv=sys.argv[:1])
