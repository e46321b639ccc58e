// horalin: the plug-in's command and function as a standalone POSIX program.
#include <clocale>
#include <cstring>
#include <vector>

#include "common/utf.h"
#include "host/host.h"
#include "hostkit/cli.h"
#include "hosts/posix/host_functions.h"
#include "platform/platform.h"

using namespace horalin;

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  posixhost::StartHost();

  // Every argument, as many as the system passed: a UTF-8 byte becomes at most one unit.
  size_t room = 1;
  for (int i = 1; i < argc; ++i) room += std::strlen(argv[i]) + 1;
  std::vector<char16_t> storage(room);
  std::vector<char16_t*> args(static_cast<size_t>(argc));
  int count = 0;
  size_t used = 0;
  for (int i = 1; i < argc; ++i) {
    args[static_cast<size_t>(count++)] = storage.data() + used;
    used += Utf16FromUtf8(argv[i], std::strlen(argv[i]), storage.data() + used, room - used) + 1;
  }
  // A command run gets its arguments as they came, not through the engine's text.
  platform::KeepArgumentBytes(argv + 1, count);

  hostkit::HostFunctions host{Printf,
                              Qprintf,
                              QPuts,
                              ExpandVariables,
                              QueryTrueName,
                              platform::StdHandle(platform::StdStream::Error),
                              posixhost::ReadStandardInput,
                              posixhost::SetErrorLocation,
                              posixhost::WriteText,
                              posixhost::ErrorText,
                              posixhost::ErrorsWritten,
                              posixhost::WriteAsciiLine};
  hostkit::PluginExports plugin{
      GetPluginInfo, InitializePlugin, ShutdownPlugin, Usage,         Help,           ts, f_datefmt, StampCommand,
      RestampLog,    DateLine,         OpenInputLines, ReadInputLine, CloseInputLines};
  int status = hostkit::RunCommandLine(count, args.data(), host, plugin);
  posixhost::FinishHost();
  platform::EndLikeCommand(status);
  return status;
}
