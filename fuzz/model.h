// model.h: deliberately simple second implementations of the library's rules,
// written for clarity rather than speed, that the fuzz targets hold the
// library against.
#ifndef FUZZ_MODEL_H
#define FUZZ_MODEL_H

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

using ModelEntries = std::vector<std::pair<std::string, std::string>>;

// The text a reader sees: everything before the first NUL.
inline std::string modelCText(const std::string &s) {
  return s.substr(0, s.find('\0'));
}

// The weight of one hexadecimal digit; any other byte weighs 0.
inline int modelHexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// "+" is a space, "%" and the next two bytes (whatever they are) one byte;
// an escape cut short by the end writes nothing.
inline std::string modelUnescape(const std::string &raw) {
  std::string out;
  for (size_t i = 0; i < raw.size(); i++) {
    if (raw[i] == '+') {
      out += ' ';
    } else if (raw[i] != '%') {
      out += raw[i];
    } else if (i + 2 < raw.size()) {
      out += static_cast<char>(modelHexDigit(static_cast<unsigned char>(raw[i + 1])) * 16 +
                               modelHexDigit(static_cast<unsigned char>(raw[i + 2])));
      i += 2;
    } else {
      break;
    }
  }
  return modelCText(out);
}

// Splits form data byte by byte: a name runs up to its first "=" (an "&"
// before it belongs to the name), a value up to the next "&".  A name that
// never meets its "=" is dropped.
inline ModelEntries modelDecode(const std::string &data) {
  ModelEntries entries;
  std::string name, value;
  bool inValue = false;
  for (char c : data) {
    if (!inValue && c == '=') {
      inValue = true;
    } else if (inValue && c == '&') {
      entries.emplace_back(modelUnescape(name), modelUnescape(value));
      name.clear();
      value.clear();
      inValue = false;
    } else {
      (inValue ? value : name) += c;
    }
  }
  if (inValue) entries.emplace_back(modelUnescape(name), modelUnescape(value));
  return entries;
}

// Replaces every maximal run of CR and LF bytes by as many LFs as the larger
// of its CR and LF counts (keep) or by nothing.
inline std::string modelNormalise(const std::string &value, bool keep) {
  std::string out;
  size_t i = 0;
  while (i < value.size()) {
    if (value[i] != '\r' && value[i] != '\n') {
      out += value[i++];
      continue;
    }
    size_t crs = 0, lfs = 0;
    for (; i < value.size() && (value[i] == '\r' || value[i] == '\n'); i++)
      (value[i] == '\r' ? crs : lfs)++;
    if (keep) out.append(crs > lfs ? crs : lfs, '\n');
  }
  return out;
}

// The integer the numeric accessors make of a text that starts (after its
// blanks) with a digit or a sign: the sign, then the digits, saturated.
inline int modelInteger(const std::string &text) {
  size_t i = text.find_first_not_of(" \t\r\n");
  bool negative = text[i] == '-';
  if (text[i] == '-' || text[i] == '+') i++;
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
    v = v * 10 + (text[i] - '0');
    if (v > 1LL << 32) v = 1LL << 32;
  }
  v = negative ? -v : v;
  return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

// The longest prefix of text (after its blanks) of the form [sign] digits
// [. digits] [e [sign] digits] with at least one mantissa digit, or "" when
// there is none.
inline std::string modelRealPrefix(const std::string &text) {
  size_t start = text.find_first_not_of(" \t\r\n"), i = start;
  auto digits = [&] {
    size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') i++;
    return i - from;
  };
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) i++;
  size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    i++;
    mantissa += digits();
  }
  if (mantissa == 0) return "";
  size_t end = i;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    i++;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) i++;
    if (digits() > 0) end = i;
  }
  return text.substr(start, end - start);
}

// A capture file read record by record: 18 texts, the content length, then
// name and value pairs up to a clean end of the file.
struct ModelCapture {
  std::vector<std::string> texts;
  int32_t contentLength = 0;
  ModelEntries entries;
};

// Reads one big-endian 32-bit integer at *at, if four bytes are left.
inline bool modelReadInt(const std::string &file, size_t *at, int32_t *v) {
  if (file.size() - *at < 4) return false;
  uint32_t u = 0;
  for (int k = 0; k < 4; k++) u = u << 8 | static_cast<unsigned char>(file[(*at)++]);
  *v = static_cast<int32_t>(u);
  return true;
}

