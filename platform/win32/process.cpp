// Win32 backend: the command line of a program to start, quoted argument by argument, and
// its start.
#include "platform/win32/process.h"

namespace horalin::platform {

void Put(BoundedText* b, char16_t c, size_t times) {
  for (; times > 0 && b->room; --times) {
    b->room = b->used + 1 < b->capacity;
    if (b->room) b->text[b->used++] = c;
  }
  b->text[b->room ? b->used : 0] = 0;
}

void PutText(BoundedText* b, const char16_t* text) {
  for (; *text; ++text) Put(b, *text);
}

namespace {

// The argument in double quotes: backslashes before a quote, or before the closing quote,
// doubled; a quote itself escaped with a backslash (`doubledQuote` false) or doubled.
void PutQuoted(BoundedText* b, const char16_t* argument, bool doubledQuote) {
  Put(b, u'"');
  for (const char16_t* p = argument;; ++p) {
    size_t backslashes = 0;
    for (; *p == u'\\'; ++p) ++backslashes;
    const bool quote = *p == u'"';
    Put(b, u'\\', *p == 0 || quote ? 2 * backslashes + (quote && !doubledQuote) : backslashes);
    if (*p == 0) break;
    if (quote && doubledQuote) Put(b, u'"');
    Put(b, *p);
  }
  Put(b, u'"');
}

}  // namespace

void AppendArgument(BoundedText* b, const char16_t* argument, bool always) {
  if (b->used) Put(b, u' ');
  bool unquoted = argument[0] != 0 && !always;
  for (const char16_t* p = argument; *p && unquoted; ++p)
    unquoted = *p != u' ' && *p != u'\t' && *p != u'\n' && *p != u'\v' && *p != u'"';
  if (unquoted)
    PutText(b, argument);
  else
    PutQuoted(b, argument, false);
}

bool AppendBatchArgument(BoundedText* b, const char16_t* argument, bool always) {
  bool unquoted = argument[0] != 0 && !always;
  for (const char16_t* p = argument; *p; ++p) {
    if (*p == u'\r' || *p == u'\n' || *p == u'%') return false;
    const char16_t c = *p;
    bool safe = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    for (const char16_t* q = u"-_./:\\@+#$"; *q && !safe; ++q) safe = *q == c;
    unquoted = unquoted && safe;
  }
  if (b->used) Put(b, u' ');
  if (unquoted)
    PutText(b, argument);
  else
    PutQuoted(b, argument, true);
  return true;
}

uint32_t CreateProgram(const char16_t* program, char16_t* line, const StandardHandles* handles,
                       PROCESS_INFORMATION* process) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (handles) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles->input;
    startup.hStdOutput = handles->output;
    startup.hStdError = handles->error;
  }
  *process = PROCESS_INFORMATION{};
  const BOOL started =
      CreateProcessW(program[0] ? reinterpret_cast<LPCWSTR>(program) : nullptr, reinterpret_cast<LPWSTR>(line), nullptr,
                     nullptr, handles != nullptr, 0, nullptr, nullptr, &startup, process);
  return started ? 0 : GetLastError();
}

}  // namespace horalin::platform
