// FormatDateTime beside glibc's strftime doing the same work, in one run. TS formats one
// stamp per line, so the stamp format is the one that matters most.
#include <benchmark/benchmark.h>
#include <time.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "datetime/format.h"
#include "datetime/instant.h"
#include "lines/platform_services.h"

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

horalin::DateTime Record() {
  horalin::DateTime record;
  horalin::ResolveLocalTime(kTime, kTime.wMilliseconds * 1000000u, false, horalin::kPlatformServices, &record);
  return record;
}

void Run(benchmark::State& state, const char16_t* format, uint32_t flags) {
  static char16_t out[horalin::kFormatText];
  const horalin::DateTime record = Record();
  for (auto _ : state) {
    benchmark::DoNotOptimize(horalin::FormatDateTime(out, format, record, flags, horalin::kPlatformServices));
    benchmark::ClobberMemory();
  }
}

// The same format compiled once, as TS runs it line after line.
void RunCompiled(benchmark::State& state, const char16_t* format, uint32_t flags) {
  static char16_t out[horalin::kFormatText];
  static horalin::CompiledFormat compiled;
  horalin::CompileFormat(format, flags, &compiled);
  const horalin::DateTime record = Record();
  for (auto _ : state) {
    benchmark::DoNotOptimize(horalin::RenderFormat(out, compiled, record, horalin::kPlatformServices));
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
void BM_Stamp_Compiled(benchmark::State& state) {
  RunCompiled(state, u"%F %H:%M:%S.%L", horalin::FDT_NO_DOUBLE_PERCENT);
}
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

// Random instants (argument 0: from 1601 to 9999; 1: within 2024), rendered with the zone's
// offset, name and the instant: FormatDateTime from the local time, which the resolver turns
// into its instant, and from the instant, which the zone turns into its local time; the C
// library from the instant, by localtime_r and strftime. Beside them FormatDateTime with
// the same format less the zone directives.
constexpr size_t kInstants = 4096;
struct Instants {
  time_t utc[kInstants];
  SYSTEMTIME local[kInstants];
};

const Instants& RandomInstants(int64_t withinOneYear) {
  static Instants sets[2];
  static bool made[2];
  Instants& set = sets[withinOneYear];
  if (!made[withinOneYear]) {
    made[withinOneYear] = true;
    const int64_t first = withinOneYear ? 1704067200 : -11644473600, last = withinOneYear ? 1735689599 : 253402257599;
    uint64_t seed = 20240229;
    for (size_t i = 0; i < kInstants; ++i) {
      seed = seed * 6364136223846793005u + 1442695040888963407u;
      set.utc[i] =
          static_cast<time_t>(first + static_cast<int64_t>((seed >> 11) % static_cast<uint64_t>(last - first)));
      tm t;
      localtime_r(&set.utc[i], &t);
      set.local[i] = {static_cast<uint16_t>(t.tm_year + 1900), static_cast<uint16_t>(t.tm_mon + 1),
                      static_cast<uint16_t>(t.tm_wday),        static_cast<uint16_t>(t.tm_mday),
                      static_cast<uint16_t>(t.tm_hour),        static_cast<uint16_t>(t.tm_min),
                      static_cast<uint16_t>(t.tm_sec),         0};
    }
  }
  return set;
}

void RunRandom(benchmark::State& state, const char16_t* format) {
  static char16_t out[horalin::kFormatText];
  const Instants& set = RandomInstants(state.range(0));
  size_t i = 0;
  for (auto _ : state) {
    horalin::DateTime record;
    horalin::ResolveLocalTime(set.local[i++ % kInstants], 0, false, horalin::kPlatformServices, &record);
    benchmark::DoNotOptimize(horalin::FormatDateTime(out, format, record, 0, horalin::kPlatformServices));
    benchmark::ClobberMemory();
  }
}

void BM_ZoneRandom_FromInstant_FormatDateTime(benchmark::State& state) {
  static char16_t out[horalin::kFormatText];
  const Instants& set = RandomInstants(state.range(0));
  size_t i = 0;
  for (auto _ : state) {
    horalin::DateTime record;
    horalin::DateTimeAt({set.utc[i++ % kInstants], 0}, false, horalin::kPlatformServices, &record);
    benchmark::DoNotOptimize(
        horalin::FormatDateTime(out, u"%F %H:%M:%S %z %Z %s", record, 0, horalin::kPlatformServices));
    benchmark::ClobberMemory();
  }
}

void BM_ZoneRandom_FormatDateTime(benchmark::State& state) { RunRandom(state, u"%F %H:%M:%S %z %Z %s"); }
void BM_ZoneRandom_WithoutZone_FormatDateTime(benchmark::State& state) { RunRandom(state, u"%F %H:%M:%S"); }
void BM_ZoneRandom_LocaltimeStrftime(benchmark::State& state) {
  const Instants& set = RandomInstants(state.range(0));
  char out[1024];
  const char* format = "%F %H:%M:%S %z %Z %s";  // not a literal at the call: %s is a GNU extension
  benchmark::DoNotOptimize(format);
  size_t i = 0;
  for (auto _ : state) {
    tm t;
    localtime_r(&set.utc[i++ % kInstants], &t);
    benchmark::DoNotOptimize(strftime(out, sizeof out, format, &t));
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_Stamp_FormatDateTime);
BENCHMARK(BM_Stamp_Compiled);
BENCHMARK(BM_Stamp_Strftime);
BENCHMARK(BM_Stamp_Wcsftime);
BENCHMARK(BM_Names_FormatDateTime);
BENCHMARK(BM_Names_Strftime);
BENCHMARK(BM_Zone_FormatDateTime);
BENCHMARK(BM_Zone_Strftime);
BENCHMARK(BM_ZoneRandom_FormatDateTime)->Arg(0)->Arg(1);
BENCHMARK(BM_ZoneRandom_FromInstant_FormatDateTime)->Arg(0)->Arg(1);
BENCHMARK(BM_ZoneRandom_WithoutZone_FormatDateTime)->Arg(0)->Arg(1);
BENCHMARK(BM_ZoneRandom_LocaltimeStrftime)->Arg(0)->Arg(1);

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