// Reads one length-prefixed string at *at; a negative length or one that
// runs past the end fails.
inline bool modelReadString(const std::string &file, size_t *at, std::string *s) {
  int32_t n;
  if (!modelReadInt(file, at, &n) || n < 0 || file.size() - *at < static_cast<size_t>(n))
    return false;
  *s = file.substr(*at, static_cast<size_t>(n));
  *at += static_cast<size_t>(n);
  return true;
}

// Parses a capture file; false when a replay must fail.
inline bool modelParseCapture(const std::string &file, ModelCapture *c) {
  size_t at = 0;
  c->texts.assign(18, "");
  for (std::string &t : c->texts)
    if (!modelReadString(file, &at, &t)) return false;
  if (!modelReadInt(file, &at, &c->contentLength)) return false;
  while (at < file.size()) {
    std::string name, value;
    if (!modelReadString(file, &at, &name) || !modelReadString(file, &at, &value)) return false;
    c->entries.emplace_back(name, value);
  }
  return true;
}

// Appends a big-endian 32-bit integer record.
inline void modelWriteInt(std::string *file, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int shift = 24; shift >= 0; shift -= 8) *file += static_cast<char>(u >> shift & 0xff);
}

// Appends a string record for the text that a reader sees (up to a NUL).
inline void modelWriteString(std::string *file, const std::string &s) {
  std::string text = modelCText(s);
  modelWriteInt(file, static_cast<int32_t>(text.size()));
  *file += text;
}

// The capture file of c as a writer stores it.
inline std::string modelWriteCapture(const ModelCapture &c) {
  std::string file;
  for (const std::string &t : c.texts) modelWriteString(&file, t);
  modelWriteInt(&file, c.contentLength);
  for (const auto &[name, value] : c.entries) {
    modelWriteString(&file, name);
    modelWriteString(&file, value);
  }
  return file;
}

// text without the spaces and TABs at its ends.
inline std::string modelTrimBlanks(const std::string &text) {
  size_t from = text.find_first_not_of(" \t");
  if (from == std::string::npos) return "";
  return text.substr(from, text.find_last_not_of(" \t") - from + 1);
}

