#include "hostkit/expand.h"

#include "common/text.h"
#include "common/types.h"

namespace horalin::hostkit {

namespace {

bool IsNameUnit(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'$';
}

struct Output {
  char16_t text[kExpansionCapacity];
  size_t length = 0;
  void Put(const char16_t* s, size_t n) {
    for (size_t i = 0; i < n && length + 1 < kExpansionCapacity; ++i) text[length++] = s[i];
  }
};

// The text of a bracketed argument starting at `p` (after "["), up to its matching "]".
const char16_t* ClosingBracket(const char16_t* p) {
  int depth = 1;
  for (; *p; ++p) {
    if (*p == u'[') ++depth;
    if (*p == u']' && --depth == 0) return p;
  }
  return nullptr;
}

void Expand(const char16_t* p, const char16_t* end, Output& out, VariableLookup lookup);

// "%@name[argument]": the argument is expanded first.
const char16_t* ExpandFunction(const char16_t* p, Output& out, VariableLookup lookup) {
  const char16_t* name = p;
  while (IsNameUnit(*p)) ++p;
  if (*p != u'[') return nullptr;
  const char16_t* close = ClosingBracket(p + 1);
  if (!close) return nullptr;
  Output argument;
  Expand(p + 1, close, argument, lookup);
  argument.text[argument.length] = 0;
  size_t nameLength = static_cast<size_t>(p - name);
  if (nameLength == 4 && StartsWithNoCase(name, u"path")) {
    size_t keep = 0;
    for (size_t i = 0; i < argument.length; ++i)
      if (argument.text[i] == u'\\' || argument.text[i] == u'/') keep = i + 1;
    out.Put(argument.text, keep);
  }
  return close + 1;
}

void PutVariable(const char16_t* name, size_t length, Output& out, VariableLookup lookup) {
  char16_t value[kExpansionCapacity];
  if (length && lookup(name, length, value, kExpansionCapacity)) out.Put(value, TextLength(value));
}

void Expand(const char16_t* p, const char16_t* end, Output& out, VariableLookup lookup) {
  while (p < end && *p) {
    if (*p != u'%') {
      out.Put(p++, 1);
      continue;
    }
    ++p;
    if (*p == u'%') {
      out.Put(p++, 1);
    } else if (*p == u'[') {
      const char16_t* close = ClosingBracket(p + 1);
      if (!close || close > end) {
        out.Put(p - 1, 1);
        continue;
      }
      PutVariable(p + 1, static_cast<size_t>(close - p - 1), out, lookup);
      p = close + 1;
    } else if (*p == u'@') {
      const char16_t* after = ExpandFunction(p + 1, out, lookup);
      if (after)
        p = after;
      else
        out.Put(p - 1, 1);
    } else if (IsNameUnit(*p)) {
      const char16_t* name = p;
      while (p < end && IsNameUnit(*p)) ++p;
      PutVariable(name, static_cast<size_t>(p - name), out, lookup);
    } else {
      out.Put(p - 1, 1);
    }
  }
}

}  // namespace

void ExpandVariableReferences(char16_t* buffer, VariableLookup lookup) {
  Output out;
  Expand(buffer, buffer + TextLength(buffer), out, lookup);
  out.text[out.length] = 0;
  CopyText(buffer, kExpansionCapacity, out.text);
}

namespace {

bool LocationVariable(const VariableSources& sources, const char16_t* name, char16_t* value, size_t capacity) {
  if (!sources.locationName) return false;
  if (CompareNoCase(name, u"_batch") == 0)
    CopyText(value, capacity, u"1");
  else if (CompareNoCase(name, u"_batchname") == 0)
    CopyText(value, capacity, sources.locationName);
  else if (CompareNoCase(name, u"_batchline") == 0)
    FormatText(value, capacity, u"%u", sources.locationLine);
  else
    return false;
  return true;
}

bool InternalVariable(const VariableSources& sources, const char16_t* name, char16_t* value, size_t capacity) {
  const char16_t* v = nullptr;
  static char16_t program[kPathText];  // one lookup at a time: the hosts call from one thread
  if (CompareNoCase(name, u"_batch") == 0 || CompareNoCase(name, u"_batchline") == 0) {
    v = u"0";
  } else if (CompareNoCase(name, u"_batchname") == 0) {
    v = u"";
  } else if (CompareNoCase(name, u"_transient") == 0) {
    v = u"1";
  } else if (CompareNoCase(name, u"_pipe") == 0) {
    v = sources.inputIsTerminal() ? u"0" : u"1";
  } else if (CompareNoCase(name, u"_cmdspec") == 0) {
    sources.programPath(program, kPathText);
    v = program;
  }
  if (!v) return false;
  CopyText(value, capacity, v);
  return true;
}

}  // namespace

bool LookupVariable(const VariableSources& sources, const char16_t* name, size_t length, char16_t* value,
                    size_t capacity) {
  char16_t key[256];
  if (length >= 256) return false;
  for (size_t i = 0; i < length; ++i) key[i] = name[i];
  key[length] = 0;
  return LocationVariable(sources, key, value, capacity) || sources.environment(key, value, capacity) ||
         InternalVariable(sources, key, value, capacity);
}

}  // namespace horalin::hostkit
