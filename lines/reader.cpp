#include "lines/reader.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/types.h"
#include "common/utf.h"
#include "common/words.h"

namespace horalin {

namespace {

constexpr char16_t kCr = 13, kLf = 10;
constexpr char16_t kReplacement = 0xFFFD;

enum FillResult { kFilled, kEnded, kFailed, kWaiting };

// How many of the input's first bytes the encoding is decided on, or 0 while `count`
// bytes do not yet hold them all: the bytes up to the first line end, with the unit it
// belongs to if the text is UTF-16. A CR or LF byte at an even offset is the low byte of a
// little-endian unit, whose high byte must be 00 for a line end; at an odd offset, of a
// big-endian one, whose high byte before it must be 00. Before any zero byte, a CR or LF
// byte ends the sample unless the zero byte after it makes it a little-endian line end;
// after one, only a whole UTF-16 line end does (one that is not whole is part of a
// character such as U+4E0A), and all `capacity` bytes when none comes. So the sample is
// the same however the reads divide the input. `*scanned`: the bytes known to hold no
// end of the sample, kept from call to call while the bytes come in, so that each byte is
// looked at once; `*lineSeen`: they hold a CR or LF byte (as 8-bit text the first line is
// whole, and the caller waits only briefly for the rest of the sample).
uint32_t FirstSampleLength(const uint8_t* bytes, uint32_t count, uint32_t capacity, uint32_t* scanned, bool* lineSeen) {
  for (uint32_t i = *scanned; i < count; ++i) {
    const uint8_t* end = bytes + count;
    const void* lf = std::memchr(bytes + i, kLf, static_cast<size_t>(end - bytes - i));
    const void* cr =
        std::memchr(bytes + i, kCr, static_cast<size_t>((lf ? static_cast<const uint8_t*>(lf) : end) - bytes - i));
    const uint8_t* found = static_cast<const uint8_t*>(cr ? cr : lf);
    if (!found) break;
    i = static_cast<uint32_t>(found - bytes);
    *lineSeen = true;
    const bool zero = std::memchr(bytes, 0, i) != nullptr;
    if ((i & 1) != 0) {  // the low byte of a big-endian unit
      if (!zero || bytes[i - 1] == 0) return *scanned = i, i + 1;
      continue;
    }
    if (i + 1 == capacity) return *scanned = i, i + 1;
    if (i + 1 == count) return *scanned = i, 0;  // the byte after it tells
    if (bytes[i + 1] == 0) return *scanned = i, i + 2;
    if (!zero) return *scanned = i, i + 1;
  }
  *scanned = count;
  return count >= capacity ? capacity : 0;
}

// Gathers the first bytes until they decide the encoding, so that the decision is the
// same however the writer's bytes came: how many of the `*got` bytes in the block it is
// made on, or 0 when a source read without waiting has nothing yet (the bytes so far
// wait in the block for the rest). How the input ends is kept for the next read.
uint32_t GatherFirstSample(PipeReader* r, uint32_t* got) {
  bool lineSeen = r->firstLineSeen != 0;
  uint32_t sample;
  while ((sample = FirstSampleLength(r->block, *got, r->capacity, &r->firstScanned, &lineSeen)) == 0) {
    // Once a line of 8-bit text is whole, the bytes that could make it UTF-16 are waited
    // for only briefly: a writer of UTF-16 writes both bytes of a unit at once.
    if (lineSeen && !r->wait(r->handle, kSampleWaitMilliseconds)) return *got;
    uint32_t more = 0;
    const uint32_t error = r->read(r->handle, r->block + *got, r->capacity - *got, &more);
    if (error == kErrorIoPending) {
      r->heldFirst = *got;
      r->firstLineSeen = lineSeen;
      return 0;
    }
    if (error != 0 || more == 0) {
      if (error == 0) r->atEnd = 1;
      r->deferredError = error;
      return *got;
    }
    *got += more < r->capacity - *got ? more : r->capacity - *got;
  }
  return sample;
}

// Reads the next block and applies the encoding decision to it. Bytes of the block not
// yet taken (a character that the block cut off, in text decoded ahead) move to its start
// and the read fills the rest. Later lines of byte text are decided by their own bytes
// (ReadByteLine).
FillResult FillBlock(PipeReader* r) {
  if (r->atEnd) return kEnded;
  uint32_t got = r->heldFirst;  // first bytes that wait for the rest of their sample: no new block
  if (got == 0) {
    const uint32_t keep = r->position < r->length ? r->length - r->position : 0;
    if (keep > 0) std::memmove(r->block, r->block + r->position, keep);
    r->position = 0;
    r->length = keep;
    uint32_t error = r->deferredError;
    r->deferredError = 0;
    if (error == 0) error = r->read(r->handle, r->block + keep, r->capacity - keep, &got);
    if (error == kErrorIoPending) return kWaiting;
    if (error != 0) {
      r->lastError = error;
      if (error != kErrorBrokenPipe) return kFailed;
      r->atEnd = 1;  // the writer closed its end: the ordinary end of input
      return kEnded;
    }
    if (got == 0) {
      r->atEnd = 1;
      return kEnded;
    }
    if (got > r->capacity - keep) got = r->capacity - keep;
    got += keep;
  }
  const uint32_t sample = r->firstBlock ? GatherFirstSample(r, &got) : got;
  if (sample == 0) return kWaiting;
  r->heldFirst = 0;
  r->length = got;
  r->position = r->firstBlock ? DecideBlockEncoding(r->block, sample, true, &r->encoding, &r->codePage) : 0;
  r->firstBlock = 0;
  return kFilled;
}

bool IsUtf16(TextEncoding encoding) { return encoding == EncodingUtf16LE || encoding == EncodingUtf16BE; }

// The one step for the first unit (or byte) of a line that may still belong to the last
// one's end, for text of either kind: whether it is taken with it. After a CR, an LF is.
// After a split at the limit, a line end is (a CR then waits for its LF), and so is a zero
// unit, which is dropped and leaves the question open, as if it were not there.
bool TakenByPendingEnd(PipeReader* r, char16_t unit) {
  const PendingLineEnd pending = r->pendingEnd;
  r->pendingEnd = kNoPendingEnd;
  if (unit == kLf) return true;
  if (pending != kAfterSplit) return false;
  r->pendingEnd = unit == kCr ? kAfterCr : unit == 0 ? kAfterSplit : kNoPendingEnd;
  return unit == kCr || unit == 0;
}

// ---- Byte encodings ----------------------------------------------------------------

uint32_t ConversionCodePage(PipeReader* r) {
  if (r->encoding == EncodingUtf8) return kCodePageUtf8;
  if (r->codePage == 0) r->codePage = platform::OemCodePage();  // kept for all later lines
  return r->codePage;
}

// The decoder for the code page in use, opened again when that changes; null when the
// system cannot convert the code page.
platform::ByteDecoder* Decoder(PipeReader* r) {
  const uint32_t codePage = ConversionCodePage(r);
  if (r->decoder.codePage != codePage) {
    platform::CloseByteDecoder(&r->decoder);
    if (!platform::OpenByteDecoder(&r->decoder, codePage)) return nullptr;
  }
  return &r->decoder;
}

// Whether the byte text is decoded before its lines are told: in a code page where a
// CR, LF or zero byte need not stand for itself (EBCDIC, UTF-7, ISO-2022), only the
// decoded text shows the line ends, and a shift state runs on from line to line. Its
// 7-bit bytes are no ASCII either, so undecided input in it is taken as code-page text.
bool DecodesAhead(PipeReader* r) {
  const platform::ByteDecoder* decoder = Decoder(r);
  if (!decoder || decoder->keepsAscii) return false;
  if (r->encoding == EncodingUndecided) r->encoding = EncodingCodePage;
  return true;
}

// Moves past bytes 0E to 7F, eight at a time: none of them ends a line or starts a
// character of more than one byte, in any of the byte encodings.
uint32_t SkipPlainBytes(const uint8_t* block, uint32_t pos, uint32_t stop) {
#if defined(__SSE2__)
  const __m128i fourteen = _mm_set1_epi8(14);
  for (; pos + 16 <= stop; pos += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + pos));
    // Compared as signed bytes, those from 80 are negative: below 14 like 00 to 0D.
    const unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(bytes, fourteen)));
    if (marks) return pos + static_cast<uint32_t>(std::countr_zero(marks));
  }
