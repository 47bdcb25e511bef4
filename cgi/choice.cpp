// choice.cpp: form fields matched against the caller's lists of choices.
#include <string.h>

#include "internal.h"

extern "C" {

// The index of the first choice equal to value byte for byte, or -1.
static int cgiChoiceIndex(const char *value, const char *const *choicesText, int choicesTotal) {
  for (int i = 0; i < choicesTotal; i++)
    if (strcmp(value, choicesText[i]) == 0) return i;
  return -1;
}

// The index of the choice equal to the field's first value, else defaultV.
cgiFieldResult cgiFormSelectSingle(const char *name, const char *const *choicesText,
                                   int choicesTotal, int *result, int defaultV) {
  const cgiFormEntry *e = cgiFormEntryFindFirst(name);
  *result = defaultV;
  if (!e) return cgiResultAbsent;
  int i = cgiChoiceIndex(e->value, choicesText, choicesTotal);
  if (i < 0) return cgiResultNoMatch;
  *result = i;
  return cgiResultOk;
}

// A radio button group reads exactly as a single selection.
cgiFieldResult cgiFormRadio(const char *name, const char *const *choicesText, int choicesTotal,
                            int *result, int defaultV) {
  return cgiFormSelectSingle(name, choicesText, choicesTotal, result, defaultV);
}

// Flags every choice that some value of the field equals and counts the
// values that equal none.
cgiFieldResult cgiFormSelectMultiple(const char *name, const char *const *choicesText,
                                     int choicesTotal, int *result, int *invalid) {
  for (int i = 0; i < choicesTotal; i++) result[i] = 0;
  int unmatched = 0;
  bool matched = false;
  for (const cgiFormEntry *e = cgiFormEntryFindFirst(name); e; e = cgiFormEntryFindNext()) {
    int i = cgiChoiceIndex(e->value, choicesText, choicesTotal);
    if (i >= 0) {
      result[i] = 1;
      matched = true;
    } else {
      unmatched++;
    }
  }
  *invalid = unmatched;
  return matched ? cgiResultOk : cgiResultAbsent;
}

// A group of check boxes reads exactly as a multiple selection.
cgiFieldResult cgiFormCheckboxMultiple(const char *name, const char *const *choicesText,
                                       int choicesTotal, int *result, int *invalid) {
  return cgiFormSelectMultiple(name, choicesText, choicesTotal, result, invalid);
}

// Whether the field is present at all, whatever its value.
cgiFieldResult cgiFormCheckboxSingle(const char *name) {
  return cgiFormEntryFindFirst(name) ? cgiResultOk : cgiResultAbsent;
}
}
