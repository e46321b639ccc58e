#include "hostkit/datefmt_lines.h"

#include <cstring>

#include "common/line_framer.h"
#include "common/scans.h"
#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"

namespace horalin::hostkit {

namespace {

constexpr char16_t kInputName[] = u"standard input";

// Any line of more bytes holds more than 8191 UTF-16 units (at most 3 bytes a unit, or
// 4 bytes for two), so it cannot fit in the function's buffer and is not kept whole: the
// framer splits it there, and it is reported as too long.
constexpr uint32_t kLongestLineBytes = 4 * kFormatText;
constexpr uint32_t kReadBytes = 65536;

// All working storage, fixed: memory stays the same however long the input.
struct LinesState {
  char block[kReadBytes];
  char lineBytes[kLongestLineBytes];  // a line that spans reads, or loses a zero byte
  uint32_t position;                  // next byte of the block not yet framed
  uint32_t length;                    // bytes in the block
  LineFramer framer;
  // The line, ",", the format; then the result, to which CR LF is added. The function
  // is given the first kFormatText units; the rest is room for the line end and for
  // reading the result eight units at a time.
  char16_t argument[kFormatText + 8];
  const char16_t* format;
  size_t formatLength;
  size_t lineRoom;  // most units a line may have beside the separator and the format
  uint32_t lineNumber;
  bool failed;              // a line failed, or the input could not be read
  bool readFailed;          // the input could not be read
  const char16_t* options;  // restamp's, for reading the lines as stamps; null: as @DATEFMT
};

LinesState State;

// Every message about the input begins as the plug-in's own messages about a line do,
// "Horalin plugin: standard input [7]  ", naming the line as a batch file's line.
void LinePrefix(const HostFunctions& host, uint32_t line) {
  host.qprintf(host.standardError, u"%s plugin: %s [%u]  ", kPluginName, kInputName, line);
}

void LineError(const HostFunctions& host, const char16_t* format, uint32_t value) {
  LinePrefix(host, State.lineNumber);
  host.qprintf(host.standardError, format, value);
}

void WriteEmptyLine(const HostFunctions& host) {
  State.failed = true;
  host.puts(u"\r\n");
}

// The result as the shell shows it, doubled percent signs once, and a line end. The
// text is mended in place: it never grows but by the line end, for which there is room.
void WriteResult(const HostFunctions& host) {
  // To the first percent sign or the terminator: the buffer holds the eight units that
  // begin at any terminator the result can have.
  char16_t* p = scans::fast::FindZeroOrUnit(State.argument, u'%');
  char16_t* out = CollapseDoubledPercents(p);
  *out++ = u'\r';
  *out++ = u'\n';
  *out = 0;
  size_t length = static_cast<size_t>(out - State.argument);
  if (host.writeText)
    host.writeText(State.argument, length);
  else
    host.puts(State.argument);
}

void TooLong(const HostFunctions& host) {
  LineError(host, u"Line longer than %u characters\r\n", static_cast<uint32_t>(State.lineRoom));
  WriteEmptyLine(host);
}

bool IsSeparator(char16_t c) { return c == u',' || c == u';'; }

// The line's text as UTF-16 in the argument buffer; its length in units, or more than
// lineRoom when it does not fit. `cut` receives the position of its first comma or
// semicolon, or its length. ASCII, the usual case, is widened directly.
size_t DecodeLine(const char* bytes, size_t count, size_t* cut) {
  char16_t* text = State.argument;
  if (count <= State.lineRoom && scans::fast::WidenAsciiFinding(bytes, count, text, ',', ';', cut) == count)
    return count;
  // Decoding stops early only beyond lineRoom units, so a short result is the whole line.
  size_t length = Utf16FromUtf8(bytes, count, text, State.lineRoom + 3);
  for (*cut = 0; *cut < length && !IsSeparator(text[*cut]);) ++*cut;
  return length;
}

// One line without its line end.
void FormatLine(const char* bytes, size_t count, const HostFunctions& host, const PluginExports& plugin) {
  ++State.lineNumber;
  size_t cut;
  size_t length = DecodeLine(bytes, count, &cut);
  if (length > State.lineRoom) return TooLong(host);
  if (State.options) cut = length;  // a stamp may hold a comma ("Mon, 07 Dec 2026")

  // A line holds a date and time only. A comma or semicolon in it would be taken for
  // the separator and the rest of the line for the format, so the text before the first
  // one is formatted alone: the plug-in reports a date cut short there with a caret under
  // it, and a complete date followed by one is reported here.
  char16_t separator = cut < length ? State.argument[cut] : 0;
  State.argument[cut] = u',';
  std::memcpy(State.argument + cut + 1, State.format, (State.formatLength + 1) * sizeof(char16_t));

  if (host.setErrorLocation) host.setErrorLocation(kInputName, State.lineNumber);
  int result = plugin.dateLine ? plugin.dateLine(State.argument, static_cast<int>(cut), State.options)
                               : plugin.datefmt(State.argument);
  if (result != 0) return WriteEmptyLine(host);
  if (separator) {
    LineError(host, u"Unexpected \"%c\" after the date and time\r\n", separator);
    return WriteEmptyLine(host);
  }
  WriteResult(host);
}

// Takes the format and readies the state; the exit status when the lines cannot be read.
int Start(const char16_t* format, const HostFunctions& host) {
  State.format = format;
  State.formatLength = TextLength(format);
  if (State.formatLength == 0 || State.formatLength + 3 > kFormatText) {
    host.qprintf(host.standardError,
                 u"horalin: the FORMAT of datefmt --lines is empty or longer than %u characters\r\n",
                 static_cast<uint32_t>(kFormatText - 3));
    return 2;
  }
  if (!host.readInput) {
    host.qprintf(host.standardError, u"horalin: this host cannot read standard input\r\n");
    return 1;
  }
  State.lineRoom = kFormatText - 2 - State.formatLength;
  State.lineNumber = 0;
  State.failed = State.readFailed = false;
  return 0;
}

// Restamp's options, handed to the plug-in once; the exit status when they are wrong.
int TakeOptions(const char16_t* options, const HostFunctions& host, const PluginExports& plugin) {
  State.options = options;
  if (!options) return 0;
  if (!plugin.dateLine) {
    host.qprintf(host.standardError, u"horalin: the plug-in library cannot read stamps\r\n");
    return 2;
  }
  return plugin.dateLine(nullptr, 0, options) != 0 ? 2 : 0;
}

// A failed read, named by the line that was being read.
void ReadFailed(const HostFunctions& host, uint32_t error) {
  char16_t text[kSmallText];
  if (!host.errorText || !host.errorText(error, text, kSmallText)) FormatText(text, kSmallText, u"error %u", error);
  TrimTrailingSpace(text);  // as the plug-in shows the same text
  LinePrefix(host, State.lineNumber + 1);
  host.qprintf(host.standardError, u"Error reading standard input: \"%s\"\r\n", text);
  State.failed = State.readFailed = true;
}

// Reads more of the input after the bytes in the block (none once they are all
// framed). False at the end of the input, or after a failed read, which is reported.
bool ReadMore(const HostFunctions& host) {
  if (State.position == State.length) State.position = State.length = 0;
  uint32_t got = 0;
  const uint32_t error = host.readInput(State.block + State.length, kReadBytes - State.length, &got);
  if (error) ReadFailed(host, error);
  State.length += error ? 0 : got;
  return error == 0 && got > 0;
}

// Reads until the first bytes tell whether they begin with a UTF-8 signature (it may
// come in pieces), and passes over it. False when the input ended or failed first.
bool PassSignature(const HostFunctions& host) {
  bool more = true;
  while (more && State.length < 3 && !std::memchr(State.block, '\n', State.length)) more = ReadMore(host);
  if (State.length >= 3 && std::memcmp(State.block, "\xEF\xBB\xBF", 3) == 0) State.position = 3;
  return more;
}

// Formats the line that a piece ends, gathered in lineBytes when it spans reads or lost
// a zero byte. A line that reaches the framer's limit is longer than any line can be: it
// is reported once, and the rest of its pieces are dropped.
void TakePiece(const LinePiece& piece, const HostFunctions& host, const PluginExports& plugin) {
  const char* bytes = State.block + State.position + piece.start;
  if (piece.restOfSplit) return;
  if (piece.end == PieceEnd::kSplit) {
    ++State.lineNumber;
    TooLong(host);
  } else if (piece.end == PieceEnd::kGoesOn) {
    std::memcpy(State.lineBytes + piece.at, bytes, piece.length);
  } else if (piece.at == 0) {
    FormatLine(bytes, piece.length, host, plugin);  // the whole line in the block
  } else {
    std::memcpy(State.lineBytes + piece.at, bytes, piece.length);
    FormatLine(State.lineBytes, piece.at + piece.length, host, plugin);
  }
}

}  // namespace

int RunDatefmtLines(const char16_t* format, const HostFunctions& host, const PluginExports& plugin,
                    const char16_t* options) {
  if (int status = Start(format, host)) return status;
  if (int status = TakeOptions(options, host, plugin)) return status;

  LineFramer* framer = &State.framer;
  *framer = StartLineFramer(kLongestLineBytes);
  State.position = State.length = 0;
  bool more = PassSignature(host);
  for (;;) {
    if (State.position == State.length && !(more && (more = ReadMore(host)))) break;
    uint8_t seen = 0;
    const LinePiece piece = NextLinePiece(framer, reinterpret_cast<const uint8_t*>(State.block + State.position),
                                          State.length - State.position, &seen);
    TakePiece(piece, host, plugin);
    State.position += piece.used;
  }
  // A last line without a line end, unless the input could not be read.
  if (framer->count > 0 && !framer->restOfSplit && !State.readFailed)
    FormatLine(State.lineBytes, framer->count, host, plugin);
  if (host.setErrorLocation) host.setErrorLocation(nullptr, 0);
  return State.failed ? 1 : 0;
}

}  // namespace horalin::hostkit
