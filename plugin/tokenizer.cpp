#include "plugin/tokenizer.h"

#include "common/text.h"
#include "host/host.h"
#include "plugin/errors.h"

namespace horalin {

namespace {

void ResetArguments(ArgumentList& list) {
  list.count = 0;
  for (int32_t k = 0; k < kMaxArguments; ++k) {
    list.args[k] = nullptr;
    list.lengths[k] = 0;
  }
  list.buffer[0] = 0;
}

// A colon directly after a letter and directly before "//" marks a URL, whose slashes
// must not split the argument ("/X:x://a/b").
bool StartsUrl(const char16_t* colon) { return IsLetter(colon[-1]) && colon[1] == u'/' && colon[2] == u'/'; }

}  // namespace

int32_t TokenizeArguments(const char16_t* text, ArgumentList* list) {
  if (!text) return -1;
  ArgumentList& arguments = *list;
  ResetArguments(arguments);
  char16_t* const buffer = arguments.buffer;
  int32_t index = 0;   // current argument
  int32_t length = 0;  // of the current argument
  int32_t next = 0;    // next free position in buffer
  bool quoted = false, url = false;

  // Moves past the ended argument and its terminator.
  auto endArgument = [&] {
    ++index;
    ++next;
    if (next < kArgumentUnits) buffer[next] = 0;
    length = 0;
    quoted = url = false;
  };

  for (const char16_t* p = text;; ++p) {
    char16_t c = *p;
    if (c == u'"') {
      quoted = !quoted;
    } else if (IsSpace(c) && !quoted) {
      if (length > 0) endArgument();
      continue;
    } else if (c == u':') {
      if (length > 0 && StartsUrl(p)) url = true;
    } else if (c == u'/') {
      // A slash starts a new switch once the current one holds "/" and something more.
      if (!quoted && !url && length >= 2 && arguments.args[index][0] == u'/') endArgument();
    } else if (c == 0) {
      if (length > 0) ++index;
      break;
    }
    if (next >= kArgumentUnits - 1) {
      ReportErrorPrefix();
      Qprintf(StdErrorHandle(), u"Buffer overflow: b = %d, MAX_ARG_LEN = %d \r\n", next, kArgumentUnits);
      return -1;
    }
    if (index >= kMaxArguments) continue;  // arguments past the 1024th are dropped
    if (length == 0) arguments.args[index] = buffer + next;
    buffer[next++] = c;
    buffer[next] = 0;
    arguments.lengths[index] = ++length;
  }

  // Only an argument that ends inside an unclosed quote can end in white space.
  for (int32_t k = 0; k < index; ++k) {
    while (arguments.lengths[k] > 0 && IsSpace(arguments.args[k][arguments.lengths[k] - 1]))
      arguments.args[k][--arguments.lengths[k]] = 0;
  }
  arguments.count = index;
  return index;
}

}  // namespace horalin
