// shell_test.cpp: the escaped shell command, run through the real shell.
#include <gtest/gtest.h>
#include <locale.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iterator>
#include <random>
#include <string.h>

#include "support.h"

namespace {

// Runs f with the process's stdout (and, if quiet, stderr) sent to a file;
// gives what was written.
std::string captured(const std::function<void()> &f, bool quiet = false) {
  fflush(stdout);
  fflush(stderr);
  FILE *file = tmpfile();
  int out = dup(1), err = dup(2);
  dup2(fileno(file), 1);
  if (quiet) dup2(fileno(file), 2);
  f();
  dup2(out, 1);
  dup2(err, 2);
  close(out);
  close(err);
  std::string text;
  rewind(file);
  for (int c; (c = fgetc(file)) != EOF;) text += static_cast<char>(c);
  fclose(file);
  return text;
}

// Gives what the shell prints for command, in which P prints each of its
// arguments in brackets; V is set to "vv".
std::string printed(std::string command) {
  setenv("V", "vv", 1);
  if (command[0] == 'P') command.replace(0, 1, "printf '[%s]'");
  return captured([&] { cgiSaferSystem(command.c_str()); });
}

TEST(Shell, OneCommandWithLiteralBytes) {
  const struct {
    const char *command, *expected, *label;
  } cases[] = {
      {"echo a;b", "a;b\n", "separator"},
      {"P 'a  b' \"$V\" $V x*y? ~nouser", "[a  b][vv][vv][x*y?][~nouser]", "nothing special"},
      {"P a||b&&c&d|e", "[a||b&&c&d|e]", "lists and pipes"},
      {"P `P x` $(P y) $((1+2)) (z)", "[`P][x`][$(P][y)][$((1+2))][(z)]", "substitutions"},
      {"P <a >b 2>&1 <<E", "[<a][>b][2>&1][<<E]", "redirections"},
      {"P \\; \\\\ \\", "[\\;][\\\\][\\]", "data backslash cannot cancel"},
      {"P ${V} $[1] $\n{V}", "[${V}][$[1]][${V}]", "no brace or bracket expansion"},
      {"P a\nb", "[ab]", "newline joins the words"},
      {"P \"a;b\" 'c|d'", "[a\\;b][c\\|d]", "quoted specials keep a backslash"},
      {"P #a b#", "[#a][b#]", "no comment"},
      {"P \"$LC_ALL\"", "[C]", "the C locale"},
  };
  for (const auto &c : cases) EXPECT_EQ(printed(c.command), c.expected) << c.label;
}

// The caller's LC_ALL is the same entry after the call as before, or absent.
TEST(Shell, PutsLcAllBack) {
  for (const char *value : {static_cast<const char *>(nullptr), "de_DE.UTF-8", ""}) {
    if (value)
      setenv("LC_ALL", value, 1);
    else
      unsetenv("LC_ALL");
    const char *before = getenv("LC_ALL");
    EXPECT_EQ(printed("P \"$LC_ALL\""), "[C]");
    EXPECT_EQ(getenv("LC_ALL"), before) << (value ? value : "unset");
  }
  unsetenv("LC_ALL");
}

TEST(Shell, StatusIsSystems) {
  for (const char *command : {"", "exit 3", "false", "kill -9 $$"})
    EXPECT_EQ(cgiSaferSystem(command), system(command)) << command;
  EXPECT_NE(cgiSaferSystem(nullptr), 0);
}

// Classic ways to start a second command; CMD is the command that makes the
// marker, X the directory it lives in.
// clang-format off
const char *const payloads[] = {
    "; CMD", "| CMD", "& CMD", "&& CMD", "|| CMD", "\nCMD", "\r\nCMD", "{ CMD; }",
    "`CMD`", "$(CMD)", "$((`CMD`))", "${x:-`CMD`}", "\"$(CMD)\"", "\"`CMD`\"",
    "\\; CMD", "\\\\; CMD", "\\\nCMD", "\\'; CMD", "\\\"; CMD #", "$'\\x3b' CMD",
    "'; CMD; '", "\"; CMD; \"", "'\\''; CMD",
    "> X/m", ">| X/m", "<> X/m", "2> X/m", "&> X/m", "<<E\nCMD\nE", "<(CMD)", ">(CMD)",
    "${x=$(CMD)}${x@P}", "$\n{x=$(CMD)}$\n{x@P}", "${x=a[$(CMD)]}$[x]", "${x=a[$(CMD)]}${!x}",
    "${y:=a[$(CMD)]}${z[y]}", "$[HTTP_USER_AGENT]", "${z[HTTP_USER_AGENT]}",
    "${HTTP_USER_AGENT@P}", "\x81\x82\x83\x84\x85\x86\x87\x88; CMD", "\x84 CMD\x84",
    "x\x88\"; CMD",
    "#\nCMD", "x #\nCMD", "#\r\nCMD", "#\\\nCMD", "\" #\nCMD", "' #\nCMD #", "#\nCMD #\nCMD",
    "\x81; CMD", "\x81| CMD", "\x81& CMD", "\x81\nCMD", "\xa4; CMD", "\xa4\nCMD", "\x81#\nCMD"};
// clang-format on

// Request-like data from a fixed-seed generator: shell syntax, quotes, the
// bytes the shell uses inside, and the words of CMD.
std::string generated(std::mt19937 &random) {
  static const char *const pieces[] = {
      ";",   "|",   "&",   "&&",   "||",   "\n",   "`",   "$(",   "(",    ")",
      "$((", "<",   ">",   "<<",   ">&",   "'",    "\"",  "\\",   "\\\\", "$",
      "${",  "}",   "$[",  "]",    "[",    "{",    "#",   "*",    "?",    "~",
      "!",   "=",   " ",   "\t",   "\r",   "x",    "x=",  "@P",   "eval", "sh -c",
      "CMD", "CMD", "X/m", "\x81", "\x84", "\x88", "%3B", "\xa4", "\xe0"};
  std::string data;
  for (int k = random() % 12 + 1; k > 0; k--) data += pieces[random() % std::size(pieces)];
  return data;
}

void replaceAll(std::string &s, const std::string &from, const std::string &to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
}

// Set in the helper process that BashAsShell starts: /bin/sh is bash there and
// the environment names a locale.
const char kBashChild[] = "CGI_SHELL_TEST_BASH";

TEST(Shell, DataNeverStartsAnotherCommand) {
  const std::string dir = "/tmp/shell_test." + std::to_string(getpid());
  const std::string marker = dir + "/m", cmd = "touch " + marker;
  const bool child = getenv(kBashChild) != nullptr;
  if (child) {
    ASSERT_EQ(system("[ -n \"$BASH_VERSION\" ]"), 0) << "/bin/sh is not bash";
  }
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  setenv("PATH", "/usr/bin:/bin", 1);
  setenv("HTTP_USER_AGENT", ("a[$(" + cmd + ")]").c_str(), 1);
  const bool bash = !child && access("/bin/bash", X_OK) == 0;
  std::vector<std::string> lines;
  for (const char *prefix : {"echo ", "echo '", "echo \""})
    for (const char *payload : payloads) lines.push_back(prefix + std::string(payload));
  std::mt19937 random(20240611);
  for (int i = 0; i < 200; i++) lines.push_back("echo " + generated(random));
  for (std::string line : lines) {
    replaceAll(line, "CMD", cmd);
    replaceAll(line, "X", dir);
    // bash as /bin/sh has expansions that re-read values as code; run the
    // escaped line through it as well.
    std::string copy(2 * line.size() + 1, '\0'), quoted = "exec /bin/bash --posix -c '";
    cgiShellEscape(line.c_str(), copy.data());
    copy.resize(strlen(copy.c_str()));
    replaceAll(copy, "'", "'\\''");
    quoted += copy + "'";
    captured(
        [&] {
          cgiSaferSystem(line.c_str());
          if (bash) system(quoted.c_str());
        },
        true);
    const bool ran = access(marker.c_str(), F_OK) == 0;
    EXPECT_FALSE(ran) << "ran: " << line;
    if (ran) break;
  }
  unsetenv("HTTP_USER_AGENT");
  unlink(marker.c_str());
  rmdir(dir.c_str());
}

// Runs argv with name=value added to the environment; gives its exit status
// and its output in *output.
int spawned(const std::vector<std::string> &argv, const std::string &name, const std::string &value,
            std::string *output) {
  std::vector<std::string> env = {name + "=" + value, std::string(kBashChild) + "=1"};
  for (char **e = environ; *e; e++)
    if (strncmp(*e, "LC_ALL=", 7) != 0 && strncmp(*e, "LANG=", 5) != 0) env.push_back(*e);
  std::vector<char *> args, envp;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);
  FILE *file = tmpfile();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fileno(file), 1);
  posix_spawn_file_actions_adddup2(&actions, fileno(file), 2);
  pid_t pid;
  int status = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0)
    waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  rewind(file);
  for (int c; (c = fgetc(file)) != EOF;) *output += static_cast<char>(c);
  fclose(file);
  return status;
}

