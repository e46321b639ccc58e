// horalin.exe: the plug-in's command and function as a standalone Windows program. It
// loads the stand-in host library from its host folder first, so that Horalin.dll's
// imports from TakeCmd.dll resolve to it, then loads Horalin.dll beside itself.
#include <windows.h>

#include "common/text.h"
#include "hostkit/cli.h"
#include "platform/platform.h"

using namespace horalin;

namespace {

// The folder of this program, with its final backslash.
size_t ProgramFolder(wchar_t* path, size_t capacity) {
  DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(capacity));
  if (n == 0 || n >= capacity) return 0;
  while (n > 0 && path[n - 1] != L'\\' && path[n - 1] != L'/') --n;
  path[n] = 0;
  return n;
}

HMODULE LoadBeside(const wchar_t* name) {
  static wchar_t path[32768];
  if (!ProgramFolder(path, 32768)) return nullptr;
  lstrcatW(path, name);
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

int Fail(const char* message) {
  DWORD written;
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  WriteFile(err, message, static_cast<DWORD>(lstrlenA(message)), &written, nullptr);
  return 3;
}

template <typename T>
bool Bind(HMODULE module, const char* name, T* target) {
  *target = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *target != nullptr;
}

// The stand-in host's functions beyond the shell's five.
void (*FlushOutput)();  // bound to check that the host has it; the platform's read calls it
void (*FinishOutput)();

// Standard input, for datefmt --lines. The platform's read writes what the host's output
// holds before a read that may wait (the stand-in host exports HoralinFlushOutput).
uint32_t ReadStandardInput(void* block, uint32_t capacity, uint32_t* bytesRead) {
  uint32_t error = platform::ReadInput(platform::StdHandle(platform::StdStream::Input), block, capacity, bytesRead);
  return error == kErrorBrokenPipe ? 0 : error;  // the writer closed the pipe: the end
}

// The system's text for an error code on one line, as TS shows it.
bool ErrorText(uint32_t code, char16_t* text, size_t capacity) {
  return platform::SystemErrorText(code, text, capacity);
}

}  // namespace

int wmain(int argc, wchar_t** argv);  // the entry point, called by the runtime

int wmain(int argc, wchar_t** argv) {
  HMODULE hostLibrary = LoadBeside(L"host\\TakeCmd.dll");
  if (!hostLibrary) return Fail("horalin: cannot load host\\TakeCmd.dll beside horalin.exe\r\n");
  HMODULE plugin = LoadBeside(L"Horalin.dll");
  if (!plugin) return Fail("horalin: cannot load Horalin.dll beside horalin.exe\r\n");

  hostkit::HostFunctions host{};
  hostkit::PluginExports exports{};
  bool bound = Bind(hostLibrary, "Printf", &host.printf) && Bind(hostLibrary, "Qprintf", &host.qprintf) &&
               Bind(hostLibrary, "QPuts", &host.puts) && Bind(hostLibrary, "ExpandVariables", &host.expandVariables) &&
               Bind(hostLibrary, "QueryTrueName", &host.queryTrueName) &&
               Bind(hostLibrary, "HoralinFlushOutput", &FlushOutput) &&
               Bind(hostLibrary, "HoralinFinishOutput", &FinishOutput) &&
               Bind(hostLibrary, "HoralinWriteText", &host.writeText) &&
               Bind(hostLibrary, "HoralinSetErrorLocation", &host.setErrorLocation) &&
               Bind(hostLibrary, "HoralinErrorsWritten", &host.errorsWritten) &&
               Bind(plugin, "GetPluginInfo", &exports.getPluginInfo) &&
               Bind(plugin, "InitializePlugin", &exports.initializePlugin) &&
               Bind(plugin, "ShutdownPlugin", &exports.shutdownPlugin) && Bind(plugin, "Usage", &exports.usage) &&
               Bind(plugin, "Help", &exports.help) && Bind(plugin, "ts", &exports.ts) &&
               Bind(plugin, "f_datefmt", &exports.datefmt) && Bind(plugin, "StampCommand", &exports.stampCommand) &&
               Bind(plugin, "RestampLog", &exports.restampLog) && Bind(plugin, "DateLine", &exports.dateLine) &&
               Bind(plugin, "OpenInputLines", &exports.openInputLines) &&
               Bind(plugin, "ReadInputLine", &exports.readInputLine) &&
               Bind(plugin, "CloseInputLines", &exports.closeInputLines);
  if (!bound) return Fail("horalin: Horalin.dll or the host library lacks an export\r\n");
  host.standardError = GetStdHandle(STD_ERROR_HANDLE);
  host.readInput = ReadStandardInput;
  host.errorText = ErrorText;

  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  int status = hostkit::RunCommandLine(argc - 1, reinterpret_cast<char16_t**>(argv + 1), host, exports);
  FinishOutput();
  FreeLibrary(plugin);
  return status;
}
