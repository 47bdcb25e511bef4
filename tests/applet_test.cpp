// applet_test.cpp: the applet page, in-process and as the applet.cgi process.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support.h"

namespace {

// The whole response for the three attribute texts as they must appear.
std::string page(const std::string &name, const std::string &idApp, const std::string &idGrp) {
  return "Content-type: text/html\n\n"
         "<HTML>\n<HEAD>\n<TITLE> A simple program </TITLE>\n</HEAD>\n<BODY>\n"
         "<applet code=App.class WIDTH=500 HEIGHT=500>\n"
         "<param name=Name value=" +
         name +
         ">\n"
         "<param name=idApp value=" +
         idApp +
         ">\n"
         "<param name=idGrp value=" +
         idGrp +
         ">\n"
         "</applet>\n</BODY>\n</HTML>\n";
}

std::string repeat(const std::string &s, int times) {
  std::string out;
  while (times-- > 0) out += s;
  return out;
}

Outcome get(const std::string &query) {
  return runRequest({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
}

TEST(Applet, PageBytes) {
  const std::string n60(60, 'n'), d12 = "123456789012";
  const struct {
    std::string query;
    std::string expected;
    const char *label;
  } cases[] = {
      {"", page("", "", ""), "no form data"},
      {"name=Ada&idApp=7&idGrp=3", page("Ada", "7", "3"), "ordinary values"},
      {"name=" + n60 + "&idApp=" + d12 + "&idGrp=" + d12,
       page(n60.substr(0, 49), d12.substr(0, 9), d12.substr(0, 9)), "cut to 49, 9 and 9"},
      {"Name=Ada&idApp=1&idApp=2", page("", "1", ""), "case of the name; first of two"},
      {"name=Ada+Lovelace", page("\"Ada Lovelace\"", "", ""), "space quotes the value"},
      {"name=%22%3E%3Cscript%3Ealert(1)%3C/script%3E",
       page("\"&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;\"", "", ""), "markup escaped"},
      {"name=a%0D%0Ab&idApp=x'y", page("\"a\nb\"", "\"x&#39;y\"", ""), "line break and quote"},
      {"idGrp=" + repeat("%26", 12), page("", "", "\"" + repeat("&amp;", 9) + "\""),
       "cut before escaping"},
      {"name=a/b%C3%A9%25", page("a/b\xc3\xa9%", "", ""), "safe bytes stand as they are"},
  };
  for (const auto &c : cases) {
    Outcome outcome = get(c.query);
    EXPECT_EQ(outcome.status, 0) << c.label;
    EXPECT_EQ(outcome.out, c.expected) << c.label;
  }
}

TEST(Applet, EveryUnsafeByteQuotesTheValue) {
  for (char c : std::string(" \t\n\f\r\"'=<>`&")) {
    char escaped[4];
    snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
    std::string out = get(std::string("idApp=a") + escaped).out;
    std::string value = c == '\r' ? "\n" : std::string(1, c);
    const char *refs[][2] = {
        {"&", "&amp;"}, {"<", "&lt;"}, {">", "&gt;"}, {"\"", "&quot;"}, {"'", "&#39;"}};
    for (const auto &r : refs)
      if (value == r[0]) value = r[1];
    EXPECT_NE(out.find("<param name=idApp value=\"a" + value + "\">\n"), std::string::npos)
        << "byte " << static_cast<int>(c) << "\n"
        << out;
  }
}

// What a run of the real program gave.
struct ProcessRun {
  std::string out;
  bool aliveAtEndOfOutput;  // still running when its input, output and error had all ended
  bool outputReset;         // the output ended in a reset instead of its end
  int exitStatus;
};

// Reads fd to its end; *reset tells whether a reset came instead of the end.
std::string readAll(int fd, bool *reset) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, n);
  *reset = n < 0;
  return text;
}

// The programs that must behave as a CGI program: applet.cgi and, started
// as a CGI program, applet.fcgi.
const char *const kPrograms[] = {
    APPLET_CGI,
#ifdef APPLET_FCGI
    APPLET_FCGI,
#endif
};

// Runs program as some servers do: one socket as both standard input and
// standard output (Apache's mod_cgid), and a pipe as standard error that is
// read to its end after the output (mod_cgi, fcgiwrap).
ProcessRun runProcess(const char *program, const std::vector<std::string> &env,
                      const std::string &body) {
  int io[2], err[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, io) != 0 || pipe(err) != 0) abort();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(io[1], 0);
    dup2(io[1], 1);
    dup2(err[1], 2);
    for (int fd : {io[0], io[1], err[0], err[1]}) close(fd);
    std::vector<char *> envp;
    for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(program), nullptr};
    execve(program, argv, envp.data());
    _exit(127);
  }
  close(io[1]);
  close(err[1]);
  if (write(io[0], body.data(), body.size()) != static_cast<ssize_t>(body.size())) abort();
  shutdown(io[0], SHUT_WR);
  ProcessRun run{};
  bool errReset;
  run.out = readAll(io[0], &run.outputReset);
  readAll(err[0], &errReset);
  close(io[0]);
  close(err[0]);
  int status;
  run.aliveAtEndOfOutput = waitpid(pid, &status, WNOHANG) == 0;
  if (run.aliveAtEndOfOutput) waitpid(pid, &status, 0);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(AppletProcess, GetAnswersAndEndsOutputBeforeThePause) {
  for (const char *program : kPrograms) {
    ProcessRun run =
        runProcess(program, {"REQUEST_METHOD=GET", "QUERY_STRING=name=Ada&idApp=7&idGrp=3"}, "");
    EXPECT_EQ(run.out, page("Ada", "7", "3")) << program;
    EXPECT_TRUE(run.aliveAtEndOfOutput)
        << program << ": standard input, output and error must all be released before the pause";
    EXPECT_EQ(run.exitStatus, 0) << program;
  }
}

TEST(AppletProcess, PostBodyIsDecodedAndWhatIsLeftDiscarded) {
  const struct {
    const char *type;
    std::string expected;
  } cases[] = {
      {"CONTENT_TYPE=Application/X-WWW-Form-Urlencoded", page("", "", "\"&lt;\"")},
      {"CONTENT_TYPE=multipart/form-data; boundary=x", page("", "", "")},
  };
  for (const char *program : kPrograms) {
    for (const auto &c : cases) {
      ProcessRun run = runProcess(program, {"REQUEST_METHOD=post", "CONTENT_LENGTH=14", c.type},
                                  "idGrp=%3C&x=yz&tail");
      EXPECT_EQ(run.out, c.expected) << program << " " << c.type;
      EXPECT_FALSE(run.outputReset)
          << program << " " << c.type << ": unread input must be discarded, not reset";
      EXPECT_EQ(run.exitStatus, 0) << program << " " << c.type;
    }
  }
}

TEST(AppletProcess, UndecodableBodyGivesStatus255AndNoOutput) {
  const std::string type = "CONTENT_TYPE=application/x-www-form-urlencoded";
  for (const char *program : kPrograms) {
    for (const char *length : {"CONTENT_LENGTH=5", "CONTENT_LENGTH=-1"}) {
      ProcessRun run = runProcess(program, {"REQUEST_METHOD=POST", type, length}, "a=1");
      EXPECT_EQ(run.out, "") << program << " " << length;
      EXPECT_EQ(run.exitStatus, 255) << program << " " << length;
    }
  }
}

}  // namespace
