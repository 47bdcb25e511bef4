"""Real web servers serving the programs under /cgi-bin/ (SETUPS), or
applet.fcgi as a FastCGI process at /applet.fcgi (FASTCGI_SETUPS), one
class per set-up, each on a free loopback port with its configuration in a
new temporary directory.  The CGI and FastCGI parts of the configurations
are the snippets of README.md's "Deploying" and "FastCGI" sections, read out
of it, with their Debian paths moved into that directory; the rest is what
each server needs to run at all, with the modules Debian loads by default.

A set-up is a configuration template and the commands that start its
processes: to add one, subclass Setup, write its files in configure() and
list its processes in processes().  Use a set-up in a with statement:
leaving the block stops every process it started with its whole process
group, waits until nothing started below the test is left and removes the
directory, also when the test fails."""

import grp
import os
import pwd
import re
import shlex
import shutil
import signal
import socket
import subprocess
import tempfile
import time

from common import APPLET, APPLET_FCGI, ROOT, SANITIZED, collect_descendants, die_with_parent

README = os.path.join(ROOT, "README.md")
APACHE_MODULES = "/usr/lib/apache2/modules"


def snippet(name, replacements=()):
    """The fenced block that follows the line <!-- snippet: name --> in
    README.md, with each (old, new) of replacements made; each old text must
    be there, so the README cannot lose a path the suite moves."""
    with open(README) as f:
        text = f.read()
    found = re.search(r"^<!-- snippet: " + re.escape(name) + r" -->\n```[^\n]*\n(.*?)^```$",
                      text, re.S | re.M)
    if not found:
        raise RuntimeError(f"README.md has no snippet {name!r}")
    block = found.group(1)
    for old, new in replacements:
        if old not in block:
            raise RuntimeError(f"README.md snippet {name!r} no longer contains {old!r}")
        block = block.replace(old, new)
    return block


def fill(template, **values):
    """template with each @name@ replaced by values[name]."""
    return re.sub(r"@(\w+)@", lambda m: str(values[m.group(1)]), template)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_user():
    """The unprivileged user that servers run programs as when the tests run
    as root (Apache refuses to run its children as root), else None."""
    if os.geteuid() != 0:
        return None
    for name in ("www-data", "nobody"):
        try:
            return pwd.getpwnam(name)
        except KeyError:
            pass
    raise RuntimeError("no unprivileged user (www-data, nobody) to run the servers' programs as")


class Process:
    """One process of a set-up: its command, what shows that it is ready (a
    file that it creates, else the set-up's port), and whether it runs as the
    unprivileged user."""

    def __init__(self, argv, ready=None, unprivileged=False, exits_cleanly=False):
        self.argv, self.ready, self.unprivileged = argv, ready, unprivileged
        # Whether SIGTERM must end it with status 0 (a FastCGI process;
        # in the sanitizer build, a leak found at exit would not).
        self.exits_cleanly = exits_cleanly
        self.popen = None


