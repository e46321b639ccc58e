// A command for the tests of `horalin run`, built for both systems: it does what its
// arguments say, in order.
//   o:TEXT   TEXT and a line end on standard output     e:TEXT  the same on standard error
//   O:TEXT   TEXT alone on standard output              E:TEXT  the same on standard error
//   sleep:MS  a pause      close-out  closes standard output      lines:N  N lines "line K"
//   args     each later argument on a line of its own   exit:N  signal:N  ends so
//   b:HEX    the bytes HEX on standard output           B:HEX   the same on standard error
//   long:N   a line of N x on standard output           copy    standard input to standard output
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* value = std::strchr(a, ':') ? std::strchr(a, ':') + 1 : "";
    if (a[0] && a[1] == ':' && std::strchr("oOeE", a[0])) {
      std::FILE* f = a[0] == 'o' || a[0] == 'O' ? stdout : stderr;
      std::fputs(value, f);
      if (a[0] == 'o' || a[0] == 'e') std::fputc('\n', f);
      std::fflush(f);
    } else if (std::strncmp(a, "sleep:", 6) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(value)));
    } else if (std::strcmp(a, "close-out") == 0) {
      std::fclose(stdout);
    } else if (std::strncmp(a, "lines:", 6) == 0) {
      static char buffer[1 << 16];  // written in large pieces: some C runtimes write each line alone
      size_t used = 0;
      for (long k = 1, n = std::atol(value); k <= n; ++k) {
        used += static_cast<size_t>(std::snprintf(buffer + used, 32, "line %ld\n", k));
        if (used > sizeof buffer - 32 || k == n) std::fwrite(buffer, 1, used, stdout), used = 0;
      }
      std::fflush(stdout);
    } else if ((a[0] == 'b' || a[0] == 'B') && a[1] == ':') {
      for (const char* p = value; p[0] && p[1]; p += 2) {
        char hex[3] = {p[0], p[1], 0};
        std::fputc(static_cast<int>(std::strtol(hex, nullptr, 16)), a[0] == 'b' ? stdout : stderr);
      }
      std::fflush(a[0] == 'b' ? stdout : stderr);
    } else if (std::strncmp(a, "long:", 5) == 0) {
      for (long k = std::atol(value); k > 0; --k) std::fputc('x', stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    } else if (std::strcmp(a, "copy") == 0) {
      for (int c; (c = std::fgetc(stdin)) != EOF;) std::fputc(c, stdout);
      std::fflush(stdout);
    } else if (std::strcmp(a, "args") == 0) {
      for (++i; i < argc; ++i) std::printf("[%s]\n", argv[i]);
      std::fflush(stdout);
    } else if (std::strncmp(a, "exit:", 5) == 0) {
      return static_cast<int>(std::strtoul(value, nullptr, 0));  // 0xC0000005 too
    } else if (std::strncmp(a, "signal:", 7) == 0) {
      std::raise(std::atoi(value));
    }
  }
  return 0;
}
