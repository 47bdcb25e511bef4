// micro.cpp: micro-benchmarks of decoding, the normalising copy, lookup,
// collecting every value of a field, reading cookies, HTML escaping,
// capture and replay, and reading an upload.
#include <benchmark/benchmark.h>
#include <limits.h>
#include <malloc.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "cgi/internal.h"
#include "forms.h"

namespace {

const size_t kMiB = 1024 * 1024;

// Decodes data into the entry list and releases it again, once per round.
// With fresh_pages:1 the released memory goes back to the system after each
// round (outside the timing), so every round also pays for the first touch
// of its pages, as a CGI process does; with fresh_pages:0 the heap keeps it.
void benchDecode(benchmark::State &state, const std::string &data) {
  bool fresh = state.range(0) != 0;
  cgiSetupConstants();
  cgiFreeResources();
  for (auto _ : state) {
    if (cgiParseFormInput(data.data(), static_cast<int>(data.size())) != cgiParseOk)
      state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(cgiFormEntryFirst);
    cgiFreeResources();
    if (fresh) {
      state.PauseTiming();
      malloc_trim(0);
      state.ResumeTiming();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void BM_DecodeTinyFields(benchmark::State &state) {
  benchDecode(state, benchTinyFields(kMiB));
}
BENCHMARK(BM_DecodeTinyFields)->Arg(0)->ArgName("fresh_pages")->Unit(benchmark::kMicrosecond);

// A 10 MiB body of four long values, about 30% of whose characters are escaped.
void BM_DecodeEscaped10MiB(benchmark::State &state) {
  benchDecode(state, benchLongValues(10 * kMiB, 4, 30));
}
BENCHMARK(BM_DecodeEscaped10MiB)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("fresh_pages")
    ->Unit(benchmark::kMillisecond);

void BM_DecodePlain10MiB(benchmark::State &state) {
  benchDecode(state, benchLongValues(10 * kMiB, 4, 0));
}
BENCHMARK(BM_DecodePlain10MiB)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("fresh_pages")
    ->Unit(benchmark::kMillisecond);

// The normalising copy of a 1 MiB value of 60-byte lines ending in CR LF.
void BM_NormalisingCopy(benchmark::State &state) {
  std::string value;
  while (value.size() < kMiB) value += std::string(58, 'a' + value.size() % 26) + "\r\n";
  std::string out(value.size() + 1, '\0');
  cgiFormEntry e = {const_cast<char *>("x"), &value[0], nullptr};
  for (auto _ : state) {
    cgiFormEntryString(&e, &out[0], static_cast<int>(out.size()), static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * value.size()));
}
BENCHMARK(BM_NormalisingCopy)->Arg(1)->Arg(0)->ArgName("keep")->Unit(benchmark::kMicrosecond);

// Finds field f<range(0)> among 1,000 fields f0 to f999.
void BM_LookupOf1000(benchmark::State &state) {
  std::string data;
  for (int i = 0; i < 1000; i++) data += (i ? "&f" : "f") + std::to_string(i) + "=value";
  cgiSetupConstants();
  cgiFreeResources();
  cgiParseFormInput(data.data(), static_cast<int>(data.size()));
  std::string name = "f" + std::to_string(state.range(0));
  char value[16];
  for (auto _ : state) {
    benchmark::DoNotOptimize(cgiFormString(name.c_str(), value, sizeof value));
  }
  cgiFreeResources();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_LookupOf1000)->Arg(0)->Arg(999)->ArgName("field");

// cgiFormStringMultiple over a field repeated 10,000 times, and its release.
void BM_StringMultiple10000(benchmark::State &state) {
  std::string data = benchRepeats(10000);
  cgiSetupConstants();
  cgiFreeResources();
  cgiParseFormInput(data.data(), static_cast<int>(data.size()));
  size_t bytes = 0;
  for (cgiFormEntry *e = cgiFormEntryFirst; e; e = e->next) bytes += strlen(e->value) + 1;
  for (auto _ : state) {
    char **values;
    if (cgiFormStringMultiple("x", &values) != cgiResultOk) state.SkipWithError("no values");
    cgiStringArrayFree(values);
  }
  cgiFreeResources();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_StringMultiple10000)->Unit(benchmark::kMicrosecond);

// Finds the last of the cookies in a Cookie header of range(0) KiB of
// 30-byte pairs: one pass over the whole header.
void BM_CookieLast(benchmark::State &state) {
  std::string header;
  int count = 0;
  for (; header.size() < static_cast<size_t>(state.range(0)) * 1024; count++)
    header += (count ? "; c" : "c") + std::to_string(count) + "=" + std::string(22, 'v');
  setenv("HTTP_COOKIE", header.c_str(), 1);
  std::string name = "c" + std::to_string(count - 1);
  char value[32];
  for (auto _ : state) {
    if (cgiCookieValue(name.c_str(), value, sizeof value) != cgiResultOk)
      state.SkipWithError("no cookie");
  }
  unsetenv("HTTP_COOKIE");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * header.size()));
}
BENCHMARK(BM_CookieLast)->Arg(8)->Arg(64)->ArgName("KiB")->Unit(benchmark::kMicrosecond);

// cgiHtmlWriteText of 1 MiB of text in which one byte in nine is escaped,
// written to /dev/null.
void BM_HtmlText1MiB(benchmark::State &state) {
  std::string text;
  while (text.size() < kMiB) text += "plain&text<with>some\"quoted'words and spaces ";
  FILE *saved = cgiOut;
  cgiOut = fopen("/dev/null", "w");
  for (auto _ : state) cgiHtmlWriteText(text.c_str());
  fclose(cgiOut);
  cgiOut = saved;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_HtmlText1MiB)->Unit(benchmark::kMicrosecond);

// A capture file path on a memory file system where there is one, so that
// the benchmark measures the library rather than the disk.
std::string benchCapturePath() {
  const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(dir) + "/cgi-bench-" + std::to_string(getpid()) + ".env";
}

// Loads a 1 MiB form of small fields into the entry list.
size_t benchLoadMiBForm() {
  std::string data = benchTinyFields(kMiB);
  cgiSetupConstants();
  cgiFreeResources();
  cgiParseFormInput(data.data(), static_cast<int>(data.size()));
  return data.size();
}

void BM_Capture1MiB(benchmark::State &state) {
  size_t bytes = benchLoadMiBForm();
  std::string path = benchCapturePath();
  for (auto _ : state) {
    if (cgiWriteEnvironment(path.c_str()) != cgiEnvOk) state.SkipWithError("capture failed");
  }
  unlink(path.c_str());
  cgiFreeResources();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_Capture1MiB)->Unit(benchmark::kMicrosecond);

void BM_Replay1MiB(benchmark::State &state) {
  size_t bytes = benchLoadMiBForm();
  std::string path = benchCapturePath();
  if (cgiWriteEnvironment(path.c_str()) != cgiEnvOk) state.SkipWithError("capture failed");
  for (auto _ : state) {
    if (cgiReadEnvironment(path.c_str()) != cgiEnvOk) state.SkipWithError("replay failed");
  }
  unlink(path.c_str());
  cgiFreeResources();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_Replay1MiB)->Unit(benchmark::kMicrosecond);

// A multipart body of one file part of size bytes: random bytes, or (lines)
// 60-byte lines ending in CR LF, so that every 60th byte is a CR to look at.
std::string benchUploadBody(size_t size, bool lines, const std::string &boundary) {
  std::string body = "--" + boundary +
                     "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"big.bin\"\r\n"
                     "Content-Type: application/octet-stream\r\n\r\n";
  BenchRandom random{7};
  size_t start = body.size();
  body.resize(start + size);
  for (size_t i = 0; i < size; i++)
    body[start + i] = static_cast<char>(lines ? (i % 60 == 58   ? '\r'
                                                 : i % 60 == 59 ? '\n'
                                                                : 'a' + i % 26)
                                              : random.next(256));
  return body + "\r\n--" + boundary + "--\r\n";
}

// Reads a 100 MiB file part from memory into an unnamed file on a memory
// file system (TMPDIR=/dev/shm where there is one), once per round; the
// teardown that closes the file is not timed.
void BM_UploadFile100MiB(benchmark::State &state) {
  const std::string boundary = "----BenchBoundary7MA4YWxkTrZu0gW";
  const std::string type = "multipart/form-data; boundary=" + boundary;
  std::string body = benchUploadBody(100 * kMiB, state.range(0) != 0, boundary);
  if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
  cgiMultipartLimits limits;
  cgiMultipartDefaults(&limits);
  limits.bodyBytes = limits.fileBytes = INT_MAX;
  cgiFreeResources();
  for (auto _ : state) {
    state.PauseTiming();
    cgiRequestMethod = const_cast<char *>("POST");
    cgiContentType = const_cast<char *>(type.c_str());
    cgiContentLength = static_cast<int>(body.size());
    cgiIn = fmemopen(&body[0], body.size(), "r");
    state.ResumeTiming();
    if (cgiMultipartRead(&limits) != cgiMultipartOk) state.SkipWithError("upload failed");
    state.PauseTiming();
    fclose(cgiIn);
    cgiFreeResources();
    state.ResumeTiming();
  }
  cgiRequestMethod = cgiContentType = const_cast<char *>(cgiEmptyText);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_UploadFile100MiB)->Arg(0)->Arg(1)->ArgName("lines")->Unit(benchmark::kMillisecond);

}  // namespace

// Large blocks come from the heap and stay there when released, whatever
// glibc's adaptive thresholds would do after the first few rounds, so that
// every round of a benchmark starts from the same heap.
int main(int argc, char **argv) {
  mallopt(M_MMAP_THRESHOLD, 64 * kMiB);
  mallopt(M_TRIM_THRESHOLD, 1024 * kMiB);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
