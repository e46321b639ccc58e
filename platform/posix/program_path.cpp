#include "platform/posix/program_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace horalin::platform {

namespace {

int CheckProgram(const char* candidate) {
  struct stat info;
  if (stat(candidate, &info) != 0) return errno == ENOTDIR ? ENOENT : errno;
  if (!S_ISREG(info.st_mode) || access(candidate, X_OK) != 0) return EACCES;
  return 0;
}

}  // namespace

int FindProgram(const char* name, char* path, std::size_t capacity) {
  std::size_t length = std::strlen(name);
  if (length == 0) return ENOENT;
  if (std::strchr(name, '/')) {
    if (length >= capacity) return ENAMETOOLONG;
    std::memcpy(path, name, length + 1);
    return CheckProgram(path);
  }
  const char* folders = std::getenv("PATH");
  if (!folders) folders = "/bin:/usr/bin";
  int found = ENOENT;
  for (const char* p = folders;; ++p) {
    const char* end = std::strchr(p, ':');
    std::size_t n = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
    if (n + 1 + length < capacity) {
      std::memcpy(path, n ? p : ".", n ? n : 1);
      std::size_t at = n ? n : 1;
      path[at] = '/';
      std::memcpy(path + at + 1, name, length + 1);
      int error = CheckProgram(path);
      if (error == 0) return 0;
      if (error == EACCES) found = EACCES;
    }
    if (!end) break;
    p = end;
  }
  return found;
}

}  // namespace horalin::platform
