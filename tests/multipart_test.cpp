// multipart_test.cpp: multipart/form-data bodies, hostile ones above all,
// through the driver: results, the fields and files they make, what is read
// of the input, and that nothing is left behind (files, descriptors).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support.h"

namespace {

const std::string B = "b0undary";
const std::string kType = "multipart/form-data; boundary=" + B;

std::string text(const std::string &name, const std::string &value, const std::string &b = B) {
  return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
         "\r\n";
}

std::string file(const std::string &name, const std::string &fileName, const std::string &content,
                 const std::string &type = "text/plain") {
  return "--" + B + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
         fileName + "\"\r\nContent-Type: " + type + "\r\n\r\n" + content + "\r\n";
}

// A part with the given header lines (each with its line end).
std::string part(const std::string &heads, const std::string &content) {
  return "--" + B + "\r\n" + heads + "\r\n" + content + "\r\n";
}

std::string close(const std::string &b = B) {
  return "--" + b + "--\r\n";
}

std::string times(int n, const std::string &s) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

const std::string kDisposition = "Content-Disposition: form-data; name=\"n\"\r\n";

// One body: what cgiMultipartRead gives and, on success, what the walk over
// the fields shows ("NAME=VALUE;" for a text, "NAME@FILE[TYPE]=CONTENT;" for
// a file).
struct Case {
  const char *label;
  std::string body;
  cgiMultipartResult result;
  std::string fields;
  std::string type = kType;
  std::string length = "";  // CONTENT_LENGTH when not the body's size
  void (*limits)(cgiMultipartLimits *) = nullptr;
  std::string method = "POST";
};

std::vector<Case> cases() {
  const std::string b70(70, 'x'), b71(71, 'x');
  std::string manyFiles, manyParts, fieldsOf128, eightHeads;
  for (int i = 0; i < 21; i++) manyFiles += file("f", "x", "");
  for (int i = 0; i < 128; i++) fieldsOf128 += "t=" + std::to_string(i) + ";";
  for (int i = 0; i < 128; i++) manyParts += text("t", std::to_string(i));
  for (int i = 0; i < 7; i++) eightHeads += "X-A: b\r\n";
  const std::string longLine(1 << 20, 'a'), crs = "\r\r\n\r\r\r\n\n\r-\r\n-\r\n--\r";
  auto small = [](cgiMultipartLimits *l) { l->fileBytes = 3; };
  auto tiny = [](cgiMultipartLimits *l) { l->bodyBytes = 10; };
  return {
      {"text and file parts in form order",
       text("a", "1") + file("f", "x.txt", "da\r\nta") + text("a", "2") + close(), cgiMultipartOk,
       "a=1;f@x.txt[text/plain]=da\r\nta;a=2;"},
      {"quoted boundary", text("a", "1") + close(), cgiMultipartOk, "a=1;",
       "multipart/form-data; boundary=\"" + B + "\""},
      {"names in any case, another parameter", text("a", "1") + close(), cgiMultipartOk, "a=1;",
       " Multipart/Form-Data ;charset=utf-8;  BOUNDARY=" + B + " "},
      {"boundary of 70 bytes", text("a", "1", b70) + close(b70), cgiMultipartOk, "a=1;",
       "multipart/form-data; boundary=" + b70},
      {"boundary of 71 bytes", text("a", "1", b71) + close(b71), cgiMultipartNoBoundary, "",
       "multipart/form-data; boundary=" + b71},
      {"boundary with every boundary byte",
       text("a", "1", "'()+_,-./:=? Az9") + close("'()+_,-./:=? Az9"), cgiMultipartOk, "a=1;",
       "multipart/form-data; boundary=\"'()+_,-./:=? Az9\""},
      {"missing boundary", text("a", "1") + close(), cgiMultipartNoBoundary, "",
       "multipart/form-data"},
      {"empty boundary", close(""), cgiMultipartNoBoundary, "", "multipart/form-data; boundary="},
      {"empty quoted boundary", close(""), cgiMultipartNoBoundary, "",
       "multipart/form-data; boundary=\"\""},
      {"two boundaries", close(), cgiMultipartNoBoundary, "", kType + "; boundary=" + B},
      {"boundary ending in a space", close(), cgiMultipartNoBoundary, "",
       "multipart/form-data; boundary=\"" + B + " \""},
      {"boundary with a byte no boundary has", close(), cgiMultipartNoBoundary, "",
       "multipart/form-data; boundary=a@b"},
      {"unterminated quoted boundary", close(), cgiMultipartNoBoundary, "",
       "multipart/form-data; boundary=\"" + B},
      {"parameter without a value", close(), cgiMultipartNoBoundary, "", kType + "; charset"},
      {"not a POST", text("a", "1") + close(), cgiMultipartNone, "", kType, "", nullptr, "GET"},
      {"another type", "a=1", cgiMultipartNone, "", "text/plain"},
      {"another multipart type", close(), cgiMultipartNone, "", "multipart/mixed; boundary=" + B},
      {"type with a longer subtype", close(), cgiMultipartNone, "",
       "multipart/form-datax; boundary=" + B},
      {"length above the default body limit", close(), cgiMultipartTooLarge, "", kType, "10485761"},
      {"length above a body limit", text("a", "1") + close(), cgiMultipartTooLarge, "", kType, "",
       tiny},
      {"negative length", close(), cgiMultipartMalformed, "", kType, "-5"},
      {"body shorter than announced", text("a", "1") + close(), cgiMultipartShortRead, "", kType,
       std::to_string((text("a", "1") + close()).size() + 10)},
      {"megabytes of CR LF before the first boundary", times(1 << 19, "\r\n") + close(),
       cgiMultipartPreambleTooLong, ""},
      {"preamble of the limit", std::string(65536, 'p') + "\r\n" + text("a", "1") + close(),
       cgiMultipartOk, "a=1;"},
      {"preamble over the limit", std::string(65537, 'p') + "\r\n" + text("a", "1") + close(),
       cgiMultipartPreambleTooLong, ""},
      {"header line of the limit",
       part(kDisposition + "X: " + std::string(4093, 'a') + "\r\n", "v") + close(), cgiMultipartOk,
       "n=v;"},
      {"one very long header line", part(kDisposition + "X: " + longLine + "\r\n", "v") + close(),
       cgiMultipartLineTooLong, ""},
      {"one very long content line", file("f", "a", longLine) + close(), cgiMultipartOk,
       "f@a[text/plain]=" + longLine + ";"},
      {"delimiter line with blanks over the limit",
       text("a", "1") + "--" + B + std::string(4096, ' ') + "\r\n", cgiMultipartLineTooLong, ""},
      {"128 parts", manyParts + close(), cgiMultipartOk, fieldsOf128},
      {"thousands of parts", times(2000, text("t", "1")) + close(), cgiMultipartTooManyParts, ""},
      {"21 files", manyFiles + close(), cgiMultipartTooManyFiles, ""},
      {"file of its limit", file("f", "a", "abc") + close(), cgiMultipartOk, "f@a[text/plain]=abc;",
       kType, "", small},
      {"file over its limit", file("f", "a", "abcd") + close(), cgiMultipartFileTooLarge, "", kType,
       "", small},
      {"8 header fields", part(kDisposition + eightHeads, "v") + close(), cgiMultipartOk, "n=v;"},
      {"thousands of header fields", part(kDisposition + times(5000, "X-A: b\r\n"), "v") + close(),
       cgiMultipartTooManyHeaders, ""},
      {"directory parts and control bytes in file names",
       file("f", "../../etc/passwd", "1") + file("f", "C:\\Users\\me\\photo.jpg", "2") +
           file("f", "dir/", "3") + file("f", "a/..", "4") + file("f", ".", "5") +
           file("f", "\\x\x01y\tz\x7f", "6") + file("f", "...", "7") + close(),
       cgiMultipartOk,
       "f@passwd[text/plain]=1;f@photo.jpg[text/plain]=2;f@[text/plain]=3;f@[text/plain]=4;"
       "f@[text/plain]=5;f@xyz[text/plain]=6;f@...[text/plain]=7;"},
      {"empty file name and no content type",
       part("Content-Disposition: form-data; name=\"f\"; filename=\"\"\r\n", "") + close(),
       cgiMultipartOk, "f@[]=;"},
      {"empty Content-Type before anything else",
       part("Content-Type:\r\nContent-Disposition: form-data; name=f; filename=x\r\n", "1") +
           close(),
       cgiMultipartOk, "f@x[]=1;"},
      {"filename* alone makes a text part",
       part("Content-Disposition: form-data; name=\"t\"; filename*=UTF-8''x.txt\r\n", "v") +
           close(),
       cgiMultipartOk, "t=v;"},
      {"delimiter prefixes inside content",
       file("f", "a", "x\r\n--" + B.substr(0, 7) + "\r\n--\r\n-" + B + "\r\n" + B) + close(),
       cgiMultipartOk,
       "f@a[text/plain]=x\r\n--" + B.substr(0, 7) + "\r\n--\r\n-" + B + "\r\n" + B + ";"},
      {"boundary followed by other bytes is content",
       file("f", "a", "\r\n--" + B + "x\r\n--" + B + "--x\r\n--" + B + " -\r\n--" + B + "-\r\n") +
           close(),
       cgiMultipartOk,
       "f@a[text/plain]=\r\n--" + B + "x\r\n--" + B + "--x\r\n--" + B + " -\r\n--" + B + "-\r\n;"},
      {"boundary after a bare LF is content", text("t", "x\n--" + B + "\r\ny") + close(),
       cgiMultipartOk, "t=x\n--" + B + "\r\ny;"},
      {"blanks after the boundaries",
       "--" + B + " \t\r\n" + kDisposition + "\r\nv\r\n--" + B + "-- \r\n", cgiMultipartOk, "n=v;"},
      {"CR and LF runs inside content", file("f", "a", crs) + text("t", crs) + close(),
       cgiMultipartOk, "f@a[text/plain]=" + crs + ";t=" + crs + ";"},
      {"close delimiter then epilogue", text("a", "1") + close() + "epilogue\r\n--" + B + "\r\nx",
       cgiMultipartOk, "a=1;"},
      {"epilogue of the limit", text("a", "1") + close() + std::string(65536, 'e'), cgiMultipartOk,
       "a=1;"},
      {"epilogue over the limit", text("a", "1") + close() + std::string(65537, 'e'),
       cgiMultipartEpilogueTooLong, ""},
      {"close delimiter without a line end", text("a", "1") + "--" + B + "--", cgiMultipartOk,
       "a=1;"},
      {"no close delimiter", text("a", "1"), cgiMultipartMalformed, ""},
      {"part cut short in its content", text("a", "1") + "--" + B + "\r\n" + kDisposition + "\r\nv",
       cgiMultipartMalformed, ""},
      {"no delimiter at all", "just bytes", cgiMultipartMalformed, ""},
      {"empty body", "", cgiMultipartMalformed, ""},
      {"close delimiter alone", close(), cgiMultipartOk, ""},
      {"bare LF in part headers",
       "--" + B + "\nContent-Disposition: form-data; name=\"a\"\nContent-Type: x\n\n1\r\n" +
           close(),
       cgiMultipartOk, "a=1;"},
      {"header names in any case",
       part("CONTENT-DISPOSITION: FORM-DATA; NAME=\"f\"; FileName=\"x\"\r\ncontent-TYPE: "
            "image/png\r\n",
            "1") +
           close(),
       cgiMultipartOk, "f@x[image/png]=1;"},
      {"content type trimmed, parameters kept",
       part("Content-Disposition: form-data; name=f; filename=x\r\nContent-Type: \t a/b; c=d \r\n",
            "1") +
           close(),
       cgiMultipartOk, "f@x[a/b; c=d]=1;"},
      {"quoted-string escapes",
       part("Content-Disposition: form-data; name=\"a\\\"b\\\\c\\d;e\"\r\n", "1") + close(),
       cgiMultipartOk, "a\"b\\c\\d;e=1;"},
      {"empty name, other header and parameters ignored",
       part("X-Other: 1\r\nContent-Disposition: form-data; name=\"\"; size=3\r\n"
            "Content-Transfer-Encoding: base64\r\n",
            "1") +
           close(),
       cgiMultipartOk, "=1;"},
      {"NUL inside a text value", text("t", std::string("a\0b", 3)) + close(), cgiMultipartOk,
       "t=a;"},
      {"missing Content-Disposition", part("Content-Type: x\r\n", "1") + close(),
       cgiMultipartMalformed, ""},
      {"part without header lines", part("", "1") + close(), cgiMultipartMalformed, ""},
      {"disposition other than form-data",
       part("Content-Disposition: attachment; name=\"a\"\r\n", "1") + close(),
       cgiMultipartMalformed, ""},
      {"missing name", part("Content-Disposition: form-data; filename=\"a\"\r\n", "1") + close(),
       cgiMultipartMalformed, ""},
      {"repeated name", part("Content-Disposition: form-data; name=a; name=b\r\n", "1") + close(),
       cgiMultipartMalformed, ""},
      {"repeated Content-Disposition", part(kDisposition + kDisposition, "1") + close(),
       cgiMultipartMalformed, ""},
      {"repeated Content-Type",
       part(kDisposition + "Content-Type: a\r\ncontent-type: b\r\n", "1") + close(),
       cgiMultipartMalformed, ""},
      {"NUL in a header line", part(kDisposition + std::string("X: a\0b\r\n", 8), "1") + close(),
       cgiMultipartMalformed, ""},
      {"bare CR in a header line", part(kDisposition + "X: a\rb\r\n", "1") + close(),
       cgiMultipartMalformed, ""},
      {"folded header line", part(kDisposition + "X: a\r\n b\r\n", "1") + close(),
       cgiMultipartMalformed, ""},
      {"header line without a colon", part(kDisposition + "X a\r\n", "1") + close(),
       cgiMultipartMalformed, ""},
      {"blank before the colon", part("Content-Disposition : form-data; name=a\r\n", "1") + close(),
       cgiMultipartMalformed, ""},
      {"unterminated quoted name",
       part("Content-Disposition: form-data; name=\"a\r\n", "1") + close(), cgiMultipartMalformed,
       ""},
      {"headers that never end", "--" + B + "\r\n" + kDisposition + close(), cgiMultipartMalformed,
       ""},
  };
}

// The number of open descriptors of this process.
int openDescriptors() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n - 1;  // the directory's own
}