#endif
  for (; pos + 8 <= stop; pos += 8) {
    // Elsewhere than on a little-endian machine the caller looks at this word's bytes.
    const uint64_t marks = words::BelowOrNonAsciiMarks(words::Load(block + pos), 14);
    if (marks) {
      if constexpr (std::endian::native == std::endian::little)
        pos += static_cast<uint32_t>(std::countr_zero(marks) / 8);
      return pos;
    }
  }
  return pos;
}

// Widens the line's 7-bit bytes into its units and terminates it. Each group of eight
// units, from the line's start, is written by one store, the last one with the
// terminator and zeros after it (when the line buffer has room for them): the output
// stream reads the line back in such groups, and a group put together from several
// smaller stores would make it wait.
size_t WidenPlainBytes(const uint8_t* bytes, uint32_t count, char16_t* line) {
  uint32_t k = 0;
#if defined(__SSE2__) && defined(__x86_64__)
  const __m128i zero = _mm_setzero_si128();
  for (; k + 16 <= count; k += 16) {
    const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + k), _mm_unpacklo_epi8(sixteen, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + k + 8), _mm_unpackhi_epi8(sixteen, zero));
  }
  for (;;) {
    const uint32_t left = count - k;
    if (left < 8 && k + 8 > kLineCapacity) break;  // no room for a whole last group
    uint64_t eight = 0;
    if (left >= 8) {
      std::memcpy(&eight, bytes + k, 8);
    } else if (count >= 8) {  // the last eight bytes, moved down: the ones past the line become 0
      std::memcpy(&eight, bytes + count - 8, 8);
      eight = left ? eight >> (8 * (8 - left)) : 0;
    } else {
      for (uint32_t i = 0; i < left; ++i) eight |= static_cast<uint64_t>(bytes[k + i]) << (8 * i);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + k),
                     _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(eight)), zero));
    if (left < 8) return count;
    k += 8;
  }
