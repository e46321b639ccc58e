// Help: finds the help file in seven places and opens the viewer at the page of the
// command or function that the host asks about.
#include "plugin/help.h"

#include <memory>
#include <new>

#include "common/text.h"
#include "common/types.h"
#include "platform/help.h"
#include "plugin/errors.h"
#include "plugin/plugin.h"

namespace horalin {

namespace {

// The working buffers of one search, made by it on the heap (they are large for the
// shell's stack) and used by each place in turn.
struct HelpPaths {
  char16_t path[kPathText];
  char16_t scratch[kPathText];
  char16_t viewer[kPathText];
};

constexpr char16_t kMissingHelpTitle[] = u"Missing Help File";

// The text after the bracketed variable of a place ("\Horalin.chm" after "%[PluginHelp]"),
// or null when the place names no such variable.
const char16_t* TextAfterVariable(const char16_t* location) {
  if (location[0] != u'%' || location[1] != u'[') return nullptr;
  for (const char16_t* p = location + 2; *p; ++p)
    if (*p == u']') return p + 1;
  return nullptr;
}

bool SameText(const char16_t* a, const char16_t* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// One place: the path after "~" and variable expansion, its true name, the file test,
// the viewer, and the viewer started at the topic's page. Returns 1 when a viewer
// started, 0 otherwise.
int TryHelpFile(const char16_t* location, const char16_t* topic, HelpPaths& buffers) {
  if (!location || !topic) return 0;
  const char16_t separator = platform::PathSeparator();
  char16_t* path = buffers.path;
  CopyText(path, kPathText, location);

  // "~" and a separator: the folder of the library itself.
  if (path[0] == u'~' && path[1] == separator) {
    size_t length = platform::ModuleFileName(path, kPathText);
    size_t cut = length;
    while (cut > 0 && path[cut - 1] != separator) --cut;
    if (cut == 0) return 0;
    path[cut - 1] = 0;
    AppendText(path, kPathText, location + 1);
  }

  // A place named by a variable is skipped when the variable expands to nothing: the
  // path would otherwise name the help file in the root folder (or the current one).
  const char16_t* afterVariable = TextAfterVariable(location);
  ExpandVariables(path, 1);
  if (afterVariable && SameText(path, afterVariable)) return 0;

  QueryTrueName(path, buffers.scratch);
  CopyText(path, kPathText, buffers.scratch);
  if (path[0] == 0) return 0;
  // Only an existing file will do: not a folder, not a device.
  uint32_t attributes = platform::FileAttributes(path);
  if (attributes & (platform::kAttributeDirectory | platform::kAttributeDevice)) return 0;

  char16_t* viewer = buffers.viewer;
  viewer[0] = 0;
  platform::FindHelpViewer(viewer, kPathText);
  if (viewer[0] == 0) return 0;

  platform::AppendHelpPage(path, kPathText, topic);
  char16_t* commandLine = buffers.scratch;
  commandLine[0] = 0;
  AppendText(commandLine, kPathText, u"\"");
  AppendText(commandLine, kPathText, viewer);
  AppendText(commandLine, kPathText, u"\" \"");
  AppendText(commandLine, kPathText, path);
  AppendText(commandLine, kPathText, u"\"");

  platform::Handle process = nullptr;
  if (!platform::StartProcess(viewer, commandLine, &process)) return 0;
  // The help file is found and its viewer ran: a failure of the viewer is reported, and
  // no other place is tried.
  char16_t failure[kSmallText];
  if (platform::ViewerFailed(failure, kSmallText)) ReportError(u"The help viewer failed: %s\r\n", failure);
  // The new viewer is running: only now does the earlier one go.
  if (Module.viewer) platform::EndProcess(Module.viewer);
  Module.viewer = process;
  return 1;
}

}  // namespace

int FindHelpFile(const char16_t* topic) {
  std::unique_ptr<HelpPaths> buffers(new (std::nothrow) HelpPaths);
  if (!buffers) {
    ReportNoMemory();
    return 1;
  }
  char16_t location[kSmallText];
  for (int i = 0; i < platform::kHelpPlaceCount; ++i) {
    FormatText(location, kSmallText, platform::HelpPlace(i), kPluginName, kPluginName);
    if (TryHelpFile(location, topic, *buffers)) return 1;
  }

  char16_t upperName[kSmallText];
  CopyText(upperName, kSmallText, kPluginName);
  for (char16_t* p = upperName; *p; ++p) *p = ToUpper(*p);
  char16_t folder[kSmallText];
  platform::SystemHelpFolder(folder, kSmallText);
  char16_t message[kSmallText];
  FormatText(message, kSmallText, platform::MissingHelpText(), kPluginName, upperName, folder);
  if (!platform::ShowMessageBox(kMissingHelpTitle, message)) {
    ReportErrorPrefix();
    Qprintf(StdErrorHandle(), u"%s", message);
  }
  return 1;
}

}  // namespace horalin

using namespace horalin;

// Answers the names of the function list, whether or not the help file is found; any
// other name is left to the host.
extern "C" int Help(const char16_t* name) {
  if (!name) return 0;
  const char16_t* entry = kFunctionList;
  while (*entry) {
    const char16_t* end = entry;
    while (*end && *end != u',') ++end;
    size_t length = static_cast<size_t>(end - entry);
    size_t i = 0;
    while (i < length && name[i] && ToLower(name[i]) == ToLower(entry[i])) ++i;
    if (i == length && name[length] == 0) {
      // The page's name: "@name" gives "f_name", "_name" gives "v_name".
      char16_t topic[kSmallText];
      size_t n = 0;
      if (entry[0] == u'@') {
        topic[n++] = u'f';
        topic[n++] = u'_';
        ++entry, --length;
      } else if (entry[0] == u'_') {
        topic[n++] = u'v';
      }
      for (size_t k = 0; k < length && n + 1 < kSmallText; ++k) topic[n++] = ToLower(entry[k]);
      topic[n] = 0;
      return FindHelpFile(topic);
    }
    entry = *end ? end + 1 : end;
  }
  return 0;
}
