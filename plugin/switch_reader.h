// The one reader of the switches in host/switches.h, for every command that takes them
// (TS, run, restamp, datefmt --lines): it splits the argument text with the tokenizer,
// finds each argument's row among those the command accepts, and hands it with the value
// the row parsed to the command's applier for its effect.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/switches.h"

namespace horalin {

enum class SwitchRead : uint8_t {
  kRun,     // every argument taken: the command goes on
  kDone,    // the usage text was shown: the command ends with success
  kFailed,  // an error was reported
};

// An argument that names a row of kTsSwitches.
struct SwitchArgument {
  const TsSwitch& row;
  char16_t* text;         // as the tokenizer gives it, double quotes and all (messages show it)
  const char16_t* value;  // what follows the row's name: in `text`, or for a row compared
                          // without double quotes, in a copy of it without them
};

// Applies a switch to `target`, the record of the list it is in.
using ApplySwitch = SwitchRead (*)(void* target, const SwitchArgument& argument);
struct SwitchApplier {
  SwitchEffect effect;
  ApplySwitch apply;
};

// A list of appliers, each for one effect, over one record.
struct SwitchAppliers {
  const SwitchApplier* list;
  size_t count;
  void* target;
};

// An argument that names no switch the command accepts: false after reporting an error.
using OtherArgument = bool (*)(void* target, char16_t* argument);

struct SwitchReading {
  uint8_t command;      // its SwitchCommands bit
  SwitchAppliers ts;    // TS's switches, for the commands that stamp lines; else none
  SwitchAppliers own;   // the command's own
  OtherArgument other;  // with ts.target
};

// Reads the arguments of `text` by the rows that `reading.command` accepts, in their order.
SwitchRead ReadSwitches(const char16_t* text, const SwitchReading& reading);

// Whether `list` applies the effect of every row that `command` accepts, but those of the
// rows `excluded` accepts (TS's, applied by TS's own list): a command's lists are held to
// it at compile time.
template <size_t N>
constexpr bool AppliesEveryRow(uint8_t command, const SwitchApplier (&list)[N], uint8_t excluded = 0) {
  for (const TsSwitch& row : kTsSwitches) {
    if (!AcceptedByAll(row, command) || (excluded && AcceptedByAll(row, excluded))) continue;
    bool applied = false;
    for (const SwitchApplier& a : list) applied = applied || a.effect == row.effect;
    if (!applied) return false;
  }
  return true;
}

}  // namespace horalin
