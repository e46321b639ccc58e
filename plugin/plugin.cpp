// Registration and lifecycle: PluginInfo, the load notice, shutdown and Usage.
#include "plugin/plugin.h"

#include "common/text.h"
#include "common/types.h"
#include "platform/help.h"
#include "plugin/TSCmd.h"

namespace horalin {

void* ViewerProcess = nullptr;

const char16_t kFunctionList[] = u"ts,@datefmt";

namespace {

PluginInfo Info;

// One row per command, in the order of the function list.
struct PluginCommand {
  char16_t name[11];
  const char16_t* (*helpText)();
};
constexpr PluginCommand kPluginCommands[] = {{u"ts", TsHelpText}};

}  // namespace

}  // namespace horalin

using namespace horalin;

extern "C" PluginInfo* GetPluginInfo() {
  Info.name = kPluginName;
  Info.author = u"The Horalin developers";
  Info.email = u"horalin@users.invalid";
  Info.webPage = u"https://horalin.invalid/";
  Info.description = u"Reimplements TS and @DATEFMT.";
  Info.functions = kFunctionList;
  Info.major = static_cast<int>(kVersionMajor);
  Info.minor = static_cast<int>(kVersionMinor);
  Info.build = static_cast<int>(kVersionBuild);
  Info.alignment = 0;
  Info.hostField1 = nullptr;
  Info.hostField2 = nullptr;
  return &Info;
}

extern "C" int InitializePlugin() {
  char16_t text[kSmallText] = u"%[_transient]%[_pipe]%[noloadmsg]";
  ExpandVariables(text, 1);
  if (text[0] == u'0' && text[1] == u'0' && text[2] == 0)
    Printf(u"%s v%u.%u.%u loaded.\r\n", kPluginName, kVersionMajor, kVersionMinor, kVersionBuild);
  return 0;
}

extern "C" int ShutdownPlugin() {
  if (ViewerProcess) platform::EndProcess(ViewerProcess);
  ViewerProcess = nullptr;
  return 0;
}

extern "C" int Usage(const char16_t* name, char16_t* syntax) {
  if (!name || !syntax || name[0] == u'@' || name[0] == u'_') return 0;
  for (const PluginCommand& command : kPluginCommands) {
    if (CompareNoCase(name, command.name) != 0) continue;
    const char16_t* text = command.helpText();
    while (*text && *text != u'\n') ++text;
    while (*text == u'\n') ++text;
    CopyText(syntax, kSmallText, text);
    return 1;
  }
  return 0;
}