#endif
  for (; k < count; ++k) line[k] = bytes[k];
  line[count] = 0;
  return count;
}

// Converts the line's bytes: the gathered ones, then `tail` (still in the block, which
// ends there). `plain`: none of them is above 7F. `split`: the line reached its limit; a
// character that the limit cut off is left for the next line.
int32_t FinishByteLine(PipeReader* r, char16_t* line, uint32_t gathered, const uint8_t* tail, uint32_t tailLength,
                       bool plain, bool split) {
  const uint8_t* bytes = tail;
  uint32_t count = tailLength;
  if (gathered > 0) {
    if (tailLength > 0) std::memcpy(r->lineBytes + gathered, tail, tailLength);
    bytes = r->lineBytes;
    count = gathered + tailLength;
  }
  if (split) r->pendingEnd = kAfterSplit;
  // While the input is undecided, each line that is not plain 7-bit text is decided by
  // its own bytes before they are converted, not by the blocks that the reads made.
  if (!plain && r->encoding == EncodingUndecided) DecideBlockEncoding(bytes, count, false, &r->encoding, &r->codePage);
  platform::ByteDecoder* decoder = Decoder(r);
  if (plain && decoder && decoder->keepsAscii)  // most lines: a plain copy
    return static_cast<int32_t>(WidenPlainBytes(bytes, count, line));
  size_t units = 0, used = count;
  if (decoder && count > 0) {
    const char* text = reinterpret_cast<const char*>(bytes);
    // Undecided text may yet turn out to be UTF-8: a sequence cut off stays whole too.
    const uint32_t take =
        split && r->encoding == EncodingUndecided ? count - static_cast<uint32_t>(Utf8CutLength(text, count)) : count;
    // Each unit comes from at least one byte of its own, so the room of the whole line
    // buffer is never filled: its last unit stays for the terminator.
    units = platform::DecodeBytes(decoder, text, take, &used, line, kLineCapacity, !split);
    if (used == 0 && split)  // no character ends within the limit: the bytes go as they are
      units = platform::DecodeBytes(decoder, text, count, &used, line, kLineCapacity, true);
  }
  // The bytes of a character that the limit cut off begin the next line: still in the
  // block when they fit there, else kept at the start of the working storage.
  const uint32_t rest = split ? count - static_cast<uint32_t>(used) : 0;
  if (rest > 0) {
    r->pendingEnd = kNoPendingEnd;
    if (rest <= tailLength) {
      r->position -= rest;
    } else {
      std::memmove(r->lineBytes, bytes + used, rest);
      r->carried = rest;
    }
  }
  line[units] = 0;
  return static_cast<int32_t>(units);
}