class Setup:
    """A web server serving each of programs (name -> path) as
    /cgi-bin/name, and APPLET as /cgi-bin/applet.cgi unless programs names
    another; dir/htdocs is its document root.  Subclasses set name and
    chunked_body_passed, and define configure() and processes()."""

    name = None
    # Whether the server gives the program a body sent with
    # Transfer-Encoding: chunked (with a CONTENT_LENGTH), as found; None
    # for either.
    chunked_body_passed = None
    # The applet's name among the programs, its program, and its address.
    applet_name = "applet.cgi"
    applet_program = APPLET
    applet_path = "/cgi-bin/applet.cgi"

    def __init__(self, programs=None):
        self.programs = dict(programs or {})
        self.applet = self.programs.pop(self.applet_name, self.applet_program)
        self.failures = []
        self.dir = None
        self.port = None
        self.running = []
        self.user = run_user()

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix=f"cgi-e2e-{self.name}-")
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        try:
            self._stop()
            collect_descendants()
            if self.failures and not exc[0]:
                raise AssertionError(f"{self.name}: " + "; ".join(self.failures) + "\n" +
                                     self.log())
        finally:
            shutil.rmtree(self.dir, ignore_errors=True)

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def log(self):
        """The server's error logs."""
        text = ""
        for name in sorted(os.listdir(self.dir)):
            if name.endswith(".log"):
                with open(os.path.join(self.dir, name), errors="replace") as f:
                    text += f"--- {name}\n" + f.read()
        return text

    def environment(self):
        """The environment of the set-up's processes (None: this one's)."""
        return None

    # Configuration: override these.

    def configure(self):
        """Writes the configuration into self.dir for self.port."""
        raise NotImplementedError

    def processes(self):
        """The processes to start, in order."""
        raise NotImplementedError

    # The rest is shared.

    def _layout(self):
        """The document root and the programs, reachable by the unprivileged
        user: the directory is made by mkdtemp for root alone, and the
        programs are copied in, so the path to the build does not matter."""
        os.chmod(self.dir, 0o755)
        os.makedirs(os.path.join(self.dir, "htdocs"), exist_ok=True)
        programs = os.path.join(self.dir, "cgi-bin")
        os.makedirs(programs, exist_ok=True)
        for name, path in {self.applet_name: self.applet, **self.programs}.items():
            shutil.copy(path, os.path.join(programs, name))
            os.chmod(os.path.join(programs, name), 0o755)

    def user_directive(self, template):
        """template filled with the unprivileged user and group when running
        as root, else nothing (a server started by another user runs as
        that user)."""
        if not self.user:
            return ""
        return fill(template, user=self.user.pw_name, group=grp.getgrgid(self.user.pw_gid).gr_name)

    def writable_dir(self, name):
        """A directory in self.dir that the unprivileged user may write."""
        path = os.path.join(self.dir, name)
        os.makedirs(path, exist_ok=True)
        if self.user:
            os.chown(path, self.user.pw_uid, self.user.pw_gid)
        return path

    def write(self, name, text):
        with open(os.path.join(self.dir, name), "w") as f:
            f.write(text)

    def _start(self):
        self._layout()
        for attempt in range(3):  # another process may take the port first
            self.port = free_port()
            self.configure()
            try:
                for process in self.processes():
                    self._launch(process)
                return
            except TimeoutError:
                self._stop()
        raise RuntimeError(f"{self.name} did not start:\n{self.log()}")

    def _launch(self, process):
        kwargs = {}
        if process.unprivileged and self.user:
            kwargs = dict(user=self.user.pw_uid, group=self.user.pw_gid, extra_groups=[])
        process.popen = subprocess.Popen(
            process.argv, stdin=subprocess.DEVNULL, start_new_session=True,
            preexec_fn=die_with_parent, env=self.environment(), **kwargs)
        self.running.append(process)
        deadline = time.monotonic() + 10
        while not _ended(process.popen.pid) and time.monotonic() < deadline:
            if process.ready:
                if os.path.exists(process.ready):
                    return
            else:
                try:
                    socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                    return
                except OSError:
                    pass
            time.sleep(0.05)
        raise TimeoutError

    def _stop(self):
        """Stops each process with its whole process group: SIGTERM, then
        SIGKILL for what is left while the group's leader is not yet reaped
        (so the group's id, the leader's, cannot have been reused)."""
        while self.running:
            process = self.running.pop()
            popen = process.popen
            _signal_group(popen.pid, signal.SIGTERM)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and not _ended(popen.pid):
                time.sleep(0.02)
            ended = _ended(popen.pid)
            _signal_group(popen.pid, signal.SIGKILL)
            status = popen.wait()
            if process.exits_cleanly and (not ended or status != 0):
                self.failures.append(f"{process.argv[0]} ended with {status} on SIGTERM")


def _signal_group(pgid, sig):
    try:
        os.killpg(pgid, sig)
    except ProcessLookupError:
        pass


def _ended(pid):
    """Whether the child has ended, without reaping it."""
    info = os.waitid(os.P_PID, pid, os.WEXITED | os.WNOHANG | os.WNOWAIT)
    return info is not None


class Lighttpd(Setup):
    """lighttpd with mod_cgi, configured by scripts/lighttpd-conf (the stock
    order of modules, the README snippet in its conf-enabled/).  It runs the
    programs as the user who starts it.  A chunked body is collected and
    passed with its CONTENT_LENGTH."""

    name = "lighttpd"
    chunked_body_passed = True

    def configure(self):
        subprocess.run([os.path.join(ROOT, "scripts", "lighttpd-conf"), self.dir, str(self.port),
                        self.applet], check=True, timeout=30)

    def processes(self):
        lighttpd = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
        return [Process([lighttpd, "-D", "-f", os.path.join(self.dir, "lighttpd.conf")])]


APACHE_CONF = """\
ServerRoot "@dir@"
ServerName 127.0.0.1
Listen 127.0.0.1:@port@
PidFile @dir@/apache2.pid
DefaultRuntimeDir @dir@
ErrorLog @dir@/error.log
@user@
LoadModule @mpm@_module @modules@/mod_@mpm@.so
LoadModule authz_core_module @modules@/mod_authz_core.so
LoadModule alias_module @modules@/mod_alias.so
@module@
DocumentRoot @dir@/htdocs
@site@
"""


