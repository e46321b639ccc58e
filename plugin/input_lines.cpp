// Standard input as lines for the horalin program's datefmt --lines: the pipe reader that
// TS, run and restamp read with, over the program's own read function, so that every
// command that reads lines reads them the same way.

#include <new>

#include "host/host.h"
#include "lines/reader.h"

namespace horalin {

namespace {

static_assert(kInputLineUnits == kLineCapacity);

// One reader's storage, one allocation for the whole input.
struct InputLines {
  alignas(16) uint8_t block[kPipeBlockBytes];
  uint8_t lineBytes[kLineCapacity];
  PipeReader reader;
  HoralinReadInput read;
};

// The reader's read function: the handle is the reader's own storage.
uint32_t ReadThroughProgram(platform::Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  return static_cast<InputLines*>(handle)->read(block, capacity, bytesRead);
}

// The program's read waits for its input: a first line of 8-bit text is taken as it
// stands rather than waited on, so that a line typed at the console is answered at once.
bool NoWait(platform::Handle, uint32_t) { return false; }

}  // namespace

}  // namespace horalin

using namespace horalin;

extern "C" void* OpenInputLines(HoralinReadInput read) {
  if (!read) return nullptr;
  InputLines* lines = new (std::nothrow) InputLines;
  if (!lines) return nullptr;
  lines->read = read;
  SetUpPipeReader(&lines->reader, lines, lines->block, kPipeBlockBytes, lines->lineBytes, EncodingUndecided, 0);
  lines->reader.read = ReadThroughProgram;
  lines->reader.wait = NoWait;
  return lines;
}

extern "C" int ReadInputLine(void* lines, char16_t* line, uint32_t* detail) {
  if (!lines || !line || !detail) return -1;
  PipeReader* reader = &static_cast<InputLines*>(lines)->reader;
  int32_t length = ReadPipeLine(reader, line);
  *detail = length >= 0 ? (reader->lineGoesOn ? 1u : 0u) : (length == -1 ? reader->lastError : 0u);
  return length >= 0 || length == -1 ? length : -2;
}

extern "C" void CloseInputLines(void* lines) { delete static_cast<InputLines*>(lines); }
