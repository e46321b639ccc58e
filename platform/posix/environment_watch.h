// POSIX backend: whether environment variables have changed since they were last looked
// at, told without a search of the environment, for a check on every formatted line (the
// zone follows TZ, the locale LC_ALL, LC_TIME, LC_CTYPE and LANG).
//
// A watched variable is remembered by where it was found: its entry, or, while it is not
// set, the end of the array, where setenv and putenv add an entry (unsetenv moves the
// later entries down; the C library never shrinks the array that it keeps, nor frees an
// entry that it made). Its value is remembered too, as putenv lets a program change a
// value in place. A check compares pointers first and the value's bytes last.
#pragma once

#include <unistd.h>  // environ

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/words.h"

namespace horalin::platform {

inline constexpr size_t kWatchedEntryBytes =
    260;  // "NAME=value" and its terminator; longer ones always count as changed

struct WatchedVariable {
  const char* name;   // with its "=", at least three bytes: "TZ="
  size_t where;       // its entry; while not set, the number of entries
  const char* entry;  // its entry; while not set, the last entry (null when there is none)
  bool set;
  enum Remembered : uint8_t { Nothing, Unset, Value, TooLong } remembered;
  size_t bytes;  // of `seen`, the terminator included
  char seen[kWatchedEntryBytes];
};

// A variable not looked for yet; `name` with its "=".
constexpr WatchedVariable Watching(const char* name) {
  return {name, 0, nullptr, false, WatchedVariable::Nothing, 0, {}};
}

template <size_t Count>
struct EnvironmentWatch {
  WatchedVariable variables[Count];
  char** entries;  // environ when the variables were looked for (null: look again)
};

namespace watch {

// Whether the n bytes (at least four) at a and b agree, a word at a time; words may
// overlap. Nearly every entry has 8 to 24 bytes: three words.
inline bool SameBytes(const char* a, const char* b, size_t n) {
  auto differ = [&](size_t at) { return words::Load(a + at) ^ words::Load(b + at); };
  // For n below 8, n - 8 wraps around to a value far above 16 (size_t is unsigned), so
  // this branch takes only 8 to 24 bytes and the one below only 4 to 7.
  if (n - 8 <= 16) return (differ(0) | differ((n - 8) / 2) | differ(n - 8)) == 0;
  if (n < 8) {
    auto load4 = [](const char* p) {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    };
    return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
  }
  uint64_t any = 0;
  for (size_t i = 0; i + 8 < n; i += 8) any |= differ(i);
  return (any | differ(n - 8)) == 0;
}

// Whether the variable is where it was found, with the value last seen. A set one's
// entry is the one seen, so it still has the storage that held `seen` and its
// terminator: the bytes compare without a search for the end.
inline bool StillSeen(char** env, const WatchedVariable& v) {
  if (!v.set) return !env[v.where] && (v.where ? env[v.where - 1] == v.entry : true);
  return v.remembered == WatchedVariable::Value && env[v.where] == v.entry && SameBytes(v.entry, v.seen, v.bytes);
}

// Notes where the variable is now (its entry, or null) and takes its value; whether the
// value differs from the one last seen. A value too long to remember always differs.
inline bool Remember(char** env, size_t count, char* found, WatchedVariable& v) {
  v.set = found != nullptr;
  v.where = found ? v.where : count;
  v.entry = found ? found : count ? env[count - 1] : nullptr;
  if (!found) {
    bool changed = v.remembered != WatchedVariable::Unset;
    v.remembered = WatchedVariable::Unset;
    return changed;
  }
  size_t bytes = std::strlen(found) + 1;
  if (bytes > sizeof v.seen) {
    v.remembered = WatchedVariable::TooLong;
    return true;
  }
  bool changed = v.remembered != WatchedVariable::Value || bytes != v.bytes || std::memcmp(v.seen, found, bytes) != 0;
  std::memcpy(v.seen, found, bytes);
  v.bytes = bytes;
  v.remembered = WatchedVariable::Value;
  return changed;
}

}  // namespace watch

// Whether every watched variable is where it was found, with the value last seen: when
// so, none has changed. (False also tells of a change elsewhere in the environment.)
template <size_t Count>
bool Unchanged(const EnvironmentWatch<Count>& watch) {
  char** env = environ;
  if (!env || env != watch.entries) return false;
  for (const WatchedVariable& v : watch.variables)
    if (!watch::StillSeen(env, v)) return false;
  return true;
}

// Looks for the variables in one pass over the environment (the first entry of each
// name, as getenv finds it), noting where they are; whether any value differs from the
// one last seen. Every variable differs at the first look.
template <size_t Count>
bool LookAgain(EnvironmentWatch<Count>& watch) {
  char** env = environ;
  watch.entries = env;
  char* found[Count]{};
  size_t count = 0;
  for (; env && env[count]; ++count) {
    for (size_t k = 0; k < Count; ++k) {
      const char* name = watch.variables[k].name;
      size_t n = std::strlen(name);
      if (!found[k] && std::strncmp(env[count], name, n) == 0) {
        found[k] = env[count];
        watch.variables[k].where = count;
      }
    }
  }
  bool changed = false;
  for (size_t k = 0; k < Count; ++k) changed |= watch::Remember(env, count, found[k], watch.variables[k]);
  return changed;
}

// The variable's value as last looked for; null when it is not set.
inline const char* ValueOf(const WatchedVariable& v) { return v.set ? v.entry + std::strlen(v.name) : nullptr; }

}  // namespace horalin::platform
