// Registration and lifecycle: PluginInfo, the load notice, shutdown and Usage.
#include "plugin/plugin.h"

#include "common/text.h"
#include "common/types.h"
#include "platform/help.h"
#include "plugin/TSCmd.h"

namespace horalin {

PluginModule Module;

const char16_t kFunctionList[] = u"ts,@datefmt";

namespace {

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
  PluginInfo& info = Module.info;
  info.name = kPluginName;
  info.author = u"The Horalin developers";
  info.email = u"horalin@users.invalid";
  info.webPage = u"https://horalin.invalid/";
  info.description = u"Reimplements TS and @DATEFMT.";
  info.functions = kFunctionList;
  info.major = static_cast<int>(kVersionMajor);
  info.minor = static_cast<int>(kVersionMinor);
  info.build = static_cast<int>(kVersionBuild);
  info.alignment = 0;
  info.hostField1 = nullptr;
  info.hostField2 = nullptr;
  return &info;
}

extern "C" int InitializePlugin() {
  char16_t text[kSmallText] = u"%[_transient]%[_pipe]%[noloadmsg]";
  ExpandVariables(text, 1);
  if (text[0] == u'0' && text[1] == u'0' && text[2] == 0)
    Printf(u"%s v%u.%u.%u loaded.\r\n", kPluginName, kVersionMajor, kVersionMinor, kVersionBuild);
  return 0;
}

extern "C" int ShutdownPlugin() {
  if (Module.viewer) platform::EndProcess(Module.viewer);
  Module.viewer = nullptr;
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
