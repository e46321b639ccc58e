// The switches of TS and of the commands that read their arguments as TS does (run,
// restamp, and datefmt --lines for restamp's reading of stamps): one table, from which the
// plug-in's one reader reads the arguments (plugin/switch_reader.h) and the help texts of
// TS and of the program's commands name them. A new switch is a row here and its effect's
// applier in the list of each command that takes it (a command that takes a row and has
// no applier for its effect fails the build).
#pragma once

#include <cstdint>

#include "common/text.h"

namespace horalin {

// The commands, as bits: which of them accept a switch.
enum SwitchCommands : uint8_t {
  kSwitchTs = 1,
  kSwitchRun = 2,
  kSwitchRestamp = 4,
  kSwitchLines = 8,  // datefmt --lines, whose options are restamp's reading of stamps
};
inline constexpr uint8_t kSwitchTsFamily = kSwitchTs | kSwitchRun | kSwitchRestamp;

// How an argument names a switch; the name is compared in any case.
enum class SwitchMatch : uint8_t {
  Exact,   // the whole argument: "/D"
  Prefix,  // the argument begins with the name, which the value follows: "/CP1252", "/CP:1252"
  Valued,  // the name alone, or the name, ":" or "=", and the value: "/FORM", "/ZONE:UTC"
};

// What a switch does. TS's reader applies its own; a command's own go to that command.
enum class SwitchEffect : uint8_t {
  Usage,     // the usage text, with the version lines for "/??"; nothing is read
  CodePage,  // the code page of input that is not Unicode
  Date,      // the stamp's parts (TSF_*)
  Time,
  Incremental,
  Cumulative,
  Footer,     // a footer line at the end
  Utc,        // the stamp in UTC (FDT_UTC)
  Encoding,   // the input's encoding
  Merge,      // run: both streams onto standard output, tagged
  Terminals,  // run: the command's streams on terminals of their own
  Pipes,      // run: the command's streams on pipes
  StampForm,  // restamp: the form of the stamps read
  StampZone,  // restamp: the zone of stamps without an offset
  StampYear,  // restamp: the year of stamps without one
  Relative,   // restamp: the time from each stamp to now
};

struct TsSwitch {
  const char16_t* name;  // in upper case
  SwitchMatch match;
  SwitchEffect effect;
  uint8_t commands;        // SwitchCommands
  bool quotesRemoved;      // compared with the argument less its double quotes ("/FORM:%d %H")
  const char16_t* syntax;  // as the help texts name it; null: not named (an alias)
  const char16_t* help;    // its help, lines parted by "\n"; null: none of its own
};

// "/UNICODE" with a name after it, ":" or "=" between them or not: an encoding.
inline constexpr char16_t kUnicodeSwitch[] = u"/UNICODE";

// In the order in which they are tried (the first that matches wins) and listed. "/UTC"
// and "/U" come before the encoding forms of "/U", "/UNICODE" before the others.
inline constexpr TsSwitch kTsSwitches[] = {
    {u"/?", SwitchMatch::Prefix, SwitchEffect::Usage, kSwitchTsFamily, false, nullptr, nullptr},
    {u"/CP", SwitchMatch::Prefix, SwitchEffect::CodePage, kSwitchTsFamily, false, u"/CP:n",
     u"code page (for non-Unicode text)"},
    {u"/D", SwitchMatch::Exact, SwitchEffect::Date, kSwitchTsFamily, false, u"/D", u"include the date"},
    {u"/F", SwitchMatch::Exact, SwitchEffect::Footer, kSwitchTsFamily, false, u"/F", u"add a final footer line"},
    {u"/I", SwitchMatch::Exact, SwitchEffect::Incremental, kSwitchTsFamily, false, u"/I",
     u"incremental times (since the last line)"},
    {u"/S", SwitchMatch::Exact, SwitchEffect::Cumulative, kSwitchTsFamily, false, u"/S",
     u"cumulative times (since the start time)"},
    {u"/T", SwitchMatch::Exact, SwitchEffect::Time, kSwitchTsFamily, false, u"/T", u"include the time"},
    {u"/U", SwitchMatch::Exact, SwitchEffect::Utc, kSwitchTsFamily, false, u"/U", u"Coordinated Universal Time"},
    {u"/UTC", SwitchMatch::Exact, SwitchEffect::Utc, kSwitchTsFamily, false, nullptr, nullptr},
    {kUnicodeSwitch, SwitchMatch::Prefix, SwitchEffect::Encoding, kSwitchTsFamily, false, nullptr, nullptr},
    {u"/U", SwitchMatch::Prefix, SwitchEffect::Encoding, kSwitchTsFamily, false, u"/U:name", nullptr},
    {u"/M", SwitchMatch::Exact, SwitchEffect::Merge, kSwitchRun, false, u"/M",
     u"both streams onto standard output in the order they came, each\n"
     u"line tagged O: (output) or E: (errors) after its stamp"},
    {u"/TTY", SwitchMatch::Exact, SwitchEffect::Terminals, kSwitchRun, false, u"/TTY",
     u"give COMMAND a terminal for each stream (POSIX), also when this\n"
     u"program's output is not one: it then writes each line as it ends"},
    {u"/PIPE", SwitchMatch::Exact, SwitchEffect::Pipes, kSwitchRun, false, u"/PIPE",
     u"give COMMAND plain pipes, also where its output reaches a terminal"},
    {u"/FORM", SwitchMatch::Valued, SwitchEffect::StampForm, kSwitchRestamp | kSwitchLines, true, u"/FORM[:FORM]",
     u"read only stamps of FORM (several: each in turn), in the\n"
     u"format's directives: %Y %y %m %d %e %H %M %S %I %p %j %G %V %u\n"
     u"%L (and finer digits) %b %B %a %A %z (offset) %Z (or zone word)\n"
     u"%F %T %s (Unix time); %#d and the like take one or two digits,\n"
     u"blanks take one or more, text before the first directive stays"},
    {u"/ZONE", SwitchMatch::Valued, SwitchEffect::StampZone, kSwitchRestamp | kSwitchLines, true, u"/ZONE:Z",
     u"the zone of stamps without an offset: LOCAL (the default, as TZ\n"
     u"says), UTC, an offset such as +01:00, or (POSIX) a zone such as\n"
     u"Europe/Berlin"},
    {u"/YEAR", SwitchMatch::Valued, SwitchEffect::StampYear, kSwitchRestamp | kSwitchLines, true, u"/YEAR:N",
     u"the year of stamps without one (syslog); else the current year,\n"
     u"or the one before for a date more than a day after today"},
    {u"/R", SwitchMatch::Exact, SwitchEffect::Relative, kSwitchRestamp, true, u"/R",
     u"the time from each stamp to now: instead of the date and time,\n"
     u"or after it with a format, /D or /T"},
};

// Whether every command of `commands` accepts the switch.
constexpr bool AcceptedByAll(const TsSwitch& s, uint8_t commands) { return (s.commands & commands) == commands; }

// Whether a word of the program's command line is a switch: "/" and letters, digits,
// hyphens or "?" up to its end or a ":" or "=" ("/I", "/CP1252", "/U:UTF-8",
// "/FORM:%d/%m/%Y", and "/X", which the plug-in then refuses by name); "/var/log/syslog"
// names a file. Which switch it is, the plug-in's reader tells by the rows above.
inline bool HasSwitchShape(const char16_t* text) {
  if (text[0] != u'/') return false;
  const char16_t* p = text + 1;
  while (IsLetter(*p) || IsDigit(*p) || *p == u'-' || *p == u'?') ++p;
  return *p == 0 || *p == u':' || *p == u'=';
}

}  // namespace horalin
