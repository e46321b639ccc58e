#include "hostkit/cli.h"

#include "common/text.h"
#include "common/types.h"
#include "hostkit/datefmt_lines.h"

namespace horalin::hostkit {

namespace {

constexpr char16_t kProgramHelp[] =
    u"Usage: horalin COMMAND [ARGUMENT...]\r\n"
    u"Stamp piped lines with the date and time, and format dates, as the Horalin\r\n"
    u"plug-in does inside the shell.\r\n"
    u"\r\n"
    u"Commands:\r\n"
    u"  ts [ARG...]      stamp every line of standard input (TS; 'horalin ts /?' for its options)\r\n"
    u"  datefmt ARG      format a date and time: ARG is \"DATE,FORMAT\" as for @DATEFMT\r\n"
    u"  datefmt --lines FORMAT\r\n"
    u"                   format the date and time on each line of standard input\r\n"
    u"  help NAME        show the help for TS or @DATEFMT\r\n"
    u"  usage ts         show the syntax of TS\r\n"
    u"  info             load the plug-in as the shell does and show what it reports\r\n"
    u"\r\n"
    u"Options:\r\n"
    u"  --help           show this text\r\n"
    u"  --version        show the version\r\n"
    u"\r\n"
    u"Exit status: the command's result; 0 for success.\r\n";

bool Equals(const char16_t* a, const char16_t* b) { return CompareNoCase(a, b) == 0 && TextLength(a) == TextLength(b); }

bool NeedsQuotes(const char16_t* arg) {
  if (!*arg) return true;
  for (; *arg; ++arg)
    if (IsSpace(*arg)) return true;
  return false;
}

int CommandLineError(const HostFunctions& host, const char16_t* format, const char16_t* value) {
  host.qprintf(host.standardError, u"horalin: ");
  host.qprintf(host.standardError, format, value);
  host.qprintf(host.standardError, u"\r\nTry 'horalin --help'.\r\n");
  return 2;
}

int RunTs(int argc, char16_t** argv, const HostFunctions& host, const PluginExports& plugin) {
  static char16_t line[kPathText];
  line[0] = 0;
  for (int i = 0; i < argc; ++i) {
    if (i) AppendText(line, kPathText, u" ");
    bool quote = NeedsQuotes(argv[i]);
    if (quote) AppendText(line, kPathText, u"\"");
    AppendText(line, kPathText, argv[i]);
    if (quote) AppendText(line, kPathText, u"\"");
  }
  if (TextLength(line) + 1 >= kPathText) return CommandLineError(host, u"the %s command line is too long", u"ts");
  return plugin.ts(line);
}

// Writes the result as the shell shows it: every doubled percent sign once.
void ShowFunctionResult(const HostFunctions& host, char16_t* text) {
  char16_t* out = text;
  for (const char16_t* p = text; *p; ++p) {
    *out++ = *p;
    if (p[0] == u'%' && p[1] == u'%') ++p;
  }
  *out = 0;
  host.puts(text);
  host.puts(u"\r\n");
}

int RunDatefmt(int argc, char16_t** argv, const HostFunctions& host, const PluginExports& plugin) {
  if (argc == 2 && Equals(argv[0], u"--lines")) return RunDatefmtLines(argv[1], host, plugin);
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

int Dispatch(int argc, char16_t** argv, const HostFunctions& host, const PluginExports& plugin,
             const PluginInfo* info) {
  const char16_t* command = argv[0];
  if (Equals(command, u"ts")) return RunTs(argc - 1, argv + 1, host, plugin);
  if (Equals(command, u"datefmt")) return RunDatefmt(argc - 1, argv + 1, host, plugin);
  if (Equals(command, u"info")) return RunInfo(host, info);
  if (Equals(command, u"usage") || Equals(command, u"help")) {
    if (argc != 2) return CommandLineError(host, u"%s takes one name", command);
    if (Equals(command, u"help")) return plugin.help(argv[1]) ? 0 : 1;
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
