#include "plugin/switch_reader.h"

#include "common/text.h"
#include "common/types.h"
#include "plugin/tokenizer.h"

namespace horalin {

namespace {

// Where the value of `row` begins in `text`, or null when `text` does not name it.
const char16_t* SwitchValue(const TsSwitch& row, const char16_t* text) {
  if (!StartsWithNoCase(text, row.name)) return nullptr;
  const char16_t* rest = text + TextLength(row.name);
  switch (row.match) {
    case SwitchMatch::Exact: return *rest == 0 ? rest : nullptr;
    case SwitchMatch::Prefix: return rest;
    case SwitchMatch::Valued:
      if (*rest == u':' || *rest == u'=') return rest + 1;
      return *rest == 0 ? rest : nullptr;
  }
  return nullptr;
}

// The argument without its double quotes, in `out` (kSmallText units).
void CopyWithoutQuotes(const char16_t* argument, char16_t* out) {
  size_t n = 0;
  for (const char16_t* p = argument; *p && n + 1 < kSmallText; ++p)
    if (*p != u'"') out[n++] = *p;
  out[n] = 0;
}

// The row of kTsSwitches that `command` accepts and `argument` names, or null; `*value`
// is then where its value begins, in `argument` or in `unquoted` (kSmallText units).
const TsSwitch* FindSwitch(const char16_t* argument, uint8_t command, char16_t* unquoted, const char16_t** value) {
  CopyWithoutQuotes(argument, unquoted);
  for (const TsSwitch& row : kTsSwitches) {
    if (!AcceptedByAll(row, command)) continue;
    if (const char16_t* at = SwitchValue(row, row.quotesRemoved ? unquoted : argument)) {
      *value = at;
      return &row;
    }
  }
  return nullptr;
}

// The command's applier of the row's effect: in TS's list or its own. Every row the
// command accepts has one (AppliesEveryRow).
SwitchRead Apply(const SwitchReading& reading, const SwitchArgument& argument) {
  const SwitchAppliers* lists[] = {&reading.ts, &reading.own};
  for (const SwitchAppliers* appliers : lists)
    for (size_t k = 0; k < appliers->count; ++k)
      if (appliers->list[k].effect == argument.row.effect) return appliers->list[k].apply(appliers->target, argument);
  return SwitchRead::kFailed;
}

}  // namespace

SwitchRead ReadSwitches(const char16_t* text, const SwitchReading& reading) {
  ArgumentList arguments;
  int32_t count = TokenizeArguments(text, &arguments);
  if (count < 0) return SwitchRead::kFailed;
  for (int32_t k = 0; k < count; ++k) {
    char16_t* argument = arguments.args[k];
    if (arguments.lengths[k] == 0) continue;
    char16_t unquoted[kSmallText];
    const char16_t* value = nullptr;
    const TsSwitch* row = FindSwitch(argument, reading.command, unquoted, &value);
    if (!row) {
      if (!reading.other(reading.ts.target, argument)) return SwitchRead::kFailed;
      continue;
    }
    SwitchRead read = Apply(reading, SwitchArgument{*row, argument, value});
    if (read != SwitchRead::kRun) return read;
  }
  return SwitchRead::kRun;
}

}  // namespace horalin