// The pairs of a Cookie header in order: split at every ";", pairs without
// "=" dropped, each name and value trimmed, one pair of quotes taken off a
// value.
inline ModelEntries modelCookies(const std::string &header) {
  ModelEntries pairs;
  for (size_t start = 0; start <= header.size();) {
    size_t end = header.find(';', start);
    if (end == std::string::npos) end = header.size();
    std::string pair = header.substr(start, end - start);
    size_t equals = pair.find('=');
    if (equals != std::string::npos) {
      std::string value = modelTrimBlanks(pair.substr(equals + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      pairs.emplace_back(modelTrimBlanks(pair.substr(0, equals)), value);
    }
    start = end + 1;
  }
  return pairs;
}

// The attributes of a Set-Cookie line, as plain values.
struct ModelCookieAttributes {
  int maxAge = 0;
  bool hasPath = false, hasDomain = false;
  std::string path, domain;
  bool secure = false, noHttpOnly = false;
  int sameSite = 0;
};

// Whether every byte of text is one of the allowed ones.
inline bool modelOnly(const std::string &text, bool (*allowed)(unsigned char)) {
  for (unsigned char c : text)
    if (!allowed(c)) return false;
  return true;
}

inline bool modelTokenByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         std::string("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string::npos;
}
inline bool modelCookieOctet(unsigned char c) {
  return c >= 0x21 && c <= 0x7e &&
         std::string("\",;\\").find(static_cast<char>(c)) == std::string::npos;
}
inline bool modelPathByte(unsigned char c) {
  return c >= 0x20 && c <= 0x7e && c != ';';
}
inline bool modelDomainByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
         c == '.' || c == '_';
}

// Whether name, in ASCII lower case, begins with prefix.
inline bool modelHasPrefix(std::string name, const std::string &prefix) {
  for (char &c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name.compare(0, prefix.size(), prefix) == 0;
}

// The result cgiHeaderSetCookie must give, as its integer code.
inline int modelSetCookieResult(const std::string &name, const std::string &value,
                                const ModelCookieAttributes &a) {
  std::string bare = value;
  if (bare.size() >= 2 && bare.front() == '"' && bare.back() == '"')
    bare = bare.substr(1, bare.size() - 2);
  std::string path = a.hasPath ? a.path : "/";
  if (name.empty() || !modelOnly(name, modelTokenByte)) return 1;
  if (!modelOnly(bare, modelCookieOctet)) return 2;
  if (name.size() + value.size() > 4096) return 8;
  if (path.empty() || path[0] != '/' || path.size() > 1024 || !modelOnly(path, modelPathByte))
    return 3;
  if (a.hasDomain &&
      (a.domain.empty() || a.domain.size() > 1024 || !modelOnly(a.domain, modelDomainByte)))
    return 4;
  if (a.sameSite < 0 || a.sameSite > 2) return 5;
  if (a.sameSite == 2 && !a.secure) return 6;
  if (modelHasPrefix(name, "__secure-") && !a.secure) return 7;
  if (modelHasPrefix(name, "__host-") && (!a.secure || a.hasDomain || path != "/")) return 7;
  return 0;
}

// The Set-Cookie line cgiHeaderSetCookie writes when it accepts the cookie.
inline std::string modelSetCookieLine(const std::string &name, const std::string &value,
                                      const ModelCookieAttributes &a) {
  static const char *const sameSite[] = {"Lax", "Strict", "None"};
  std::string line = "Set-Cookie: " + name + "=" + value;
  if (a.maxAge) line += "; Max-Age=" + std::to_string(a.maxAge > 0 ? a.maxAge : 0);
  if (a.hasDomain) line += "; Domain=" + a.domain;
  line += "; Path=" + (a.hasPath ? a.path : std::string("/"));
  if (a.secure) line += "; Secure";
  if (!a.noHttpOnly) line += "; HttpOnly";
  return line + "; SameSite=" + sameSite[a.sameSite] + "\n";
}

// What a browser reads from character data written into a page: CR LF and
// lone CRs become LF (before anything else), then each reference becomes its
// character.  Only the references a writer should use are known; any other
// "&" makes it fail, as does any "<" (it could open a tag).
inline bool modelHtmlRead(const std::string &html, std::string *text) {
  std::string input;
  for (size_t i = 0; i < html.size(); i++) {
    if (html[i] != '\r') {
      input += html[i];
    } else {
      input += '\n';
      if (i + 1 < html.size() && html[i + 1] == '\n') i++;
    }
  }
  static const char *const references[][2] = {{"&amp;", "&"},   {"&lt;", "<"},  {"&gt;", ">"},
                                              {"&quot;", "\""}, {"&#39;", "'"}, {"&#13;", "\r"}};
  text->clear();
  for (size_t i = 0; i < input.size(); i++) {
    if (input[i] == '<') return false;
    if (input[i] != '&') {
      *text += input[i];
      continue;
    }
    size_t k = 0;
    while (k < 6 && input.compare(i, strlen(references[k][0]), references[k][0]) != 0) k++;
    if (k == 6) return false;
    *text += references[k][1];
    i += strlen(references[k][0]) - 1;
  }
  return true;
}

// ---- multipart/form-data ----------------------------------------------------
// Results as cgiMultipartResult numbers them.
enum {
  kModelOk = 0,
  kModelNone = 1,
  kModelNoBoundary = 2,
  kModelTooLarge = 3,
  kModelTooManyParts = 4,
  kModelTooManyFiles = 5,
  kModelFileTooLarge = 6,
  kModelTooManyHeaders = 7,
  kModelLineTooLong = 8,
  kModelPreambleTooLong = 9,
  kModelEpilogueTooLong = 10,
  kModelMalformed = 11,
  kModelShortRead = 12,
};

struct ModelLimits {
  long long body, parts, files, fileBytes, headerFields, line, preamble, epilogue;
};

// One field of a read body: a text, or a file whose file name is value.
struct ModelField {
  std::string name, value;
  bool file;
  std::string type, content;
  bool operator==(const ModelField &o) const {
    return name == o.name && value == o.value && file == o.file && type == o.type &&
           content == o.content;
  }
};

inline bool modelBlank(char c) {
  return c == ' ' || c == '\t';
}

inline bool modelControl(char c) {
  return static_cast<unsigned char>(c) < 32 || c == 127;
}

inline bool modelTokenByte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c != '\0' && std::string("!#$%&'*+-.^_`|~").find(c) != std::string::npos);
}

inline std::string modelLower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The token at s[*i], moving past it ("" when none).
inline std::string modelToken(const std::string &s, size_t *i) {
  size_t from = *i;
  while (*i < s.size() && modelTokenByte(s[*i])) ++*i;
  return s.substr(from, *i - from);
}

