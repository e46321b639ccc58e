// The plug-in's identity and the state that outlives a single call.
#pragma once

#include "host/host.h"

namespace horalin {

// What the plug-in keeps from one call of the host to a later one, because the host's
// calling convention gives it nowhere else to keep it: the record that GetPluginInfo
// returns (the host holds on to its address), and the help viewer that Help started,
// which runs on after Help returns until the next Help or ShutdownPlugin ends it. Every
// command keeps its own state in a record of its call.
struct PluginModule {
  PluginInfo info;
  void* viewer;  // the help viewer's process handle, or null
};
extern PluginModule Module;

// The names the plug-in provides: "ts,@datefmt".
extern const char16_t kFunctionList[];

}  // namespace horalin
