// POSIX backend: the start of a program through posix_spawn, with the standard streams
// and signals that its caller sets up.
#include "platform/posix/spawn.h"

#include <spawn.h>
#include <unistd.h>

#include "common/text.h"
#include "common/utf.h"

extern char** environ;

namespace horalin::platform {

sigset_t SignalsNotIgnored(const int* list, size_t count, bool* notIgnored) {
  sigset_t set;
  sigemptyset(&set);
  for (size_t i = 0; i < count; ++i) {
    struct sigaction now {};
    sigaction(list[i], nullptr, &now);
    notIgnored[i] = now.sa_handler != SIG_IGN;
    if (notIgnored[i]) sigaddset(&set, list[i]);
  }
  return set;
}

void Utf8Arguments(const char16_t* const* argv, size_t count, std::vector<char*>* args, std::vector<char>* store) {
  args->assign(count + 1, nullptr);
  size_t room = 0;
  for (size_t i = 0; i < count; ++i) room += 3 * TextLength(argv[i]) + 1;
  store->assign(room, 0);
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    (*args)[i] = store->data() + used;
    used += Utf8FromUtf16(argv[i], TextLength(argv[i]), store->data() + used) + 1;
  }
}

int SpawnProgram(pid_t* pid, const char* file, char* const* argv, const SpawnSetup& setup) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (setup.output >= 0) posix_spawn_file_actions_adddup2(&actions, setup.output, 1);
  if (setup.error >= 0) posix_spawn_file_actions_adddup2(&actions, setup.error, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigdefault(&attributes, &setup.defaults);
  int flags = POSIX_SPAWN_SETSIGDEF;
  if (setup.noneBlocked) {
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    flags |= POSIX_SPAWN_SETSIGMASK;
  }
  posix_spawnattr_setflags(&attributes, static_cast<short>(flags));
  int failed = posix_spawn(pid, file, &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return failed;
}

}  // namespace horalin::platform