// The "; name=value" parameters from s[i] on, names in lower case; false
// when the bytes are no parameter list.
inline bool modelParams(const std::string &s, size_t i,
                        std::vector<std::pair<std::string, std::string>> *params) {
  for (;;) {
    while (i < s.size() && modelBlank(s[i])) i++;
    if (i == s.size()) return true;
    if (s[i++] != ';') return false;
    while (i < s.size() && modelBlank(s[i])) i++;
    std::string name = modelLower(modelToken(s, &i));
    if (name.empty() || i == s.size() || s[i++] != '=') return false;
    std::string value;
    if (i < s.size() && s[i] == '"') {
      for (i++;; i++) {
        if (i == s.size()) return false;
        if (s[i] == '"') break;
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '"' || s[i + 1] == '\\')) i++;
        value += s[i];
      }
      i++;
    } else {
      while (i < s.size() && !modelControl(s[i]) && !modelBlank(s[i]) &&
             std::string(";\"\\").find(s[i]) == std::string::npos)
        value += s[i++];
      if (value.empty()) return false;
    }
    params->emplace_back(name, value);
  }
}

// The boundary of a content type: kModelOk, kModelNone or kModelNoBoundary.
inline int modelBoundary(const std::string &type, std::string *boundary) {
  size_t i = 0;
  while (i < type.size() && modelBlank(type[i])) i++;
  if (modelLower(modelToken(type, &i)) != "multipart" || i == type.size() || type[i++] != '/' ||
      modelLower(modelToken(type, &i)) != "form-data")
    return kModelNone;
  std::vector<std::pair<std::string, std::string>> params;
  if (!modelParams(type, i, &params)) return kModelNoBoundary;
  int count = 0;
  for (const auto &[name, value] : params)
    if (name == "boundary") {
      count++;
      *boundary = value;
    }
  const std::string bchars =
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ'()+_,-./:=? ";
  if (count != 1 || boundary->empty() || boundary->size() > 70 || boundary->back() == ' ' ||
      boundary->find_first_not_of(bchars) != std::string::npos)
    return kModelNoBoundary;
  return kModelOk;
}

// A body read whole: the bytes that arrived (after a CR LF taken to stand
// before them), whether the body announced more, and where reading is.
struct ModelBody {
  std::string d;
  bool more;
  std::string delimiter;
  ModelLimits limits;
  size_t at = 0;
};

enum { kModelNoDelimiter, kModelDelimiter, kModelClose, kModelLong, kModelNeedMore };

// What the CR at d[i] starts; for a delimiter, *end is where it stops.
inline int modelDelimiterAt(const ModelBody &b, size_t i, size_t *end) {
  const std::string &d = b.d, &m = b.delimiter;
  size_t left = d.size() - i;
  if (left < m.size())
    return b.more && d.compare(i, left, m, 0, left) == 0 ? kModelNeedMore : kModelNoDelimiter;
  if (d.compare(i, m.size(), m) != 0) return kModelNoDelimiter;
  size_t q = i + m.size();
  bool close = d.compare(q, 2, "--") == 0;
  if (close) q += 2;
  if (!close && b.more && q + 1 == d.size() && d[q] == '-') return kModelNeedMore;
  while (q < d.size() && modelBlank(d[q])) q++;
  if (static_cast<long long>(q - i - 2) > b.limits.line) return kModelLong;
  if (q == d.size()) {
    if (b.more) return kModelNeedMore;
    *end = q;
    return close ? kModelClose : kModelNoDelimiter;
  }
  if (d[q] == '\r' && q + 1 == d.size()) return b.more ? kModelNeedMore : kModelNoDelimiter;
  if (d.compare(q, 2, "\r\n") == 0) q++;
  if (d[q] != '\n') return kModelNoDelimiter;
  *end = q + 1;
  return close ? kModelClose : kModelDelimiter;
}

// Reads content up to the next delimiter into *content and moves past the
// delimiter: kModelOk, with *close telling whether it was the close one, or
// the result that stops the read.  Content past limit fails with tooLong,
// which comes before anything that the delimiter shows.
inline int modelContent(ModelBody *b, std::string *content, long long limit, int tooLong,
                        bool *close) {
  size_t i = b->at, end = 0;
  int kind = kModelNoDelimiter;
  for (; i < b->d.size(); i++)
    if (b->d[i] == '\r' && (kind = modelDelimiterAt(*b, i, &end)) != kModelNoDelimiter) break;
  *content = b->d.substr(b->at, i - b->at);
  if (static_cast<long long>(content->size()) > limit) return tooLong;
  if (i == b->d.size()) return b->more ? kModelShortRead : kModelMalformed;
  if (kind == kModelLong) return kModelLineTooLong;
  if (kind == kModelNeedMore) return kModelShortRead;
  b->at = end;
  *close = kind == kModelClose;
  return kModelOk;
}

