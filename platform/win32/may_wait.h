// Whether a read of a handle may wait for input, for the Windows backend and the Windows
// program alike: output held back must be written before such a read.
#pragma once
#include <windows.h>

// A pipe with nothing in it or a console may wait; a file on disk never does. The kind of
// handle is learnt once per handle.
inline bool MayWait(HANDLE handle) {
  static HANDLE known;
  static DWORD type;
  if (handle != known) known = handle, type = GetFileType(handle);
  if (type == FILE_TYPE_DISK) return false;
  DWORD available = 0;
  return type != FILE_TYPE_PIPE || !PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) || available == 0;
}