// The names in dir.
std::vector<std::string> listing(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  while (dirent *e = readdir(d))
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
  closedir(d);
  return names;
}

std::string readAll(FILE *f) {
  std::string s;
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) s.append(chunk, n);
  return s;
}

// The uploads a search gives, in order.
std::vector<const cgiUpload *> found(const char *name) {
  std::vector<const cgiUpload *> list;
  for (const cgiUpload *u = cgiUploadFind(name); u; u = cgiUploadNext()) list.push_back(u);
  return list;
}

// The walk over the fields as the table writes it; checks each upload's file
// and that the searches give the uploads of the walk.
std::string walk() {
  std::string out;
  std::vector<const cgiUpload *> uploads;
  const char *name, *value;
  const cgiUpload *u;
  for (int more = cgiFormFieldFirst(&name, &value, &u); more;
       more = cgiFormFieldNext(&name, &value, &u)) {
    EXPECT_EQ(cgiFormCheckboxSingle(name), cgiResultOk) << "the accessors see " << name;
    if (!u) {
      out += std::string(name) + "=" + value + ";";
      continue;
    }
    uploads.push_back(u);
    EXPECT_STREQ(u->name, name);
    EXPECT_STREQ(u->fileName, value);
    int fd = fileno(u->file);
    struct stat st;
    EXPECT_EQ(fstat(fd, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_nlink, 0u) << "unnamed";
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(ftell(u->file), 0);
    std::string content = readAll(u->file);
    EXPECT_EQ(static_cast<size_t>(u->size), content.size());
    out += std::string(name) + "@" + u->fileName + "[" + u->contentType + "]=" + content + ";";
  }
  EXPECT_EQ(found(nullptr), uploads) << "every upload";
  for (const cgiUpload *v : uploads) {
    std::vector<const cgiUpload *> same;
    for (const cgiUpload *w : uploads)
      if (strcmp(w->name, v->name) == 0) same.push_back(w);
    EXPECT_EQ(found(v->name), same) << v->name;
  }
  EXPECT_EQ(cgiUploadFind("no such field"), nullptr);
  return out;
}

// Runs every body through the driver, with the file made with O_TMPFILE and
// under a name, with the buffer as small as the limits allow and as usual.
TEST(Multipart, HostileBodies) {
  char dir[] = "/tmp/cgi-multipart-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const size_t chunk = cgiMultipartChunk;
  for (int named = 0; named <= 1; named++) {
    for (size_t size : {chunk, size_t{1}}) {
      cgiUploadNamedTemp = named;
      cgiMultipartChunk = size;
      for (const Case &c : cases()) {
        SCOPED_TRACE(std::string(c.label) + (named ? ", named file" : "") +
                     (size == 1 ? ", small buffer" : ""));
        std::string length = c.length.empty() ? std::to_string(c.body.size()) : c.length;
        Env env = {{"REQUEST_METHOD", c.method},
                   {"CONTENT_TYPE", c.type},
                   {"CONTENT_LENGTH", length},
                   {"TMPDIR", dir}};
        int before = openDescriptors();
        cgiMultipartResult result = cgiMultipartNone;
        std::string fields;
        long consumed = -1;
        testMain = [&] {
          cgiMultipartLimits limits;
          cgiMultipartDefaults(&limits);
          if (c.limits) c.limits(&limits);
          result = cgiMultipartRead(&limits);
          consumed = ftell(cgiIn);
          EXPECT_EQ(cgiMultipartRead(nullptr), result) << "a second call";
          EXPECT_EQ(ftell(cgiIn), consumed) << "a second call reads nothing";
          fields = walk();
          EXPECT_EQ(listing(dir), std::vector<std::string>{}) << "no named file";
          return 0;
        };
        runRequest(env, c.body + "TRAILER");
        testMain = nullptr;
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(fields, c.result == cgiMultipartOk ? c.fields : "");
        if (c.result == cgiMultipartOk) {
          EXPECT_EQ(consumed, std::stol(length)) << "the whole body, no more";
        }
        if (c.result != cgiMultipartOk && c.result <= cgiMultipartTooLarge) {
          EXPECT_EQ(consumed, 0) << "nothing read";
        }
        EXPECT_EQ(openDescriptors(), before) << "teardown closed every file";
        EXPECT_EQ(cgiUploadFind(nullptr), nullptr);
        EXPECT_EQ(cgiFormFieldFirst(nullptr, nullptr, nullptr), 0);
      }
    }
  }
  cgiUploadNamedTemp = 0;
  cgiMultipartChunk = chunk;
  rmdir(dir);
}

// The walk and the searches before anything exists, and a field walk over a
// URL-encoded form (no uploads).
TEST(Multipart, WalkWithoutUploads) {
  cgiFreeResources();
  EXPECT_EQ(cgiFormFieldNext(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(cgiUploadNext(), nullptr);
  setForm("a=1&b=%0D%0A&a=");
  EXPECT_EQ(walk(), "a=1;b=\r\n;a=;");
  cgiFreeResources();
}

// A directory that cannot hold files fails the read with nothing installed.
TEST(Multipart, TemporaryFileThatCannotBeMade) {
  std::string body = text("t", "1") + file("f", "x", "1") + close();
  for (int named = 0; named <= 1; named++) {
    cgiUploadNamedTemp = named;
    cgiMultipartResult result = cgiMultipartOk;
    std::string fields = "not run";
    testMain = [&] {
      result = cgiMultipartRead(nullptr);
      fields = walk();
      return 0;
    };
    runRequest({{"REQUEST_METHOD", "POST"},
                {"CONTENT_TYPE", kType},
                {"CONTENT_LENGTH", std::to_string(body.size())},
                {"TMPDIR", "/nonexistent/dir"}},
               body);
    testMain = nullptr;
    EXPECT_EQ(result, cgiMultipartFileError) << named;
    EXPECT_EQ(fields, "") << named;
  }
  cgiUploadNamedTemp = 0;
}

}  // namespace
