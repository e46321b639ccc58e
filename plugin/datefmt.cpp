// @DATEFMT[date and time,format]: the date and time formatted by the format string. The
// glue between the host and the engine: it reads the argument, reports what went wrong,
// and hands the parsed date and time to the format interpreter.

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

  DateTime dateTime{};
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

  // The result overtakes the format in the same buffer: the format is read whole first.
  FormatCached(buffer, format, dateTime, utc ? FDT_UTC : 0, kPlatformServices);
  return 0;
}