// NOLINTNEXTLINE(readability-function-size): longer than 60 lines, not split yet
int32_t ReadByteLine(PipeReader* r, char16_t* line) {
  uint32_t gathered = r->partialCount + r->carried;  // bytes of this line in the working storage
  // The bits of the bytes looked at one by one (the others are below 80).
  uint8_t seen = static_cast<uint8_t>(r->partialSeen | (r->carried > 0 ? 0x80 : 0));
  r->partialCount = 0, r->partialSeen = 0, r->carried = 0;
  for (;;) {
    if (r->position >= r->length) {
      FillResult fill = FillBlock(r);
      if (fill == kFilled) continue;
      if (fill == kWaiting) {
        r->partialCount = gathered, r->partialSeen = seen;
        return kNoLineYet;
      }
      if (fill == kFailed) {
        if (gathered == 0) return -1;
        r->failed = 1;  // hand over what came; the next call reports the failure
      }
      if (gathered == 0) return kEndOfInput;
      return FinishByteLine(r, line, gathered, nullptr, 0, !(seen & 0x80), false);
    }
    const uint8_t* block = r->block;
    if (r->pendingEnd != kNoPendingEnd) {
      r->position += TakenByPendingEnd(r, block[r->position]);
      continue;
    }

    const uint32_t start = r->position, end = r->length;
    const uint32_t limit = start + (kLineMaxUnits - gathered);  // first position past the line's room
    const uint32_t stop = end < limit ? end : limit;
    uint32_t pos = start;
    bool lineEnd = false;
    for (;; ++pos) {
      pos = SkipPlainBytes(block, pos, stop);
      if (pos >= stop) break;
      const uint8_t b = block[pos];
      seen |= b;
      if (b == 0 || b == kCr || b == kLf) {
        lineEnd = true;
        break;
      }
    }
    const uint32_t span = pos - start;
    r->position = pos;
    if (lineEnd) {
      uint8_t b = block[pos];
      r->position = pos + 1;
      if (b == 0) {  // dropped; the line goes on
        std::memcpy(r->lineBytes + gathered, block + start, span);
        gathered += span;
        continue;
      }
      if (b == kCr) {
        if (r->position < end) {
          if (block[r->position] == kLf) ++r->position;
        } else {
          r->pendingEnd = kAfterCr;
        }
      }
      return FinishByteLine(r, line, gathered, block + start, span, !(seen & 0x80), false);
    }
    if (pos == limit) return FinishByteLine(r, line, gathered, block + start, span, !(seen & 0x80), true);
    std::memcpy(r->lineBytes + gathered, block + start, span);  // the line goes on in the next block
    gathered += span;
  }
}

// ---- Text of 16-bit units: UTF-16, and byte text decoded ahead ---------------------

// Decodes more of the block into the decoded units, as far as they go. False when no
// unit comes without another read (what the block still holds is a cut character).
bool DecodeMore(PipeReader* r) {
  platform::ByteDecoder* decoder = Decoder(r);
  while (decoder && r->decodedPosition == r->decodedLength && r->position < r->length) {
    const uint32_t left = r->length - r->position;
    const uint32_t chunk = left < kDecodedUnits ? left : kDecodedUnits;
    size_t used = 0;
    const size_t units = platform::DecodeBytes(decoder, reinterpret_cast<const char*>(r->block + r->position), chunk,
                                               &used, r->decoded, kDecodedUnits, false);
    r->position += static_cast<uint32_t>(used);
    r->decodedPosition = 0;
    r->decodedLength = static_cast<uint32_t>(units);
    if (used == 0 && units == 0) return false;
  }
  return r->decodedPosition < r->decodedLength;
}

// At the end of the input, or a failed read: the decoder's last text, of the bytes that
// are left (a character that they cut off shows as U+FFFD). False when there is none.
bool DecodeLast(PipeReader* r) {
  platform::ByteDecoder* decoder = Decoder(r);
  if (!decoder || r->position >= r->length) return false;
  size_t used = 0;
  const size_t units = platform::DecodeBytes(decoder, reinterpret_cast<const char*>(r->block + r->position),
                                             r->length - r->position, &used, r->decoded, kDecodedUnits, true);
  r->position = r->length;
  r->decodedPosition = 0;
  r->decodedLength = static_cast<uint32_t>(units);
  return units > 0;
}

