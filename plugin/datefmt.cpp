// @DATEFMT[date and time,format]: the date and time formatted by the format string. The
// glue between the host and the engine: it reads the argument, reports what went wrong,
// and hands the parsed date and time to the format interpreter.

#include "common/scans.h"
#include "common/text.h"
#include "common/types.h"
#include "datetime/format.h"
#include "datetime/parser.h"
#include "host/host.h"
#include "lines/platform_services.h"
#include "plugin/errors.h"

using namespace horalin;

// The host's buffer holds the argument on entry and the result on success (8192 units).
// Returns 0 with the result, -1 after reporting an error, 1 without a buffer.
extern "C" int f_datefmt(char16_t* buffer) {
  if (!buffer) return 1;
  const char16_t* p = SkipWhiteSpace(buffer);
  if (*p == 0 || *p == u',' || *p == u';') {
    ReportError(u"Missing date and time\r\n");
    return -1;
  }

  SYSTEMTIME dateTime{};
  int32_t utc = 0;
  const char16_t* end = p;
  ParseError error;
  if (ParseDateTime(p, &dateTime, &end, &utc, &error, kPlatformServices) != 0) {
    ReportParseError(p, error);
    return -1;
  }
  end = SkipWhiteSpace(end);
  // The first comma or semicolon after the date and time separates the format; any
  // later one belongs to the format.
  if (*end != u',' && *end != u';') {
    ReportError(u"Syntax error (expected a comma)\r\n");
    ShowErrorPosition(buffer, end);
    return -1;
  }
  const char16_t* format = end + 1;
  if (*format == 0) {
    ReportError(u"Missing format string\r\n");
    return -1;
  }

  // The result would overtake the format in the same buffer, so the format is copied
  // aside and the result formatted straight into the buffer. The format was written
  // before the date was read; the result has just been written, in pieces, and a copy
  // of it in wide reads would wait for each piece's write to land.
  char16_t copy[kFormatText];
  scans::fast::CopyThroughZero(format, buffer + kFormatText, copy);
  FormatDateTime(buffer, copy, dateTime, utc ? FDT_UTC : 0, kPlatformServices);
  return 0;
}
