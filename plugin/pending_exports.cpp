// Exports whose work is not built yet: each answers as the host expects of a plug-in
// that cannot serve the request. Each moves to its own module when it is built.
#include "host/host.h"

extern "C" int Help(const char16_t*) { return 0; }
extern "C" int ts(const char16_t* arguments) { return arguments ? 1 : 87; }
extern "C" int f_datefmt(char16_t* buffer) { return buffer ? -1 : 1; }
