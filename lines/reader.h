// The pipe line reader: turns the bytes of standard input into lines of UTF-16 text,
// one per call, deciding the encoding as the blocks come in.
#pragma once

#include <cstdint>

#include "common/line_framer.h"
#include "lines/encoding.h"
#include "platform/platform.h"

namespace horalin {

inline constexpr uint32_t kPipeBlockBytes = 8192;
// The most of the input's first bytes that the encoding is decided on: the first read
// asks for no more than these, whatever the block holds.
inline constexpr uint32_t kSampleBytes = 8192;
// The block of a stream of many lines (TS's input, a command's pipes under run): a read
// takes as much as has come, up to this, and its lines share the moment it was read at.
inline constexpr uint32_t kStreamBlockBytes = 65536;
// The line buffer holds at most 32,767 units and the terminator; the working storage
// for a line of byte text holds as many bytes.
inline constexpr uint32_t kLineCapacity = 32768;
inline constexpr uint32_t kLineMaxUnits = kLineCapacity - 1;
inline constexpr int32_t kEndOfInput = -2;
// The read function found nothing yet (kErrorIoPending): the line so far is kept for the
// next call, which must come with the same line buffer.
inline constexpr int32_t kNoLineYet = -3;
inline constexpr uint32_t kDecodedUnits = 512;

// Reads up to `capacity` bytes: 0 and the count (0 at the end), or a system error code;
// kErrorIoPending from a source read without waiting, when it has nothing yet.
using ReadFunction = uint32_t (*)(platform::Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead);
// Waits at most `milliseconds` for input; false when none came (a read would still wait).
using WaitFunction = bool (*)(platform::Handle handle, uint32_t milliseconds);
// How long the first line, when it is whole as 8-bit text, waits for the bytes that could
// still show it to be UTF-16.
inline constexpr uint32_t kSampleWaitMilliseconds = 100;

struct PipeReader {
  uint8_t* block;     // the bytes of the last read
  uint32_t capacity;  // bytes asked for in each read (in the first, kSampleBytes at most)
  uint32_t position;  // next byte not yet taken
  uint32_t length;    // valid bytes in the block
  // Forced, or found by a signature or the first bytes. Byte text that neither an option
  // nor a signature named stays EncodingUndecided: each of its lines is read as UTF-8
  // when it is well-formed UTF-8, else with the code page.
  TextEncoding encoding;
  uint32_t codePage;   // for the byte encodings; 0 until the OEM code page is looked up
  int32_t firstBlock;  // true until a read returns bytes
  platform::Handle handle;
  int32_t atEnd;
  uint32_t lastError;  // of the read that failed or ended the input

  ReadFunction read;   // platform::ReadInput, or a test's source of blocks
  WaitFunction wait;   // platform::WaitForInput, or a test's
  uint8_t* lineBytes;  // kLineCapacity bytes: a line of byte text that spans blocks
  // A read failed (not a broken pipe): no read follows; the line that came before it, if
  // any, is handed over first, and every call after that returns -1.
  int32_t failed;
  int32_t ended;  // kEndOfInput was returned: every later call returns it at once
  // The line last handed over reached kLineMaxUnits and was cut there: the next line
  // is its rest (TS stamps each piece; the run command writes the pieces as one line).
  int32_t lineGoesOn;
  uint32_t deferredError;  // how a read after a cut signature ended, for the next read to report
  // Set by the caller whose output takes UTF-8: a line of byte text that is 7-bit (in an
  // encoding that keeps ASCII) or well-formed UTF-8 read as UTF-8 is handed over as its
  // bytes, not widened; `lineAsBytes` then points at them (the length being the line's),
  // where they stay until the next call, and the line buffer is left as it was. Null when
  // the line is in the line buffer.
  int32_t passUtf8;
  const uint8_t* lineAsBytes;

  // What waits for more input, each kind for its own:
  // - the line so far, which waits for its line end (its units in the caller's line
  //   buffer, or for byte text its bytes in lineBytes, the first of them possibly the rest
  //   of a character that the last line's limit cut off), counted by the framer;
  LineFramer framer;
  uint8_t lineBits;  // byte text: the bits of the line's bytes looked at one by one (bit 7: not 7-bit)
  // - the first byte of a UTF-16 unit whose second byte is in the next block (or -1);
  int32_t byteAwaitingPair;
  // - the first bytes of the input, when a read without waiting ends before the sample
  //   that decides the encoding: they wait at the block's start for the rest of it.
  uint32_t bytesAwaitingSample;
  uint32_t firstScanned;  // bytes of the first block known to hold no end of its sample
  int32_t firstLineSeen;  // ...and they hold a CR or LF byte
  uint32_t firstLineEnd;  // the end of the first line of 8-bit text, when no zero byte is in it; or 0
  int32_t sampleWaited;   // the first wait for the rest of the sample is over

  // Byte text: the conversion of the code page in use, with its state from line to line.
  // Text framed as UTF-16 units (UTF-16, and code pages whose line ends only the decoded
  // text shows): its units taken from the block, not yet framed.
  platform::ByteDecoder decoder;
  uint32_t decodedPosition;
  uint32_t decodedLength;
  char16_t decoded[kDecodedUnits];
};

// Sets up a reader over `handle` with the caller's block and working storage.
void SetUpPipeReader(PipeReader* reader, platform::Handle handle, uint8_t* block, uint32_t capacity, uint8_t* lineBytes,
                     TextEncoding encoding, uint32_t codePage);

// Reads the next line into `line` (kLineCapacity units), without its line end. Returns
// its length; -1 when a read failed (last error holds the code) or the reader or buffer
// is missing; kEndOfInput when the input has ended (with -1 or kEndOfInput the reader
// lets go of its code page's converter); kNoLineYet when the read function has nothing
// yet.
int32_t ReadPipeLine(PipeReader* reader, char16_t* line);

// Whether the start of a line waits unfinished for more (after kNoLineYet).
bool LineWaits(const PipeReader* reader);
// Hands over the start of a line that waits (after kNoLineYet) in `line`, as a line of
// its own, without reading: what comes next begins the next line. First bytes that have
// not decided the encoding decide it as they stand. Returns its length, or kNoLineYet
// when nothing can be handed over yet (no line waits, or only part of a character).
int32_t TakeWaitingLine(PipeReader* reader, char16_t* line);

}  // namespace horalin
