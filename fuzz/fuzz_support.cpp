#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace horalin::fuzz {

void SetUpEnvironment() {
  setenv("TZ", "Europe/Berlin", 1);
  setenv("LC_ALL", "C.UTF-8", 1);
  std::setlocale(LC_ALL, "");
  int null = open("/dev/null", O_RDONLY);
  if (null >= 0 && null != 0) {
    dup2(null, 0);
    close(null);
  }
}

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "\nProperty failed: %s\n--- output ---\n%s\n--- errors ---\n%s\n", what,
               CapturedOutput().substr(0, 4000).c_str(), CapturedErrors().substr(0, 4000).c_str());
  std::abort();
}

void Check(bool holds, const std::string& what) { Check(holds, what.c_str()); }

}  // namespace horalin::fuzz
