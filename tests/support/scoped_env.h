// Sets an environment variable for one test and puts the old value back afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace horalin::testing {

struct ScopedEnv {
  std::string name;
  std::optional<std::string> saved;

  ScopedEnv(const char* variable, const char* value) : name(variable) {
    if (const char* old = std::getenv(variable)) saved = old;
    Set(value);
  }
  ~ScopedEnv() { Set(saved ? saved->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void Set(const char* value) {
    if (value)
      setenv(name.c_str(), value, 1);
    else
      unsetenv(name.c_str());
  }
};

}  // namespace horalin::testing
