// Within the POSIX backend: the function to call before a read that would wait.
#pragma once

namespace horalin::platform {

// Calls the function that SetBeforeBlockingRead gave, if any.
void CallBeforeBlockingRead();

}  // namespace horalin::platform
