// Registration and lifecycle: PluginInfo, the load notice, shutdown and Usage.
#include "plugin/plugin.h"

#include "common/text.h"
#include "common/types.h"
#include "platform/help.h"

namespace horalin {

void* ModuleHandle = nullptr;
void* ViewerProcess = nullptr;

const char16_t kFunctionList[] = u"ts,@datefmt";

const char16_t kTsHelpText[] =
    u"Add time stamps to lines from a pipe. \n\n"
    u"TS /CP: /D /F /I /S /T /U \"format\" \r\n\n"
    u"\t/CP:n\tcode page (for non-Unicode text) \n"
    u"\t/D\tinclude the date \n"
    u"\t/F\tadd a final footer line \n"
    u"\t/I\tincremental times (since the last line) \n"
    u"\t/S\tcumulative times (since the start time) \n"
    u"\t/T\tinclude the time \n"
    u"\t/U\tCoordinated Universal Time \n"
    u"\tformat\tformat string, as in @DATEFMT \n\n"
    u"TS reads lines from a pipe, and prepends the current time to \n"
    u"each.  Remember that pipe commands run in a new shell!  To pipe \n"
    u"to this command, you must ensure that this plugin is loaded in \n"
    u"the new shell, e.g. by copying the plugin .DLL file to TCC\u2019s \n"
    u"\u2018PlugIns\u2019 directory.\n";

namespace {

PluginInfo Info;

// One row per command, in the order of the function list.
struct PluginCommand {
  char16_t name[11];
  const char16_t* helpText;
};
constexpr PluginCommand kPluginCommands[] = {{u"ts", kTsHelpText}};

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
    const char16_t* text = command.helpText;
    while (*text && *text != u'\n') ++text;
    while (*text == u'\n') ++text;
    CopyText(syntax, kSmallText, text);
    return 1;
  }
  return 0;
}