class Apache(Setup):
    """Apache 2.4 in the foreground; its children run as the unprivileged
    user when the tests run as root.  It passes no CONTENT_LENGTH for a
    chunked body, so the program reads none of it."""

    chunked_body_passed = False
    mpm = None
    module_snippet = None

    def module(self):
        return snippet(self.module_snippet)

    def configure(self):
        site = snippet("apache", [("/usr/lib/cgi-bin", self.dir + "/cgi-bin")])
        self.write("apache2.conf", fill(
            APACHE_CONF, dir=self.dir, port=self.port, modules=APACHE_MODULES, mpm=self.mpm,
            user=self.user_directive("User @user@\nGroup @group@"), module=self.module(),
            site=site))

    def processes(self):
        return [Process(["/usr/sbin/apache2", "-d", self.dir, "-f",
                         os.path.join(self.dir, "apache2.conf"), "-DFOREGROUND"])]


class ApacheCgid(Apache):
    """Debian's default: the event MPM with mod_cgid, whose daemon hands each
    program one Unix socket as both standard input and output."""

    name = "apache-cgid"
    mpm = "mpm_event"
    module_snippet = "apache-cgid"

    def module(self):
        return snippet(self.module_snippet, [("/run/apache2/cgisock", self.dir + "/cgisock")])


class ApachePrefork(Apache):
    """The prefork MPM with mod_cgi, which reads the program's standard
    error to its end after its output."""

    name = "apache-prefork"
    mpm = "mpm_prefork"
    module_snippet = "apache-cgi"


NGINX_CONF = """\
daemon off;
pid @dir@/nginx.pid;
error_log @dir@/error.log;
@user@
events {
    worker_connections 256;
}
http {
    access_log off;
    client_body_temp_path @dir@/temp/body;
    fastcgi_temp_path @dir@/temp/fastcgi;
    proxy_temp_path @dir@/temp/proxy;
    scgi_temp_path @dir@/temp/scgi;
    uwsgi_temp_path @dir@/temp/uwsgi;
    server {
        listen 127.0.0.1:@port@;
        server_name 127.0.0.1;
        root @dir@/htdocs;
@location@
    }
}
"""


class NginxFcgiwrap(Setup):
    """nginx passing /cgi-bin/ to fcgiwrap over a Unix socket; both run as
    the unprivileged user when the tests run as root (as Debian's services
    do).  fcgiwrap runs with the README's DAEMON_OPTS.  nginx collects a
    chunked body and passes it with its CONTENT_LENGTH."""

    name = "nginx-fcgiwrap"
    chunked_body_passed = True

    def configure(self):
        run = self.writable_dir("run")
        self.socket = os.path.join(run, "fcgiwrap.socket")
        os.makedirs(os.path.join(self.dir, "temp"), exist_ok=True)
        shutil.copy("/etc/nginx/fastcgi_params", self.dir)
        location = snippet("nginx", [("root /usr/lib;", f"root {self.dir};"),
                                     ("unix:/run/fcgiwrap.socket", "unix:" + self.socket)])
        self.write("nginx.conf", fill(
            NGINX_CONF, dir=self.dir, port=self.port, user=self.user_directive("user @user@;"),
            location="".join("        " + line + "\n" for line in location.splitlines())))

    def processes(self):
        # DAEMON_OPTS="..." as the shell reads it.
        options = shlex.split(snippet("fcgiwrap"))[0].split("=", 1)[1].split()
        if os.path.exists(self.socket):
            os.unlink(self.socket)
        return [
            Process(["/usr/sbin/fcgiwrap", *options, "-s", "unix:" + self.socket],
                    ready=self.socket, unprivileged=True),
            Process(["/usr/sbin/nginx", "-p", self.dir, "-c", os.path.join(self.dir, "nginx.conf"),
                     "-e", os.path.join(self.dir, "error.log")]),
        ]


SETUPS = [Lighttpd, ApacheCgid, ApachePrefork, NginxFcgiwrap]


