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

int Win32ErrorText(uint32_t code, char16_t* text) {
  if (code == 0xFFFFFFFFu)
    CopyText(text, kSmallText, u"Unknown error");
  else if (!platform::SystemErrorText(code, text, kSmallText))
    FormatText(text, kSmallText, u"Error %d", static_cast<int>(code));
  size_t length = TextLength(text);
  while (length > 0 && IsSpace(text[length - 1])) text[--length] = 0;
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

}  // namespace horalin
