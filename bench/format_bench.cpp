// FormatDateTime beside glibc's strftime doing the same work, in one run. TS formats one
// stamp per line, so the stamp format is the one that matters most.
#include <benchmark/benchmark.h>
#include <time.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "datetime/format.h"

namespace {

using horalin::SYSTEMTIME;

constexpr SYSTEMTIME kTime = {2026, 12, 0, 6, 13, 5, 9, 42};

tm BrokenDown() {
  tm t{};
  t.tm_year = kTime.wYear - 1900;
  t.tm_mon = kTime.wMonth - 1;
  t.tm_mday = kTime.wDay;
  t.tm_hour = kTime.wHour;
  t.tm_min = kTime.wMinute;
  t.tm_sec = kTime.wSecond;
  t.tm_isdst = -1;
  mktime(&t);  // weekday, day of the year, offset and zone name, as localtime gives them
  return t;
}

void Run(benchmark::State& state, const char16_t* format, uint32_t flags) {
  static char16_t out[horalin::kFormatOutputCapacity];
  for (auto _ : state) {
    benchmark::DoNotOptimize(horalin::FormatDateTime(out, format, kTime, flags));
    benchmark::ClobberMemory();
  }
}

// strftime has no milliseconds: they follow through snprintf, as a stamper would add them.
void RunStrftime(benchmark::State& state, const char* format) {
  tm t = BrokenDown();
  char out[1024];
  for (auto _ : state) {
    size_t n = strftime(out, sizeof out, format, &t);
    n += static_cast<size_t>(std::snprintf(out + n, sizeof out - n, ".%03u", unsigned{kTime.wMilliseconds}));
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
}

void RunWcsftime(benchmark::State& state, const wchar_t* format) {
  tm t = BrokenDown();
  wchar_t out[1024];
  for (auto _ : state) {
    size_t n = wcsftime(out, 1024, format, &t);
    n += static_cast<size_t>(std::swprintf(out + n, 1024 - n, L".%03u", unsigned{kTime.wMilliseconds}));
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
}

// The default stamp of TS: date and time to the millisecond.
void BM_Stamp_FormatDateTime(benchmark::State& state) { Run(state, u"%F %H:%M:%S.%L", horalin::FDT_NO_DOUBLE_PERCENT); }
void BM_Stamp_Strftime(benchmark::State& state) { RunStrftime(state, "%F %T"); }
void BM_Stamp_Wcsftime(benchmark::State& state) { RunWcsftime(state, L"%F %T"); }

// Names, modifiers and composite directives, no zone.
void BM_Names_FormatDateTime(benchmark::State& state) {
  Run(state, u"%A, %B %#d%?d %Y (%^a, %Eb) week %V day %j, %I:%M:%S.%L %p", 0);
}
void BM_Names_Strftime(benchmark::State& state) { RunStrftime(state, "%A, %B %e %Y (%a, %b) week %V day %j, %r"); }

// The same with the zone's offset and name, which take a zone snapshot per call.
void BM_Zone_FormatDateTime(benchmark::State& state) { Run(state, u"%F %T.%L %z %Z", 0); }
void BM_Zone_Strftime(benchmark::State& state) { RunStrftime(state, "%F %T %z %Z"); }

BENCHMARK(BM_Stamp_FormatDateTime);
BENCHMARK(BM_Stamp_Strftime);
BENCHMARK(BM_Stamp_Wcsftime);
BENCHMARK(BM_Names_FormatDateTime);
BENCHMARK(BM_Names_Strftime);
BENCHMARK(BM_Zone_FormatDateTime);
BENCHMARK(BM_Zone_Strftime);

}  // namespace

int main(int argc, char** argv) {
  // A fixed zone and locale, for both sides alike.
  setenv("TZ", "America/New_York", 1);
  setenv("LC_ALL", "en_US.UTF-8", 1);
  tzset();
  std::setlocale(LC_ALL, "");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
