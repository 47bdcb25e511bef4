// forms.h: form data for the benchmarks and the decoder check.
#ifndef BENCH_FORMS_H
#define BENCH_FORMS_H

#include <string>

// A small deterministic generator, so every run sees the same bytes.
struct BenchRandom {
  unsigned long long state;
  unsigned next(unsigned bound) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<unsigned>((state >> 33) % bound);
  }
};

// At least size bytes of fields like "f123=v45", joined by "&".
std::string benchTinyFields(size_t size);

// count fields of long values, size bytes in all; about share percent of the
// characters are escaped ("%XY", and now and then "+").
std::string benchLongValues(size_t size, int count, int share);

// count fields that all bear the name "x".
std::string benchRepeats(int count);

#endif