// The real cgiSaferSystem with bash as /bin/sh (as on Fedora, RHEL or Arch),
// in locales whose lead bytes can swallow a backslash: this program runs
// DataNeverStartsAnotherCommand again in a private mount namespace where
// bash is mounted over /bin/sh, with the locale in LC_ALL or LANG.
TEST(Shell, BashAsShell) {
  const struct {
    const char *locale, *variable, *lead;  // lead: a lead byte and 0x5C make one character
  } cases[] = {
      {"zh_CN.GBK", "LC_ALL", "\\201"},
      {"zh_TW.BIG5", "LANG", "\\244"},
      {"ja_JP.SJIS", "LC_ALL", "\\201"},
      {"C.UTF-8", "LANG", nullptr},
  };
  if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0 || access("/bin/bash", X_OK) != 0)
    GTEST_SKIP()
        << "no-private-mount: needs root, unshare and bash to mount bash over /bin/sh privately";
  for (const auto &c : cases)
    if (!setlocale(LC_CTYPE, c.locale))
      GTEST_SKIP() << "no-locale: locale " << c.locale
                   << " is not installed (scripts/test generates it)";
  setlocale(LC_CTYPE, "C");
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  for (const auto &c : cases) {
    // First the shell's own reading of the locale, then the test itself.
    std::string check = "[ \"$BASH_VERSION\" ]";
    if (c.lead) check += std::string(" && x=$(printf '") + c.lead + "\\134') && [ ${#x} = 1 ]";
    const std::string script =
        "mount --bind /bin/bash /bin/sh && /bin/sh -c \"$1\" && "
        "exec \"$0\" --gtest_filter=Shell.DataNeverStartsAnotherCommand";
    std::string output;
    int status = spawned({"unshare", "--mount", "sh", "-c", script, self, check}, c.variable,
                         c.locale, &output);
    EXPECT_EQ(status, 0) << c.variable << "=" << c.locale << ":\n" << output;
  }
}

}  // namespace
