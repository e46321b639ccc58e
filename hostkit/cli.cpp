#include "hostkit/cli.h"

#include "common/text.h"
#include "common/types.h"
#include "host/switches.h"
#include "hostkit/datefmt_lines.h"
#include "hostkit/program_help.h"

namespace horalin::hostkit {

namespace {

// The help texts of the commands. Those that name switches come in two parts: the first
// has a "%s" for the names of the switches it shares with TS (for datefmt, those of
// --lines), and the command's own switches come before the second (PutSwitchHelp).
constexpr char16_t kDatefmtHelp[] =
    u"Usage: horalin datefmt \"DATE,FORMAT\"\r\n"
    u"       horalin datefmt --lines [%s] FORMAT <FILE\r\n";
constexpr char16_t kDatefmtHelpEnd[] =
    u"Format a date and time as @DATEFMT does inside the shell. DATE is * (now), a\r\n"
    u"calendar date, an ISO 8601 week date, an ordinal date or a day offset, with an\r\n"
    u"optional time of day and UTC marker; FORMAT is a format string of % directives.\r\n"
    u"With --lines, every line of standard input holds one DATE and gives one line;\r\n"
    u"with /FORM (and /ZONE, /YEAR) each line is read as restamp reads a stamp, and\r\n"
    u"shown in local time ('horalin restamp --help').\r\n"
    u"'horalin help datefmt' shows the date forms and the directives.\r\n";

constexpr char16_t kHelpHelp[] =
    u"Usage: horalin help NAME\r\n"
    u"Show the help for NAME: ts, or datefmt (also @datefmt or f_datefmt), in any case.\r\n";

constexpr char16_t kUsageHelp[] =
    u"Usage: horalin usage ts\r\n"
    u"Show the syntax of TS, as the shell asks for it.\r\n";

constexpr char16_t kInfoHelp[] =
    u"Usage: horalin info\r\n"
    u"Load the plug-in as the shell does and show what it reports.\r\n";

constexpr char16_t kRunHelp[] =
    u"Usage: horalin run [ARG...] -- COMMAND [ARG...]\r\n"
    u"Run COMMAND and stamp every line of its standard output and standard error when\r\n"
    u"the line ends, as TS stamps piped lines.\r\n"
    u"\r\n"
    u"The ARGs are TS's own: %s and a format ('horalin ts --help'),\r\n"
    u"and its own:\r\n";
constexpr char16_t kRunHelpEnd[] =
    u"Without /M, stamped output lines go to standard output and stamped error lines to\r\n"
    u"standard error. /I and /S count over both streams; /F writes a footer with the\r\n"
    u"command's exit status, stamped when it ended. COMMAND reads this program's standard\r\n"
    u"input and gets its arguments unchanged; interrupt and termination signals reach it.\r\n"
    u"Each line that waits unfinished (a prompt) is shown with its stamp after 100 ms;\r\n"
    u"what follows it begins a line of its own. A line of any length stays whole.\r\n"
    u"\r\n"
    u"Terminals (POSIX): each stream of COMMAND that would reach a terminal without this\r\n"
    u"program goes to a terminal of its own (two: the streams stay apart), so COMMAND\r\n"
    u"writes each line as it ends (in a pipe most programs hold output back), keeps its\r\n"
    u"colours and columns, and starts its pager ('git --no-pager' or /PIPE avoids it).\r\n"
    u"Bytes arrive as written; the size follows this terminal's. /TTY: terminals also\r\n"
    u"when the output is a file or pipe; /PIPE: plain pipes. Windows refuses /TTY.\r\n"
    u"\r\n"
    u"Order under /M: the pipes are taken in the order their data came, so a line written\r\n"
    u"1 ms or more after one of the other stream comes after it. Lines that wait in a pipe\r\n"
    u"together (written faster than they are read, or held in the command's own buffer)\r\n"
    u"come out together: their order against the other stream's cannot be known.\r\n"
    u"\r\n"
    u"Exit status: the command's (128 + the signal's number when a signal ended it);\r\n"
    u"127 when it was not found, 126 when it could not be run; 1 after an error in the\r\n"
    u"ARGs (nothing is started) or when output could not be written; 2 when the command\r\n"
    u"line has no '--' and COMMAND, or a batch file's argument holds a % or line break.\r\n"
    u"\r\n"
    u"Examples:\r\n"
    u"  horalin run /T -- make all        a build log: output and errors, each stamped,\r\n"
    u"                                    each on its own stream\r\n"
    u"  horalin run /M /S -- ./deploy.sh >deploy.log\r\n"
    u"                                    both streams into one file, in order, tagged\r\n"
    u"  horalin run /TTY /T -- python3 train.py >train.log\r\n"
    u"                                    each line stamped when written\r\n";

constexpr char16_t kRestampHelp[] =
    u"Usage: horalin restamp [ARG...] [FILE...]\r\n"
    u"Read a log (the FILEs in turn; none or '-': standard input) and write each line\r\n"
    u"with a date and time with that stamp written again as TS writes its stamp. Nothing\r\n"
    u"else changes: byte text (UTF-8, Latin-1, ...) passes byte for byte, CR LF and all;\r\n"
    u"UTF-16 input, /CP and /U:name are written in UTF-8.\r\n"
    u"A stamp is looked for at a line's start (after blanks, and inside [ ]); else inside\r\n"
    u"the first [ ] within its first 160 characters, and in a JSON line in the first of\r\n"
    u"\"ts\" \"time\" \"timestamp\" \"@timestamp\" there.\r\n"
    u"\r\n"
    u"The ARGs are TS's own: %s and a format ('horalin ts --help');\r\n"
    u"/I and /S give the time since the previous stamped line and since the first, from\r\n"
    u"the log's stamps (a '-' where they go back); alone they replace the stamp. /F adds\r\n"
    u"a footer with the count of lines restamped and of lines whose stamp could not be\r\n"
    u"read (a month 13, an offset cut short). And these:\r\n";
constexpr char16_t kRestampHelpEnd[] =
    u"\r\n"
    u"Forms read without /FORM, the first that fits winning (a fraction of 1-9 digits\r\n"
    u"after . or , wherever seconds have one):\r\n"
    u"  2026-03-29T00:30:02Z          ISO 8601, RFC 3339 (a blank for T; Z, +01:00,\r\n"
    u"                                +0100, a zone word or none), TS's own stamp\r\n"
    u"  <34>1 2026-03-29T00:30:02Z    RFC 5424 with its priority\r\n"
    u"  20260329T003002Z              ISO 8601 basic\r\n"
    u"  2026-W13-7T00:30:02           ISO 8601 week date\r\n"
    u"  2026-088 00:30:02             ISO 8601 ordinal date\r\n"
    u"  2026/03/29 00:30:02           Go, nginx\r\n"
    u"  29/Mar/2026:00:30:02 +0100    web server\r\n"
    u"  Sun, 29 Mar 2026 00:30:02 +0100\r\n"
    u"                                RFC 2822\r\n"
    u"  Sun 2026-03-29 00:30:02 CET   journalctl short-full\r\n"
    u"  Sun Mar 29 00:30:02 2026      ctime, web server errors\r\n"
    u"  Sun Mar 29 00:30:02 CET 2026  date\r\n"
    u"  29 Mar 2026 00:30:02,123      log4j\r\n"
    u"  12:M 29 Mar 2026 00:30:02.123 redis\r\n"
    u"  Mar 29 00:30:02               syslog (journalctl short-precise)\r\n"
    u"  I0329 00:30:02.123456         klog\r\n"
    u"  03-29 00:30:02.123            Android logcat\r\n"
    u"  00:30:02.125 00:00:00.875     TS's own /T, /I, /S (the date of the stamp before)\r\n"
    u"  1774740602.5, 1774740602500   Unix time: 10 digits (seconds), 13, 16 or 19;\r\n"
    u"                                only where the log's stamps are numbers\r\n"
    u"A stamp with Z or an offset is that instant; so is one with a zone word that names\r\n"
    u"an offset of its zone or one of UTC GMT CET CEST EET EEST WET WEST EST EDT PST PDT\r\n"
    u"... (see the manual). One without is local time in /ZONE's zone; an hour shown\r\n"
    u"twice is read in the log's order. A stamp without a year takes /YEAR's. The first\r\n"
    u"argument that holds a % is the format; the FILEs follow the switches (or '--',\r\n"
    u"before a FILE that could be taken for a switch); the Windows program expands * and\r\n"
    u"? in them.\r\n"
    u"\r\n"
    u"Exit status: 0; 1 after an error in the ARGs; 2 when a FILE could not be read.\r\n"
    u"\r\n"
    u"Examples:\r\n"
    u"  horalin restamp /I build.log         the time each step of a build took\r\n"
    u"  TZ=Europe/Berlin horalin restamp /ZONE:UTC \"%F %H:%M:%S.%L\" <app.log\r\n"
    u"                                       a UTC log in Berlin's local time\r\n";

// The names of the switches that every command of `commands` accepts, as the help texts
// name them, parted by blanks.
void SwitchNames(uint8_t commands, char16_t* names, size_t capacity) {
  names[0] = 0;
  for (const TsSwitch& s : kTsSwitches) {
    if (!AcceptedByAll(s, commands) || !s.syntax) continue;
    if (names[0]) AppendText(names, capacity, u" ");
    AppendText(names, capacity, s.syntax);
  }
}

// The switches of `command` that TS does not take, each with its help: the name in a
// column of 17, the help's lines after it.
void PutOwnSwitches(const HostFunctions& host, uint8_t command) {
  for (const TsSwitch& s : kTsSwitches) {
    if (!AcceptedByAll(s, command) || AcceptedByAll(s, kSwitchTs) || !s.help) continue;
    const char16_t* name = s.syntax;
    for (const char16_t* line = s.help; *line;) {
      size_t length = 0;
      while (line[length] && line[length] != u'\n' && length + 1 < kSmallText) ++length;
      char16_t text[kSmallText], entry[kSmallText];
      CopyText(text, length + 1, line);
      FormatText(entry, kSmallText, u"  %-17s%s\r\n", name, text);
      host.puts(entry);
      name = u"";
      line += length;
      if (*line == u'\n') ++line;
    }
  }
}

// A command's help that names switches of TS's: `text` with the names of those that every
// command of `listed` accepts for its "%s", the switches of `own` that TS does not take,
// then `end`.
void PutSwitchHelp(const HostFunctions& host, const char16_t* text, uint8_t listed, uint8_t own, const char16_t* end) {
  char16_t names[kSmallText];
  SwitchNames(listed, names, kSmallText);
  host.printf(text, names);
  if (own) PutOwnSwitches(host, own);
  host.puts(end);
}

bool Equals(const char16_t* a, const char16_t* b) { return CompareNoCase(a, b) == 0 && TextLength(a) == TextLength(b); }

// "--help" and "-h" anywhere after a sub-command ask for its help; they are not passed on.
bool AsksForHelp(int argc, char16_t** argv) {
  for (int i = 0; i < argc; ++i)
    if (Equals(argv[i], u"--help") || Equals(argv[i], u"-h")) return true;
  return false;
}

int CommandLineError(const HostFunctions& host, const char16_t* format, const char16_t* value) {
  host.qprintf(host.standardError, u"horalin: ");
  host.qprintf(host.standardError, format, value);
  host.qprintf(host.standardError, u"\r\nTry 'horalin --help'.\r\n");
  return 2;
}

// How an argument is written into TS's command line so that TS reads it as it stands.
// The command line is split as the shell splits it: at white space outside double quotes
// (which stay in the argument), with white space skipped before an argument and trimmed
// after one that ends in an open quote. Returns null when the argument can be written
// as it is (`quote` tells whether to wrap it in double quotes first), or the reason why
// no writing carries it unchanged.
const char16_t* HowToCarry(const char16_t* argument, bool last, bool* quote) {
  bool quoted = false, hasQuote = false, hasSpace = false, spaceOutside = false, slashInValue = false, valued = false;
  for (const char16_t* p = argument; *p; ++p) {
    valued |= argument[0] == u'/' && (*p == u':' || *p == u'=');
    slashInValue |= *p == u'/' && valued;
    if (*p == u'"') {
      quoted = !quoted;
      hasQuote = true;
    } else if (IsSpace(*p)) {
      hasSpace = true;
      spaceOutside |= !quoted;
    }
  }
  // TS removes those quotes from a format; a switch whose value holds a slash
  // ("/ZONE:Europe/Berlin", "/FORM:%d/%m/%Y") is quoted so that the slash does not begin
  // another switch.
  *quote = !hasQuote && (hasSpace || !*argument || slashInValue);
  if (!hasQuote) return nullptr;
  if (spaceOutside) return u"white space outside its double quotes would split it";
  if (quoted && !last) return u"its unclosed double quote would join the arguments after it";
  if (quoted && IsSpace(argument[TextLength(argument) - 1])) return u"white space at its end would be dropped";
  return nullptr;
}

// TS's arguments as one command line, each written so that TS reads it as it stands.
// 0, or 2 after a message naming `command`.
int JoinTsArguments(int argc, char16_t** argv, char16_t* line, const HostFunctions& host, const char16_t* command) {
  line[0] = 0;
  // TS reads at most 1,024 arguments and would drop the rest without a word.
  if (argc > 1024) return CommandLineError(host, u"%s takes at most 1,024 ARGs of its own", command);
  for (int i = 0; i < argc; ++i) {
    bool quote = false;
    if (const char16_t* reason = HowToCarry(argv[i], i + 1 == argc, &quote)) {
      host.qprintf(host.standardError, u"horalin: %s cannot take the argument '%s' unchanged: %s\r\n", command, argv[i],
                   reason);
      host.qprintf(host.standardError, u"Try 'horalin %s --help'.\r\n", command);
      return 2;
    }
    if (i) AppendText(line, kPathText, u" ");
    if (quote) AppendText(line, kPathText, u"\"");
    AppendText(line, kPathText, argv[i]);
    if (quote) AppendText(line, kPathText, u"\"");
  }
  if (TextLength(line) + 1 >= kPathText) return CommandLineError(host, u"the %s command line is too long", command);
  return 0;
}

int RunTs(int argc, char16_t** argv, const HostFunctions& host, const PluginExports& plugin) {
  if (AsksForHelp(argc, argv)) return plugin.ts(u"/?");
  static char16_t line[kPathText];
  if (int status = JoinTsArguments(argc, argv, line, host, u"ts")) return status;
  return plugin.ts(line);
}

// The ARGs before "--" are TS's; everything after it is the command's, its own --help too.
int RunStamped(int argc, char16_t** argv, const HostFunctions& host, const PluginExports& plugin) {
  int dashes = 0;
  while (dashes < argc && !Equals(argv[dashes], u"--")) ++dashes;
  if (AsksForHelp(dashes, argv)) {
    PutSwitchHelp(host, kRunHelp, kSwitchTs | kSwitchRun, kSwitchRun, kRunHelpEnd);
    return 0;
  }
  if (dashes + 1 >= argc) return CommandLineError(host, u"%s needs '--' and a command after its arguments", u"run");
  if (!plugin.stampCommand) return CommandLineError(host, u"the plug-in library has no %s command", u"run");
  static char16_t line[kPathText];
  if (int status = JoinTsArguments(dashes, argv, line, host, u"run")) return status;
  return plugin.stampCommand(line, argv + dashes + 1, argc - dashes - 1);
}

bool HoldsPercent(const char16_t* text) {
  for (; *text; ++text)
    if (*text == u'%') return true;
  return false;
}

// The switches and the format, then the files: the first argument that is neither a
// switch nor (while there is none) a format holding a "%" begins the files, as "--" does.
int RunRestamp(int argc, char16_t** argv, const HostFunctions& host, const PluginExports& plugin) {
  if (AsksForHelp(argc, argv)) {
    PutSwitchHelp(host, kRestampHelp, kSwitchTs | kSwitchRestamp, kSwitchRestamp, kRestampHelpEnd);
    return 0;
  }
  if (!plugin.restampLog) return CommandLineError(host, u"the plug-in library has no %s command", u"restamp");
  int files = 0;
  bool format = false;
  for (; files < argc; ++files) {
    const char16_t* a = argv[files];
    if (Equals(a, u"--")) break;
    if (HasSwitchShape(a)) continue;
    if (format || !HoldsPercent(a)) break;
    format = true;
  }
  static char16_t line[kPathText];
  if (int status = JoinTsArguments(files, argv, line, host, u"restamp")) return status;
  int first = files < argc && Equals(argv[files], u"--") ? files + 1 : files;
  return plugin.restampLog(line, argv + first, argc - first);
}

// Writes the result as the shell shows it.
void ShowFunctionResult(const HostFunctions& host, char16_t* text) {
  *CollapseDoubledPercents(text) = 0;
  host.puts(text);
  host.puts(u"\r\n");
}

int RunDatefmt(int argc, char16_t** argv, const HostFunctions& host, const PluginExports& plugin) {
  if (AsksForHelp(argc, argv)) {
    PutSwitchHelp(host, kDatefmtHelp, kSwitchLines, 0, kDatefmtHelpEnd);
    return 0;
  }
  if (argc >= 1 && Equals(argv[0], u"--lines")) {
    // Switches of restamp's before the FORMAT: the lines are read as it reads stamps.
    int switches = 1;
    while (switches < argc - 1 && HasSwitchShape(argv[switches])) ++switches;
    if (argc != switches + 1) return CommandLineError(host, u"%s takes one FORMAT", u"datefmt --lines");
    if (!argv[switches][0]) return CommandLineError(host, u"the FORMAT of %s is empty", u"datefmt --lines");
    if (switches == 1) return RunDatefmtLines(argv[1], host, plugin);
    static char16_t options[kPathText];
    if (int status = JoinTsArguments(switches - 1, argv + 1, options, host, u"datefmt --lines")) return status;
    return RunDatefmtLines(argv[switches], host, plugin, options);
  }
  if (argc != 1) return CommandLineError(host, u"%s takes one argument: \"DATE,FORMAT\"", u"datefmt");
  static char16_t buffer[kFormatText];
  if (TextLength(argv[0]) >= kFormatText)
    return CommandLineError(host, u"the %s argument is longer than 8191 characters", u"datefmt");
  CopyText(buffer, kFormatText, argv[0]);
  if (plugin.datefmt(buffer) != 0) return 1;
  ShowFunctionResult(host, buffer);
  return 0;
}

int RunInfo(const HostFunctions& host, const PluginInfo* info) {
  host.printf(u"Name:        %s\r\n", info->name);
  host.printf(u"Author:      %s\r\n", info->author);
  host.printf(u"E-mail:      %s\r\n", info->email);
  host.printf(u"Web page:    %s\r\n", info->webPage);
  host.printf(u"Description: %s\r\n", info->description);
  host.printf(u"Functions:   %s\r\n", info->functions);
  host.printf(u"Version:     %d.%d.%d\r\n", info->major, info->minor, info->build);
  return 0;
}

// The entry of the plug-in's function list that `name` stands for: the entry itself, or for
// a variable function ("@datefmt") also its name without the "@" and its export's name
// ("datefmt", "f_datefmt"); in any case. Writes it to `entry`; false when none matches.
bool FindFunction(const char16_t* list, const char16_t* name, char16_t* entry, size_t capacity) {
  for (const char16_t* p = list; *p;) {
    size_t length = 0;
    while (p[length] && p[length] != u',') ++length;
    if (length < capacity) {
      CopyText(entry, length + 1, p);
      const char16_t* bare = entry[0] == u'@' ? entry + 1 : nullptr;
      bool exportName = bare && (name[0] == u'f' || name[0] == u'F') && name[1] == u'_' && Equals(name + 2, bare);
      if (Equals(name, entry) || (bare && Equals(name, bare)) || exportName) return true;
    }
    p += length;
    if (*p) ++p;
  }
  return false;
}

int RunHelp(const char16_t* name, const HostFunctions& host, const PluginExports& plugin, const PluginInfo* info) {
  char16_t entry[kSmallText];
  if (!FindFunction(info->functions, name, entry, kSmallText)) {
    host.qprintf(host.standardError, u"horalin: no help for '%s'; the names are ", name);
    for (const char16_t* p = info->functions; *p;) {  // "ts, datefmt (@datefmt, f_datefmt)"
      size_t length = 0;
      while (p[length] && p[length] != u',') ++length;
      CopyText(entry, length + 1 < kSmallText ? length + 1 : kSmallText, p);
      if (p != info->functions) host.qprintf(host.standardError, u", ");
      if (entry[0] == u'@')
        host.qprintf(host.standardError, u"%s (%s, f_%s)", entry + 1, entry, entry + 1);
      else
        host.qprintf(host.standardError, u"%s", entry);
      p += length;
      if (*p) ++p;
    }
    host.qprintf(host.standardError, u"\r\n");
    return 2;
  }
  // The plug-in answers every name of its list, also when it could not show the help: a
  // message on standard error tells that it failed.
  uint32_t errors = host.errorsWritten ? host.errorsWritten() : 0;
  if (!plugin.help(entry)) return 1;
  return host.errorsWritten && host.errorsWritten() != errors ? 1 : 0;
}

int Dispatch(int argc, char16_t** argv, const HostFunctions& host, const PluginExports& plugin,
             const PluginInfo* info) {
  const char16_t* command = argv[0];
  if (Equals(command, u"ts")) return RunTs(argc - 1, argv + 1, host, plugin);
  if (Equals(command, u"run")) return RunStamped(argc - 1, argv + 1, host, plugin);
  if (Equals(command, u"restamp")) return RunRestamp(argc - 1, argv + 1, host, plugin);
  if (Equals(command, u"datefmt")) return RunDatefmt(argc - 1, argv + 1, host, plugin);
  const char16_t* help = Equals(command, u"help")    ? kHelpHelp
                         : Equals(command, u"usage") ? kUsageHelp
                         : Equals(command, u"info")  ? kInfoHelp
                                                     : nullptr;
  if (help && AsksForHelp(argc - 1, argv + 1)) {
    host.puts(help);
    return 0;
  }
  if (Equals(command, u"info")) return RunInfo(host, info);
  if (Equals(command, u"usage") || Equals(command, u"help")) {
    if (argc != 2) return CommandLineError(host, u"%s takes one name", command);
    if (Equals(command, u"help")) return RunHelp(argv[1], host, plugin, info);
    static char16_t syntax[kSmallText];
    if (!plugin.usage(argv[1], syntax)) {
      host.qprintf(host.standardError, u"horalin: no syntax for %s\r\n", argv[1]);
      return 1;
    }
    host.puts(syntax);
    return 0;
  }
  return CommandLineError(host, u"unknown command '%s'", command);
}

}  // namespace

char16_t* CollapseDoubledPercents(char16_t* text) {
  char16_t* out = text;
  for (const char16_t* p = text; *p; ++p) {
    *out++ = *p;
    if (p[0] == u'%' && p[1] == u'%') ++p;
  }
  return out;
}

int RunCommandLine(int argc, char16_t** argv, const HostFunctions& host, const PluginExports& plugin) {
  if (argc < 1) return CommandLineError(host, u"%s", u"missing command");
  if (Equals(argv[0], u"--help") || Equals(argv[0], u"-h")) {
    host.puts(kProgramHelp);
    return 0;
  }
  if (Equals(argv[0], u"--version")) {
    host.printf(u"horalin %s\r\n", kVersionText);
    return 0;
  }
  // As the shell does: ask for the plug-in's record, start it, run, stop it.
  const PluginInfo* info = plugin.getPluginInfo();
  plugin.initializePlugin();
  int status = Dispatch(argc, argv, host, plugin, info);
  // A help viewer stays open after this program ends, as it stays open after the
  // command that opened it in the shell; unloading the plug-in would end it at once.
  if (!Equals(argv[0], u"help")) plugin.shutdownPlugin();
  return status;
}

}  // namespace horalin::hostkit
