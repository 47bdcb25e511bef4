// Form data through the splitter and the unescaper, then every text, numeric
// and choice accessor on each name the data carries, each checked against the
// simple models of model.h.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "cgi/internal.h"
#include "fuzz/model.h"

extern "C" int cgiMain(void) {
  return 0;
}

namespace {

// The entry list as it stands.
ModelEntries listed() {
  ModelEntries list;
  for (const cgiFormEntry *e = cgiFormEntryFirst; e; e = e->next)
    list.emplace_back(e->name, e->value);
  return list;
}

// The text accessors on name, whose values in list order are values.
void checkText(const char *name, const std::vector<std::string> &values) {
  const std::string &first = values[0];
  int space = 0;
  CHECK(cgiFormStringSpaceNeeded(name, &space) == cgiResultOk);
  CHECK(space == static_cast<int>(first.size()) + 1);
  for (int keep = 0; keep <= 1; keep++) {
    std::string expected = modelNormalise(first, keep);
    for (int size : {space, space / 2 + 1}) {
      std::vector<char> buffer(static_cast<size_t>(size));
      cgiFieldResult r = keep ? cgiFormString(name, buffer.data(), size)
                              : cgiFormStringNoNewlines(name, buffer.data(), size);
      std::string want = expected.substr(0, static_cast<size_t>(size - 1));
      CHECK(std::string(buffer.data()) == want);
      CHECK(r == (want.size() < expected.size() ? cgiResultTruncated
                  : want.empty()                ? cgiResultEmpty
                                                : cgiResultOk));
    }
  }
  char **array = nullptr;
  CHECK(cgiFormStringMultiple(name, &array) == cgiResultOk);
  for (size_t i = 0; i < values.size(); i++)
    CHECK(array[i] && array[i] == modelNormalise(values[i], true));
  CHECK(array[values.size()] == nullptr);
  cgiStringArrayFree(array);
}

// The numeric accessors on name, whose first value is value.
void checkNumeric(const char *name, const std::string &value) {
  size_t blank = value.find_first_not_of(" \t\r\n");
  char c = blank == std::string::npos ? '\0' : value[blank];
  bool number = (c >= '0' && c <= '9') || c == '-' || c == '+';
  cgiFieldResult failed = value.empty() ? cgiResultEmpty : cgiResultNotNumeric;

  int i = 0, bounded = 0;
  cgiFieldResult r = cgiFormInteger(name, &i, -77);
  CHECK(r == (number ? cgiResultOk : failed));
  CHECK(i == (number ? modelInteger(value) : -77));
  const int bounds[][2] = {{-100, 100}, {5, -5}, {INT_MIN, INT_MAX}};
  for (const auto &b : bounds) {
    cgiFieldResult rb = cgiFormIntegerBounded(name, &bounded, b[0], b[1], 1000);
    if (!number) {
      CHECK(rb == failed && bounded == 1000);
    } else if (i < b[0] || i > b[1]) {
      CHECK(rb == cgiResultClamped && bounded == (i < b[0] ? b[0] : b[1]));
    } else {
      CHECK(rb == cgiResultOk && bounded == i);
    }
  }

  number = number || c == '.';
  double d = 0, db = 0;
  r = cgiFormDouble(name, &d, -7.5);
  CHECK(r == (number ? cgiResultOk : failed));
  if (!number) {
    CHECK(d == -7.5);
  } else {
    std::string prefix = modelRealPrefix(value);
    double want = prefix.empty() ? 0.0 : strtod(prefix.c_str(), nullptr);
    if (d != want) fprintf(stderr, "real \"%s\": got %a, want %a\n", prefix.c_str(), d, want);
    CHECK(d == want);
  }
  r = cgiFormDoubleBounded(name, &db, -1.5, 1e6, 2e6);
  if (!number)
    CHECK(db == 2e6);
  else if (d < -1.5 || d > 1e6)
    CHECK(r == cgiResultClamped && db == (d < -1.5 ? -1.5 : 1e6));
  else
    CHECK(r == cgiResultOk && db == d);
}

// The choice accessors on name, whose values in list order are values, with
// choices (which may repeat texts) taken from the whole list.
void checkChoice(const char *name, const std::vector<std::string> &values,
                 const std::vector<const char *> &choices) {
  int n = static_cast<int>(choices.size());
  auto index = [&](const std::string &v) {
    for (int k = 0; k < n; k++)
      if (v == choices[static_cast<size_t>(k)]) return k;
    return -1;
  };
  for (auto single : {cgiFormSelectSingle, cgiFormRadio}) {
    int got = 0, want = index(values[0]);
    cgiFieldResult r = single(name, choices.data(), n, &got, -3);
    CHECK(r == (want < 0 ? cgiResultNoMatch : cgiResultOk) && got == (want < 0 ? -3 : want));
  }
  std::vector<int> wantFlags(choices.size(), 0);
  int wantInvalid = 0;
  for (const std::string &v : values) {
    int k = index(v);
    if (k < 0)
      wantInvalid++;
    else
      wantFlags[static_cast<size_t>(k)] = 1;
  }
  bool matched = wantInvalid < static_cast<int>(values.size());
  for (auto many : {cgiFormSelectMultiple, cgiFormCheckboxMultiple}) {
    std::vector<int> flags(choices.size() + 1, 9);
    int invalid = -1;
    cgiFieldResult r = many(name, choices.data(), n, flags.data(), &invalid);
    CHECK(r == (matched ? cgiResultOk : cgiResultAbsent) && invalid == wantInvalid);
    CHECK(flags.back() == 9);
    flags.pop_back();
    CHECK(flags == wantFlags);
  }
  CHECK(cgiFormCheckboxSingle(name) == cgiResultOk);
}

// Every accessor on a name that no entry bears.
void checkAbsent(const char *name, const std::vector<const char *> &choices) {
  char buffer[4] = "xyz";
  int space = 0, i = 0, invalid = 7;
  double d = 0;
  char **array = nullptr;
  CHECK(cgiFormString(name, buffer, 4) == cgiResultAbsent && buffer[0] == '\0');
  CHECK(cgiFormStringSpaceNeeded(name, &space) == cgiResultAbsent && space == 1);
  CHECK(cgiFormStringMultiple(name, &array) == cgiResultAbsent && array && !array[0]);
  cgiStringArrayFree(array);
  CHECK(cgiFormIntegerBounded(name, &i, 0, 1, 5) == cgiResultAbsent && i == 5);
  CHECK(cgiFormDouble(name, &d, 0.25) == cgiResultAbsent && d == 0.25);
  std::vector<int> flags(choices.size(), 1);
  CHECK(cgiFormSelectSingle(name, choices.data(), static_cast<int>(choices.size()), &i, 3) ==
        cgiResultAbsent);
  CHECK(i == 3);
  CHECK(cgiFormSelectMultiple(name, choices.data(), static_cast<int>(choices.size()), flags.data(),
                              &invalid) == cgiResultAbsent);
  CHECK(invalid == 0 && flags == std::vector<int>(choices.size(), 0));
  CHECK(cgiFormCheckboxSingle(name) == cgiResultAbsent);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 65536) return 0;
  std::string form(reinterpret_cast<const char *>(data), size);
  cgiFreeResources();
  cgiSetupConstants();
  // libFuzzer's own copy of the input ends exactly at its last byte, so a
  // read past the form data is reported.
  CHECK(cgiParseFormInput(reinterpret_cast<const char *>(data), static_cast<int>(size)) ==
        cgiParseOk);
  ModelEntries list = listed();
  CHECK(list == modelDecode(form));

  std::vector<const char *> choices;
  for (size_t k = 0; k < list.size() && k < 8; k++) choices.push_back(list[k].second.c_str());
  choices.push_back("");
  std::vector<std::string> seen;
  for (size_t k = 0; k < list.size() && seen.size() < 16; k++) {
    const std::string &name = list[k].first;
    bool again = false;
    for (const std::string &s : seen) again = again || s == name;
    if (again) continue;
    seen.push_back(name);
    std::vector<std::string> values;
    for (const auto &[n, v] : list)
      if (n == name) values.push_back(v);
    checkText(name.c_str(), values);
    checkNumeric(name.c_str(), values[0]);
    checkChoice(name.c_str(), values, choices);
  }
  size_t longest = 0;  // a name longer than any entry's is absent
  for (const auto &entry : list)
    longest = entry.first.size() > longest ? entry.first.size() : longest;
  checkAbsent(std::string(longest + 1, 'a').c_str(), choices);
  cgiFreeResources();
  return 0;
}
