#include "hostkit/datefmt_lines.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/line_framer.h"
#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"
#include "common/words.h"

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
  char16_t* p = State.argument;
  // To the first percent sign or the terminator, eight (or four) units at a time: the
  // buffer holds the eight units that begin at any terminator the result can have.
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), percent = _mm_set1_epi16(u'%');
  for (__m128i v; v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                  !_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, zero), _mm_cmpeq_epi16(v, percent)));)
    p += 8;
#else
  for (uint64_t v; v = words::Load(p), !words::HasZeroUnit(v) && !words::HasUnit(v, u'%');) p += 4;
#endif
  while (*p && *p != u'%') ++p;
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
  if (count <= State.lineRoom) {
    // Sixteen or eight bytes at a time, then the rest; a byte of 0x80 or above sends the
    // line on the general way.
    bool ascii = true, separator = false;
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(','), semicolon = _mm_set1_epi8(';'), zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
      if (_mm_movemask_epi8(v)) break;  // the eight-byte steps find which
      separator |= _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, semicolon))) != 0;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(text + i), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(text + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i + 8 <= count; i += 8) {
      uint64_t v = words::Load(bytes + i);
      if (words::HasNonAsciiByte(v)) {
        ascii = false;
        break;
      }
      separator |= words::HasByte(v, ',') || words::HasByte(v, ';');
      PutAsciiBytes8(bytes + i, text + i);
    }
    // The last few bytes as the eight that end the line, when it has as many: the bytes
    // taken twice are widened to the same units again.
    if (ascii && i < count && count >= 8) {
      uint64_t v = words::Load(bytes + count - 8);
      ascii = !words::HasNonAsciiByte(v);
      if (ascii) {
        separator |= words::HasByte(v, ',') || words::HasByte(v, ';');
        PutAsciiBytes8(bytes + count - 8, text + count - 8);
        i = count;
      }
    }
    for (; ascii && i < count; ++i) {
      unsigned char b = static_cast<unsigned char>(bytes[i]);
      ascii = b < 0x80;
      separator |= b == ',' || b == ';';
      text[i] = b;
    }
    if (ascii) {
      *cut = count;
      if (separator)
        for (*cut = 0; !IsSeparator(text[*cut]);) ++*cut;
      return count;
    }
  }
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
