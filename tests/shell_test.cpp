// shell_test.cpp: the escaped shell command, run through the real shell.
#include <gtest/gtest.h>
#include <sys/stat.h>
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
  };
  for (const auto &c : cases) EXPECT_EQ(printed(c.command), c.expected) << c.label;
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
    "x\x88\"; CMD"};
// clang-format on

// Request-like data from a fixed-seed generator: shell syntax, quotes, the
// bytes the shell uses inside, and the words of CMD.
std::string generated(std::mt19937 &random) {
  static const char *const pieces[] = {
      ";",  "|",  "&",    "&&",    "||",  "\n",  "`",    "$(",   "(",    ")",    "$((", "<",
      ">",  "<<", ">&",   "'",     "\"",  "\\",  "\\\\", "$",    "${",   "}",    "$[",  "]",
      "[",  "{",  "#",    "*",     "?",   "~",   "!",    "=",    " ",    "\t",   "\r",  "x",
      "x=", "@P", "eval", "sh -c", "CMD", "CMD", "X/m",  "\x81", "\x84", "\x88", "%3B"};
  std::string data;
  for (int k = random() % 12 + 1; k > 0; k--) data += pieces[random() % std::size(pieces)];
  return data;
}

void replaceAll(std::string &s, const std::string &from, const std::string &to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
}

TEST(Shell, DataNeverStartsAnotherCommand) {
  const std::string dir = "/tmp/shell_test." + std::to_string(getpid());
  const std::string marker = dir + "/m", cmd = "touch " + marker;
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  setenv("PATH", "/usr/bin:/bin", 1);
  setenv("HTTP_USER_AGENT", ("a[$(" + cmd + ")]").c_str(), 1);
  const bool bash = access("/bin/bash", X_OK) == 0;
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

}  // namespace
