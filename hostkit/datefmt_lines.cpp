#include "hostkit/datefmt_lines.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/scans.h"
#include "common/text.h"
#include "common/types.h"

namespace horalin::hostkit {

namespace {

constexpr char16_t kInputName[] = u"standard input";

// All working storage, one allocation per call: memory stays the same however long the
// input.
struct LinesState {
  // The line as the plug-in's reader hands it over, then ",", the format; then the result,
  // to which CR LF is added. The function is given the first kFormatText units; the rest
  // is the reader's room for a line of any length it keeps, and room for the line end and
  // for reading the result eight units at a time.
  alignas(16) char16_t argument[kInputLineUnits + 8];
  const char16_t* format;
  size_t formatLength;
  size_t lineRoom;  // most units a line may have beside the separator and the format
  uint32_t lineNumber;
  bool failed;              // a line failed, or the input could not be read
  const char16_t* options;  // restamp's, for reading the lines as stamps; null: as @DATEFMT
};
static_assert(kInputLineUnits >= kFormatText);

// Every message about the input begins as the plug-in's own messages about a line do,
// "Horalin plugin: standard input [7]  ", naming the line as a batch file's line.
void LinePrefix(const HostFunctions& host, uint32_t line) {
  host.qprintf(host.standardError, u"%s plugin: %s [%u]  ", kPluginName, kInputName, line);
}

void LineError(LinesState& s, const HostFunctions& host, const char16_t* format, uint32_t value) {
  LinePrefix(host, s.lineNumber);
  host.qprintf(host.standardError, format, value);
}

void WriteEmptyLine(LinesState& s, const HostFunctions& host) {
  s.failed = true;
  host.puts(u"\r\n");
}

// The result as the shell shows it, doubled percent signs once, and a line end. The
// text is mended in place: it never grows but by the line end, for which there is room.
void WriteResult(LinesState& s, const HostFunctions& host) {
  // To the first percent sign or the terminator: the buffer holds the eight units that
  // begin at any terminator the result can have.
  char16_t* p = scans::fast::FindZeroOrUnit(s.argument, u'%');
  if (*p == 0 && host.writeAsciiLine && host.writeAsciiLine(s.argument, static_cast<size_t>(p - s.argument))) return;
  char16_t* out = CollapseDoubledPercents(p);
  *out++ = u'\r';
  *out++ = u'\n';
  *out = 0;
  size_t length = static_cast<size_t>(out - s.argument);
  if (host.writeText)
    host.writeText(s.argument, length);
  else
    host.puts(s.argument);
}

void TooLong(LinesState& s, const HostFunctions& host) {
  LineError(s, host, u"Line longer than %u characters\r\n", static_cast<uint32_t>(s.lineRoom));
  WriteEmptyLine(s, host);
}

// One line without its line end, `length` units at the start of the argument buffer.
void FormatLine(LinesState& s, size_t length, const HostFunctions& host, const PluginExports& plugin) {
  ++s.lineNumber;
  if (length > s.lineRoom) return TooLong(s, host);
  // A stamp may hold a comma ("Mon, 07 Dec 2026").
  size_t cut = s.options ? length : scans::fast::FindEitherUnit(s.argument, length, u',', u';');

  // A line holds a date and time only. A comma or semicolon in it would be taken for
  // the separator and the rest of the line for the format, so the text before the first
  // one is formatted alone: the plug-in reports a date cut short there with a caret under
  // it, and a complete date followed by one is reported here.
  char16_t separator = cut < length ? s.argument[cut] : 0;
  s.argument[cut] = u',';
  std::memcpy(s.argument + cut + 1, s.format, (s.formatLength + 1) * sizeof(char16_t));

  if (host.setErrorLocation) host.setErrorLocation(kInputName, s.lineNumber);
  int result =
      plugin.dateLine ? plugin.dateLine(s.argument, static_cast<int>(cut), s.options) : plugin.datefmt(s.argument);
  if (result != 0) return WriteEmptyLine(s, host);
  if (separator) {
    LineError(s, host, u"Unexpected \"%c\" after the date and time\r\n", separator);
    return WriteEmptyLine(s, host);
  }
  WriteResult(s, host);
}

// Takes the format and readies the state; the exit status when the lines cannot be read.
int Start(LinesState& s, const char16_t* format, const HostFunctions& host, const PluginExports& plugin) {
  s.format = format;
  s.formatLength = TextLength(format);
  if (s.formatLength == 0 || s.formatLength + 3 > kFormatText) {
    host.qprintf(host.standardError,
                 u"horalin: the FORMAT of datefmt --lines is empty or longer than %u characters\r\n",
                 static_cast<uint32_t>(kFormatText - 3));
    return 2;
  }
  if (!host.readInput || !plugin.openInputLines || !plugin.readInputLine || !plugin.closeInputLines) {
    host.qprintf(host.standardError, u"horalin: this host cannot read standard input\r\n");
    return 1;
  }
  s.lineRoom = kFormatText - 2 - s.formatLength;
  return 0;
}

// Restamp's options, handed to the plug-in once; the exit status when they are wrong.
int TakeOptions(LinesState& s, const char16_t* options, const HostFunctions& host, const PluginExports& plugin) {
  s.options = options;
  if (!options) return 0;
  if (!plugin.dateLine) {
    host.qprintf(host.standardError, u"horalin: the plug-in library cannot read stamps\r\n");
    return 2;
  }
  return plugin.dateLine(nullptr, 0, options) != 0 ? 2 : 0;
}

// A failed read, named by the line that was being read.
void ReadFailed(LinesState& s, const HostFunctions& host, uint32_t error) {
  char16_t text[kSmallText];
  if (!host.errorText || !host.errorText(error, text, kSmallText)) FormatText(text, kSmallText, u"error %u", error);
  TrimTrailingSpace(text);  // as the plug-in shows the same text
  LinePrefix(host, s.lineNumber + 1);
  host.qprintf(host.standardError, u"Error reading standard input: \"%s\"\r\n", text);
  s.failed = true;
}

// Formats every line the reader hands over. A line that reaches the reader's limit is
// longer than any line can be: it is reported once, and the rest of its pieces dropped.
void FormatLines(LinesState& s, void* lines, const HostFunctions& host, const PluginExports& plugin) {
  bool restOfCut = false;
  for (;;) {
    uint32_t detail = 0;
    const int length = plugin.readInputLine(lines, s.argument, &detail);
    if (length < 0) {
      if (length == -1) ReadFailed(s, host, detail);
      return;
    }
    const bool goesOn = detail != 0;
    if (!restOfCut) {
      if (goesOn) {
        ++s.lineNumber;
        TooLong(s, host);
      } else {
        FormatLine(s, static_cast<size_t>(length), host, plugin);
      }
    }
    restOfCut = goesOn;
  }
}

}  // namespace

int RunDatefmtLines(const char16_t* format, const HostFunctions& host, const PluginExports& plugin,
                    const char16_t* options) {
  std::unique_ptr<LinesState> state(new (std::nothrow) LinesState{});
  if (!state) {
    host.qprintf(host.standardError, u"horalin: not enough memory\r\n");
    return 1;
  }
  LinesState& s = *state;
  if (int status = Start(s, format, host, plugin)) return status;
  if (int status = TakeOptions(s, options, host, plugin)) return status;
  void* lines = plugin.openInputLines(host.readInput);
  if (!lines) {
    host.qprintf(host.standardError, u"horalin: not enough memory\r\n");
    return 1;
  }
  FormatLines(s, lines, host, plugin);
  plugin.closeInputLines(lines);
  if (host.setErrorLocation) host.setErrorLocation(nullptr, 0);
  return s.failed ? 1 : 0;
}

}  // namespace horalin::hostkit