// The next unit of the text: in UTF-16 from the block, joined with a byte held from the
// previous block; otherwise from the decoded units. False when none comes without
// another read (a lone last byte of UTF-16 is then held).
bool PeekUnit(PipeReader* r, bool decoded, char16_t* unit, uint32_t* bytes) {
  if (decoded) {
    if (r->decodedPosition == r->decodedLength && !DecodeMore(r)) return false;
    *unit = r->decoded[r->decodedPosition];
    *bytes = 0;
    return true;
  }
  uint32_t left = r->length - r->position;
  uint32_t first, second;
  if (r->heldByte >= 0) {
    if (left < 1) return false;
    first = static_cast<uint32_t>(r->heldByte), second = r->block[r->position], *bytes = 1;
  } else {
    if (left < 2) {
      if (left == 1) {
        r->heldByte = r->block[r->position];
        r->position = r->length;
      }
      return false;
    }
    first = r->block[r->position], second = r->block[r->position + 1], *bytes = 2;
  }
  *unit = static_cast<char16_t>(r->encoding == EncodingUtf16BE ? first << 8 | second : second << 8 | first);
  return true;
}

void TakeUnit(PipeReader* r, bool decoded, uint32_t bytes) {
  if (decoded) {
    ++r->decodedPosition;
    return;
  }
  r->position += bytes;
  r->heldByte = -1;
}

// Takes the run of units at the front that holds no CR, LF or zero unit, as far as the
// line's room allows but its last place (where a surrogate pair may not fit).
uint32_t TakeOrdinaryUnits(PipeReader* r, bool decoded, char16_t* line, uint32_t count) {
  const uint32_t room = kLineMaxUnits - 1 - count;
  uint32_t n = 0;
  if (decoded) {
    const char16_t* units = r->decoded + r->decodedPosition;
    const uint32_t left = r->decodedLength - r->decodedPosition;
    for (; n < left && n < room; ++n) {
      const char16_t u = units[n];
      if (u == kCr || u == kLf || u == 0) break;
      line[count + n] = u;
    }
    r->decodedPosition += n;
    return n;
  }
  if (r->heldByte >= 0) return 0;
  const uint8_t* bytes = r->block + r->position;
  const uint32_t left = (r->length - r->position) / 2;
  const uint32_t high = r->encoding == EncodingUtf16BE ? 0u : 1u;
  for (; n < left && n < room; ++n) {
    const char16_t u = static_cast<char16_t>(bytes[2 * n + high] << 8 | bytes[2 * n + 1 - high]);
    if (u == kCr || u == kLf || u == 0) break;
    line[count + n] = u;
  }
  r->position += 2 * n;
  return n;
}

// NOLINTNEXTLINE(readability-function-size): longer than 60 lines, not split yet
int32_t ReadUnitLine(PipeReader* r, char16_t* line, bool decoded) {
  uint32_t count = r->partialCount;
  r->partialCount = 0;
  for (;;) {
    if (r->pendingEnd == kNoPendingEnd && count < kLineMaxUnits - 1)
      count += TakeOrdinaryUnits(r, decoded, line, count);
    if (count == kLineMaxUnits) {
      r->pendingEnd = kAfterSplit;
      break;
    }
    char16_t unit;
    uint32_t bytes;
    if (!PeekUnit(r, decoded, &unit, &bytes)) {
      FillResult fill = FillBlock(r);
      if (fill == kWaiting) {
        r->partialCount = count;
        return kNoLineYet;
      }
      if (fill == kFilled || (decoded && DecodeLast(r))) continue;
      if (r->heldByte >= 0) {  // the input ended or failed inside a unit
        r->heldByte = -1;
        line[count++] = kReplacement;
      }
      if (fill == kFailed) {
        if (count == 0) return -1;
        r->failed = 1;
        break;
      }
      if (count == 0) return kEndOfInput;
      break;
    }
    if (r->pendingEnd != kNoPendingEnd) {
      if (TakenByPendingEnd(r, unit)) TakeUnit(r, decoded, bytes);
      continue;
    }
    if (unit == kCr || unit == kLf) {
      TakeUnit(r, decoded, bytes);
      if (unit == kCr) {
        char16_t next;
        if (!PeekUnit(r, decoded, &next, &bytes))
          r->pendingEnd = kAfterCr;
        else if (next == kLf)
          TakeUnit(r, decoded, bytes);
      }
      break;
    }
    if (unit == 0) {
      TakeUnit(r, decoded, bytes);
      continue;
    }
    if (count == kLineMaxUnits - 1 && IsHighSurrogate(unit)) {  // keep the pair whole
      r->pendingEnd = kAfterSplit;
      break;
    }
    TakeUnit(r, decoded, bytes);
    line[count++] = unit;
  }
  line[count] = 0;
  return static_cast<int32_t>(count);
}

