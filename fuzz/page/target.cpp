// The applet page for any three values: the input, split at its first two NUL
// bytes, gives the values of name, idApp and idGrp (a missing part is an
// absent field).  They are sent percent-encoded as the query string of a GET
// request through the real driver and the real cgiMain, and the page must
// parse, the way a browser tokenizes HTML, to exactly the fixed tags and
// three params that carry the values as cgiFormString leaves them (line
// breaks normalised, cut to 49, 9 and 9 bytes).
#include <stdio.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "cgi/internal.h"
#include "fuzz/model.h"

namespace {

// One start or end tag: its lower-case name ("/x" for an end tag) and its
// attributes in order, names lower-cased, values with references decoded.
struct Tag {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
};

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
std::string lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Decodes the character references of an attribute value.  Only the ones a
// page writer needs are known; any other "&" would leave the value to the
// browser's large table of named references, so it fails the check.
std::string decodeReferences(const std::string &raw) {
  static const std::map<std::string, char> known = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
  std::string out;
  for (size_t i = 0; i < raw.size(); i++) {
    if (raw[i] != '&') {
      out += raw[i];
      continue;
    }
    size_t semi = raw.find(';', i);
    CHECK(semi != std::string::npos);
    auto hit = known.find(raw.substr(i, semi - i + 1));
    CHECK(hit != known.end());
    out += hit->second;
    i = semi;
  }
  return out;
}

// Tokenizes html into its tags, as the HTML tokenizer reads tags and
// attributes.  Text between tags must not hold a "<" or "&" at all.
std::vector<Tag> tokenize(const std::string &html) {
  std::vector<Tag> tags;
  size_t i = 0, n = html.size();
  while (i < n) {
    if (html[i] != '<') {
      CHECK(html[i] != '&');
      i++;
      continue;
    }
    i++;
    Tag tag;
    if (i < n && html[i] == '/') {
      tag.name = "/";
      i++;
    }
    CHECK(i < n && isAlpha(html[i]));
    while (i < n && !isSpace(html[i]) && html[i] != '/' && html[i] != '>') tag.name += html[i++];
    tag.name = lower(tag.name);
    for (;;) {
      while (i < n && (isSpace(html[i]) || html[i] == '/')) i++;
      CHECK(i < n);
      if (html[i] == '>') break;
      std::string name, value;
      CHECK(html[i] != '=');
      while (i < n && !isSpace(html[i]) && html[i] != '/' && html[i] != '>' && html[i] != '=')
        name += html[i++];
      CHECK(name.find_first_of("\"'<") == std::string::npos);
      while (i < n && isSpace(html[i])) i++;
      if (i < n && html[i] == '=') {
        i++;
        while (i < n && isSpace(html[i])) i++;
        CHECK(i < n);
        if (html[i] == '>') {
          // "value=>" ends the tag with an empty value.
        } else if (html[i] == '"' || html[i] == '\'') {
          char quote = html[i++];
          size_t close = html.find(quote, i);
          CHECK(close != std::string::npos);
          value = html.substr(i, close - i);
          i = close + 1;
          CHECK(i < n && (isSpace(html[i]) || html[i] == '/' || html[i] == '>'));
        } else {
          while (i < n && !isSpace(html[i]) && html[i] != '>') value += html[i++];
          CHECK(value.find_first_of("\"'<=`") == std::string::npos);
        }
      }
      tag.attributes.emplace_back(lower(name), decodeReferences(value));
    }
    i++;
    tags.push_back(tag);
  }
  return tags;
}

// The value percent-encoded, letters and digits left as they are.
std::string encode(const std::string &value) {
  std::string out;
  for (unsigned char c : value) {
    if (isAlpha(static_cast<char>(c)) || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
    } else {
      char escape[4];
      snprintf(escape, sizeof escape, "%%%02X", c);
      out += escape;
    }
  }
  return out;
}

// Runs one GET request with query as its query string; returns the response.
// The variables go into the environment with putenv from buffers of this
// target's own, rewritten in place: setenv would keep a copy of every query
// string ever set, and the run would grow without bound.
std::string request(const std::string &query) {
  static char method[] = "REQUEST_METHOD=GET";
  static char entry[16384] = "QUERY_STRING=";
  const size_t name = strlen("QUERY_STRING=");
  CHECK(name + query.size() < sizeof entry);
  memcpy(entry + name, query.c_str(), query.size() + 1);
  putenv(method);
  putenv(entry);
  char *buffer = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&buffer, &size);
  int status = 99;
  CHECK(cgiRequestRun(stdin, out, &status) == 1 && status == 0);
  fclose(out);
  std::string response(buffer, size);
  free(buffer);
  return response;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 4096) return 0;
  std::string input(reinterpret_cast<const char *>(data), size);
  static const char *const fields[3] = {"name", "idApp", "idGrp"};
  static const char *const params[3] = {"Name", "idApp", "idGrp"};
  static const size_t room[3] = {49, 9, 9};
  std::string query, expected[3];
  size_t at = 0;
  for (int k = 0; k < 3 && at <= input.size(); k++) {
    size_t nul = input.find('\0', at);
    std::string value = input.substr(at, nul == std::string::npos ? std::string::npos : nul - at);
    at = nul == std::string::npos ? input.size() + 1 : nul + 1;
    query += std::string(query.empty() ? "" : "&") + fields[k] + "=" + encode(value);
    expected[k] = modelNormalise(value, true).substr(0, room[k]);
  }

  std::string response = request(query);
  const std::string header = "Content-type: text/html\n\n";
  CHECK(response.compare(0, header.size(), header) == 0);
  CHECK(response.find('\r') == std::string::npos);
  std::vector<Tag> tags = tokenize(response.substr(header.size()));
  const char *const names[] = {"html",  "head",  "title", "/title",  "/head", "body", "applet",
                               "param", "param", "param", "/applet", "/body", "/html"};
  CHECK(tags.size() == sizeof names / sizeof names[0]);
  for (size_t k = 0; k < tags.size(); k++) {
    CHECK(tags[k].name == names[k]);
    if (tags[k].name != "param") CHECK(tags[k].name == "applet" || tags[k].attributes.empty());
  }
  CHECK((tags[6].attributes == std::vector<std::pair<std::string, std::string>>{
                                   {"code", "App.class"}, {"width", "500"}, {"height", "500"}}));
  for (int k = 0; k < 3; k++) {
    const Tag &param = tags[7 + static_cast<size_t>(k)];
    CHECK(param.attributes.size() == 2);
    CHECK(param.attributes[0] == std::make_pair(std::string("name"), std::string(params[k])));
    CHECK(param.attributes[1].first == "value");
    if (param.attributes[1].second != expected[k])
      fprintf(stderr, "param %s: got [%s], want [%s]\n", params[k],
              param.attributes[1].second.c_str(), expected[k].c_str());
    CHECK(param.attributes[1].second == expected[k]);
  }
  return 0;
}