class Fastcgi:
    """A set-up that serves APPLET_FCGI as a FastCGI process at
    /applet.fcgi."""

    applet_name = "applet.fcgi"
    applet_program = APPLET_FCGI
    applet_path = "/applet.fcgi"

    def environment(self):
        """In the sanitizer build, AddressSanitizer's quarantine off: it holds
        freed memory back for up to 256 MiB, which would hide whether the
        process's memory stays flat.  The leak checker stays on."""
        if not SANITIZED:
            return None
        options = os.environ.get("ASAN_OPTIONS", "")
        return dict(os.environ, ASAN_OPTIONS=(options + ":" if options else "") +
                    "quarantine_size_mb=0")

    copies = 1  # how many processes serve the program

    def fastcgi_processes(self):
        """Ids of the running copies of the FastCGI program, once all of
        them have started (at most 10 seconds after the set-up started)."""
        deadline = time.monotonic() + 10
        while len(found := self._fastcgi_processes()) < self.copies and \
                time.monotonic() < deadline:
            time.sleep(0.05)
        return found

    def _fastcgi_processes(self):
        program = os.path.realpath(self.program_path())
        found = []
        for entry in os.listdir("/proc"):
            try:
                if entry.isdigit() and os.readlink(f"/proc/{entry}/exe") == program:
                    found.append(int(entry))
            except OSError:
                pass
        return sorted(found)

    def program_path(self):
        return os.path.join(self.dir, "cgi-bin", self.applet_name)

    def spawn_fcgi(self):
        """spawn-fcgi as README.md starts it, in the foreground (-n, so that
        it becomes the program), with its socket in the directory; the user
        options only when running as root."""
        argv = shlex.split(snippet("spawn-fcgi", [
            ("/run/applet.fcgi.socket", self.socket),
            ("/usr/local/libexec/applet.fcgi", self.program_path())]))
        if self.user:
            argv = [self.user.pw_name if arg == "www-data" else arg for arg in argv]
        else:
            for option in ("-U", "-u"):
                at = argv.index(option)
                del argv[at:at + 2]
        if os.path.exists(self.socket):
            os.unlink(self.socket)
        return Process([shutil.which("spawn-fcgi") or "/usr/bin/spawn-fcgi", "-n", *argv[1:]],
                       ready=self.socket, exits_cleanly=True)


class LighttpdFastcgi(Fastcgi, Lighttpd):
    """lighttpd with mod_fastcgi starting the program itself (two copies, on
    sockets of their own), configured by scripts/lighttpd-conf --fastcgi."""

    name = "lighttpd-fastcgi"

    def configure(self):
        self.copies = int(re.search(r'"max-procs" => (\d+)', snippet("lighttpd-fastcgi")).group(1))
        subprocess.run([os.path.join(ROOT, "scripts", "lighttpd-conf"), "--fastcgi", self.dir,
                        str(self.port), self.applet], check=True, timeout=30)

    def program_path(self):
        return os.path.join(self.dir, "fcgi-bin", "applet.fcgi")


class NginxFastcgi(Fastcgi, Setup):
    """nginx passing /applet.fcgi to a Unix socket that spawn-fcgi opened
    and handed the program.  nginx runs as the unprivileged user when the
    tests run as root, and spawn-fcgi makes the socket that user's."""

    name = "nginx-fastcgi"
    chunked_body_passed = True

    def configure(self):
        self.socket = os.path.join(self.writable_dir("run"), "applet.fcgi.socket")
        os.makedirs(os.path.join(self.dir, "temp"), exist_ok=True)
        shutil.copy("/etc/nginx/fastcgi_params", self.dir)
        location = snippet("nginx-fastcgi", [("unix:/run/applet.fcgi.socket",
                                              "unix:" + self.socket)])
        self.write("nginx.conf", fill(
            NGINX_CONF, dir=self.dir, port=self.port, user=self.user_directive("user @user@;"),
            location="".join("        " + line + "\n" for line in location.splitlines())))

    def processes(self):
        return [self.spawn_fcgi(),
                Process(["/usr/sbin/nginx", "-p", self.dir, "-c", os.path.join(self.dir, "nginx.conf"),
                         "-e", os.path.join(self.dir, "error.log")])]


class ApacheFastcgi(Fastcgi, Apache):
    """Apache with the event MPM passing /applet.fcgi to the spawn-fcgi
    socket through mod_proxy_fcgi.  A chunked body reaches the program
    whole, with its CONTENT_LENGTH, when all of it has come by the time
    Apache reads the start of the body, else as no body at all: either, as
    found."""

    name = "apache-fastcgi"
    mpm = "mpm_event"
    chunked_body_passed = None

    def module(self):
        return snippet("apache-fastcgi", [("unix:/run/applet.fcgi.socket", "unix:" + self.socket)])

    def configure(self):
        self.socket = os.path.join(self.writable_dir("run"), "applet.fcgi.socket")
        self.write("apache2.conf", fill(
            APACHE_CONF, dir=self.dir, port=self.port, modules=APACHE_MODULES, mpm=self.mpm,
            user=self.user_directive("User @user@\nGroup @group@"), module=self.module(),
            site=""))

    def processes(self):
        return [self.spawn_fcgi()] + super().processes()


FASTCGI_SETUPS = [NginxFastcgi, LighttpdFastcgi, ApacheFastcgi]