uint32_t NothingYet(platform::Handle, void*, uint32_t, uint32_t* bytesRead) {
  *bytesRead = 0;
  return kErrorIoPending;
}

}  // namespace

void SetUpPipeReader(PipeReader* reader, platform::Handle handle, uint8_t* block, uint32_t capacity, uint8_t* lineBytes,
                     TextEncoding encoding, uint32_t codePage) {
  std::memset(reader, 0, sizeof *reader);
  reader->block = block;
  reader->capacity = capacity;
  reader->encoding = encoding;
  reader->codePage = codePage;
  reader->firstBlock = 1;
  reader->handle = handle;
  reader->read = platform::ReadInput;
  reader->wait = platform::WaitForInput;
  reader->lineBytes = lineBytes;
  reader->heldByte = -1;
}

int32_t ReadPipeLine(PipeReader* reader, char16_t* line) {
  if (!reader || !line || !reader->block || !reader->lineBytes || !reader->read || reader->capacity == 0) return -1;
  int32_t result = -1;
  if (reader->failed) {
    result = -1;
  } else if (reader->atEnd && reader->position >= reader->length && reader->heldByte < 0 &&
             reader->decodedPosition >= reader->decodedLength && reader->carried == 0) {
    result = kEndOfInput;
  } else {
    if (reader->partialCount == 0) line[0] = 0;
    FillResult fill = kFilled;
    if (reader->firstBlock && !reader->atEnd) fill = FillBlock(reader);  // the encoding is decided on the first bytes
    if (fill == kWaiting)
      return kNoLineYet;
    else if (fill == kFailed)
      result = -1;
    else if (fill == kEnded)
      result = kEndOfInput;
    else if (IsUtf16(reader->encoding))
      result = ReadUnitLine(reader, line, false);
    else
      result = DecodesAhead(reader) ? ReadUnitLine(reader, line, true) : ReadByteLine(reader, line);
  }
  if (result == -1 || result == kEndOfInput) platform::CloseByteDecoder(&reader->decoder);  // no more text to convert
  return result;
}

bool HoldsPartialLine(const PipeReader* reader) { return reader->partialCount > 0 || reader->heldFirst > 0; }

int32_t TakePartialLine(PipeReader* r, char16_t* line) {
  if (r->heldFirst > 0) {
    if (r->firstScanned < r->heldFirst) return kNoLineYet;  // a line end is among them: it decides soon
    r->length = r->heldFirst;
    r->heldFirst = 0;
    r->firstBlock = 0;
    // A UTF-8 character that they cut off at their end decides nothing yet.
    const uint32_t cut = static_cast<uint32_t>(Utf8CutLength(reinterpret_cast<const char*>(r->block), r->length));
    r->position = DecideBlockEncoding(r->block, r->length - cut, true, &r->encoding, &r->codePage);
    const ReadFunction read = r->read;
    r->read = NothingYet;  // the bytes become the line that waits, and no more are read
    const int32_t result = ReadPipeLine(r, line);
    r->read = read;
    if (result != kNoLineYet) return result;
  }
  const uint32_t count = r->partialCount;
  if (count == 0) return kNoLineYet;
  if (IsUtf16(r->encoding) || DecodesAhead(r)) {  // the units are in the line already
    if (IsHighSurrogate(line[count - 1])) return kNoLineYet;
    r->partialCount = 0;
    line[count] = 0;
    return static_cast<int32_t>(count);
  }
  const bool utf8 = r->encoding == EncodingUndecided || r->encoding == EncodingUtf8;
  if (utf8 && Utf8CutLength(reinterpret_cast<const char*>(r->lineBytes), count) == count) return kNoLineYet;
  r->partialCount = 0;
  // Taken as a line split at its limit: a character cut off at its end begins the next.
  const int32_t length = FinishByteLine(r, line, count, nullptr, 0, !(r->partialSeen & 0x80), true);
  r->partialSeen = 0;
  r->pendingEnd = kNoPendingEnd;
  return length;
}

}  // namespace horalin
