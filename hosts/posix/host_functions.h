// The POSIX program's host: start, finish and state of its output.
#pragma once

#include <cstddef>
#include <cstdint>

namespace horalin::posixhost {

void StartHost();
// Writes all buffered output.
void FinishHost();
// Standard input, for the command line's bulk modes.
uint32_t ReadStandardInput(void* block, uint32_t capacity, uint32_t* bytesRead);
// Error messages show `name` and `line` as a batch location until the name is null.
void SetErrorLocation(const char16_t* name, uint32_t line);
// Standard output with the length known, as QPuts writes it.
void WriteText(const char16_t* text, size_t length);
bool WriteAsciiLine(const char16_t* text, size_t length);
// The system's text for an error code.
bool ErrorText(uint32_t code, char16_t* text, size_t capacity);
// How many texts have gone to standard error.
uint32_t ErrorsWritten();

}  // namespace horalin::posixhost
