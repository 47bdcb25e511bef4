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

// Stops the run with a message when a property does not hold.
#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                                 \
    }                                                                          \
  } while (0)

#endif  // FUZZ_MODEL_H
