// horalin: the plug-in's command and function as a standalone POSIX program.
#include <clocale>
#include <cstring>

#include "common/utf.h"
#include "host/host.h"
#include "hostkit/cli.h"
#include "hosts/posix/host_functions.h"
#include "platform/platform.h"

using namespace horalin;

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  posixhost::StartHost();

  static char16_t storage[1 << 18];
  static char16_t* args[1024];
  int count = 0;
  size_t used = 0;
  for (int i = 1; i < argc && count < 1024; ++i) {
    size_t room = sizeof storage / sizeof storage[0] - used;
    if (room < 2) break;
    args[count++] = storage + used;
    used += Utf16FromUtf8(argv[i], std::strlen(argv[i]), storage + used, room) + 1;
  }
  // A command run gets its arguments as they came, not through the engine's text.
  if (count == argc - 1) platform::KeepArgumentBytes(argv + 1, count);

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
                              posixhost::ErrorsWritten};
  hostkit::PluginExports plugin{GetPluginInfo, InitializePlugin, ShutdownPlugin, Usage,   Help, ts,
                                f_datefmt,     StampCommand,     RestampLog,     DateLine};
  int status = hostkit::RunCommandLine(count, args, host, plugin);
  posixhost::FinishHost();
  platform::EndLikeCommand(status);
  return status;
}