// Reads one header line without its line end into *line.
inline int modelLine(ModelBody *b, std::string *line) {
  size_t lf = b->d.find('\n', b->at);
  if (lf == std::string::npos || static_cast<long long>(lf - b->at) > b->limits.line + 1) {
    if (static_cast<long long>(b->d.size() - b->at) >= b->limits.line + 2) return kModelLineTooLong;
    return b->more ? kModelShortRead : kModelMalformed;
  }
  *line = b->d.substr(b->at, lf - b->at);
  b->at = lf + 1;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return static_cast<long long>(line->size()) > b->limits.line ? kModelLineTooLong : kModelOk;
}

// What the header lines of one part said.
struct ModelHeads {
  bool disposition = false, hasName = false, hasFile = false, hasType = false;
  std::string name, file, type;
};

// Takes in one header line.
inline int modelHead(const std::string &line, ModelHeads *h) {
  if (line.find('\0') != std::string::npos || line.find('\r') != std::string::npos)
    return kModelMalformed;
  size_t i = 0;
  std::string name = modelLower(modelToken(line, &i));
  if (name.empty() || i == line.size() || line[i] != ':') return kModelMalformed;
  size_t from = line.find_first_not_of(" \t", i + 1), to = line.find_last_not_of(" \t");
  std::string value = from == std::string::npos ? "" : line.substr(from, to + 1 - from);
  if (name == "content-type") {
    if (h->hasType) return kModelMalformed;
    h->hasType = true;
    h->type = value;
  }
  if (name != "content-disposition") return kModelOk;
  if (h->disposition) return kModelMalformed;
  h->disposition = true;
  size_t j = 0;
  std::vector<std::pair<std::string, std::string>> params;
  if (modelLower(modelToken(value, &j)) != "form-data" || !modelParams(value, j, &params))
    return kModelMalformed;
  for (const auto &[key, v] : params) {
    if (key != "name" && key != "filename") continue;
    bool &has = key == "name" ? h->hasName : h->hasFile;
    if (has) return kModelMalformed;
    has = true;
    (key == "name" ? h->name : h->file) = v;
  }
  return h->hasName ? kModelOk : kModelMalformed;
}

// The file name of a filename parameter.
inline std::string modelFileName(const std::string &raw) {
  size_t slash = raw.find_last_of("/\\");
  std::string name;
  for (char c : raw.substr(slash == std::string::npos ? 0 : slash + 1))
    if (!modelControl(c)) name += c;
  return name == "." || name == ".." ? "" : name;
}

// Reads a multipart/form-data body of which the bytes that arrived are
// `arrived` and CONTENT_LENGTH is `announced`: the result, and on success
// the fields in form order (text values up to their first NUL).
inline int modelMultipart(const std::string &type, const std::string &arrived, long long announced,
                          const ModelLimits &limits, std::vector<ModelField> *fields) {
  std::string boundary;
  int r = modelBoundary(type, &boundary);
  if (r != kModelOk) return r;
  if (announced < 0) return kModelMalformed;
  if (announced > limits.body) return kModelTooLarge;
  ModelBody b;
  b.limits = limits;
  b.more = static_cast<long long>(arrived.size()) < announced;
  b.d = "\r\n" + arrived.substr(0, static_cast<size_t>(announced));
  b.delimiter = "\r\n--" + boundary;
  std::string content;
  bool close = false;
  r = modelContent(&b, &content, limits.preamble + 2, kModelPreambleTooLong, &close);
  if (r != kModelOk) return r;
  for (long long parts = 0, files = 0; !close;) {
    if (++parts > limits.parts) return kModelTooManyParts;
    ModelHeads h;
    std::string line;
    for (long long count = 0;;) {
      if ((r = modelLine(&b, &line)) != kModelOk) return r;
      if (line.empty()) break;
      if (++count > limits.headerFields) return kModelTooManyHeaders;
      if ((r = modelHead(line, &h)) != kModelOk) return r;
    }
    if (!h.disposition) return kModelMalformed;
    if (h.hasFile && ++files > limits.files) return kModelTooManyFiles;
    r = modelContent(&b, &content, h.hasFile ? limits.fileBytes : 1LL << 40, kModelFileTooLarge,
                     &close);
    if (r != kModelOk) return r;
    if (h.hasFile)
      fields->push_back({h.name, modelFileName(h.file), true, h.type, content});
    else
      fields->push_back({h.name, modelCText(content), false, "", ""});
  }
  if (announced - static_cast<long long>(b.at - 2) > limits.epilogue) return kModelEpilogueTooLong;
  return b.more ? kModelShortRead : kModelOk;
}

// Stops the run with a message when a property does not hold.
#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                                 \
    }                                                                          \
  } while (0)

#endif  // FUZZ_MODEL_H
