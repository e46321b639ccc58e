// The POSIX program's host: start, finish and state of its output.
#pragma once

namespace horalin::posixhost {

void StartHost();
// Writes all buffered output.
void FinishHost();
// Whether standard output failed (a reader that went away).
bool OutputFailed();

}  // namespace horalin::posixhost
