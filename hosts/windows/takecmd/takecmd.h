// What the stand-in host library exports: the shell's five host functions (declared for
// the plug-in in host/host.h, where they are imports) and the horalin program's own.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
__declspec(dllexport) int Printf(const char16_t* format, ...);
__declspec(dllexport) int Qprintf(void* handle, const char16_t* format, ...);
__declspec(dllexport) int QPuts(const char16_t* text);
__declspec(dllexport) int ExpandVariables(char16_t* buffer, int size);
__declspec(dllexport) int QueryTrueName(const char16_t* path, char16_t* result);

__declspec(dllexport) void HoralinFlushOutput();
__declspec(dllexport) void HoralinFinishOutput();
__declspec(dllexport) void HoralinWriteText(const char16_t* text, size_t length);
__declspec(dllexport) void HoralinWriteBytes(const char* bytes, size_t count);
__declspec(dllexport) bool HoralinWriteLineBytes(const char* head, size_t headCount, const char* line,
                                                 size_t lineCount);
__declspec(dllexport) uint32_t HoralinErrorsWritten();
__declspec(dllexport) void HoralinSetErrorLocation(const char16_t* name, uint32_t line);
}
