// POSIX backend: errno values as the backend's error codes. The Windows codes that the
// library tells apart (common/types.h) stand for their conditions here too; every other
// errno value is marked with bit 29, which Windows leaves to the codes of a program's
// own, so that none is taken for a Windows code (ENXIO is 6, an invalid handle's code).
#pragma once

#include <cerrno>
#include <cstdint>

#include "common/types.h"

namespace horalin::platform {

inline constexpr uint32_t kErrnoMark = 1u << 29;

inline uint32_t CodeOfErrno(int error) {
  return error == EBADF ? kErrorInvalidHandle : kErrnoMark | static_cast<uint32_t>(error);
}

}  // namespace horalin::platform
