#include "plugin/errors.h"

#include <cstdarg>

#include "common/text.h"
#include "common/types.h"
#include "host/host.h"
#include "platform/platform.h"

namespace horalin {

void* StdErrorHandle() { return platform::StdHandle(platform::StdStream::Error); }

int ReportErrorPrefix() {
  Qprintf(StdErrorHandle(), u"%s plugin: ", kPluginName);
  char16_t text[kFormatText] = u"%_batch";
  ExpandVariables(text, 1);
  if (text[0] == u'0') return 0;
  CopyText(text, kFormatText, u"%_batchname [%_batchline]  ");
  ExpandVariables(text, 1);
  Qprintf(StdErrorHandle(), u"%s", text);  // plain text: a % in the name stays as it is
  return 0;
}

int ErrorCodeText(uint32_t code, char16_t* text) {
  if (code == 0xFFFFFFFFu)
    CopyText(text, kSmallText, u"Unknown error");
  else if (!platform::SystemErrorText(code, text, kSmallText))
    FormatText(text, kSmallText, u"Error %d", static_cast<int>(code));
  TrimTrailingSpace(text);
  return 0;
}

void ReportErrorV(const char16_t* format, va_list args) {
  ReportErrorPrefix();
  char16_t message[kFormatText];
  FormatTextV(message, kFormatText, format, args);
  Qprintf(StdErrorHandle(), u"%s", message);
}

void ReportError(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  ReportErrorV(format, args);
  va_end(args);
}

int32_t ShowErrorPosition(const char16_t* start, const char16_t* position) {
  if (!start || !position) return -1;
  if (position < start) return -2;
  // One blank per unit before the position; the argument of a host buffer never puts it
  // further than 8191 units on, and a longer distance is held at the buffer's end.
  static_assert(kFormatText >= 2);
  char16_t caret[kFormatText];
  size_t column = static_cast<size_t>(position - start);
  if (column > kFormatText - 2) column = kFormatText - 2;
  for (size_t i = 0; i < column; ++i) caret[i] = u' ';
  caret[column] = u'^';
  caret[column + 1] = 0;
  void* error = StdErrorHandle();
  Qprintf(error, u"\r\n");
  Qprintf(error, u"%s\r\n", start);
  Qprintf(error, u"%s\r\n", caret);
  return 0;
}

void ReportParseError(const char16_t* text, const ParseError& error) {
  const uint32_t* v = error.values;
  ReportError(error.message, v[0], v[1], v[2], v[3]);
  if (error.position) ShowErrorPosition(text, error.position);
}

int ReportNoMemory() {
  ReportError(u"Not enough memory\r\n");
  return 1;
}

}  // namespace horalin
