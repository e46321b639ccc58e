#include "tscmd/reader.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/types.h"
#include "common/utf.h"

namespace horalin {

namespace {

constexpr char16_t kCr = 13, kLf = 10;
constexpr char16_t kReplacement = 0xFFFD;

enum FillResult { kFilled, kEnded, kFailed, kWaiting };

// How many of the input's first bytes the encoding is decided on, or 0 while `count`
// bytes do not yet hold them all: the bytes up to the first CR or LF byte; after a zero
// byte, which may make them UTF-16, also the byte after it, unless the two before are a
// whole big-endian line end; all `capacity` bytes when no line end comes before. The
// first line cannot be handed over much sooner in any encoding, and these bytes are the
// same however the reads divide the input.
uint32_t FirstSampleLength(const uint8_t* bytes, uint32_t count, uint32_t capacity) {
  bool zero = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (b == 0) zero = true;
    if (b != kCr && b != kLf) continue;
    if (!zero || ((i & 1) != 0 && bytes[i - 1] == 0) || i + 1 == capacity) return i + 1;
    return i + 2 <= count ? i + 2 : 0;
  }
  return count >= capacity ? capacity : 0;
}

// Reads the next block and applies the encoding decision to it.
FillResult FillBlock(PipeReader* r) {
  if (r->atEnd) return kEnded;
  uint32_t got = r->heldFirst;  // first bytes that wait for the rest of their sample: no new block
  uint32_t error = 0;
  if (got == 0) {
    error = r->deferredError;
    r->deferredError = 0;
    if (error == 0) error = r->read(r->handle, r->block, r->capacity, &got);
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
    if (got > r->capacity) got = r->capacity;
  }
  // The first bytes are gathered until they decide the encoding, so that the decision
  // is the same however the writer's bytes came. How the input ends is kept for the next
  // read. Later lines of byte text are decided by their own bytes (ReadByteLine). From a
  // source read without waiting, the bytes so far wait in the block for the rest.
  uint32_t sample = got;
  if (r->firstBlock) {
    while ((sample = FirstSampleLength(r->block, got, r->capacity)) == 0) {
      uint32_t more = 0;
      error = r->read(r->handle, r->block + got, r->capacity - got, &more);
      if (error == kErrorIoPending) {
        r->heldFirst = got;
        return kWaiting;
      }
      if (error != 0 || more == 0) {
        if (error == 0) r->atEnd = 1;
        r->deferredError = error;
        sample = got;
        break;
      }
      got += more < r->capacity - got ? more : r->capacity - got;
    }
  }
  r->heldFirst = 0;
  r->length = got;
  r->position = r->firstBlock ? DecideBlockEncoding(r->block, sample, true, &r->encoding, &r->codePage) : 0;
  r->firstBlock = 0;
  return kFilled;
}

bool IsUtf16(TextEncoding encoding) { return encoding == EncodingUtf16LE || encoding == EncodingUtf16BE; }

// ---- Byte encodings ----------------------------------------------------------------

uint32_t ConversionCodePage(PipeReader* r) {
  if (r->encoding == EncodingUtf8) return kCodePageUtf8;
  if (r->codePage == 0) r->codePage = platform::OemCodePage();  // kept for all later lines
  return r->codePage;
}

// The byte classes for the reader's encoding and code page, made again when they change.
const uint8_t* ByteClasses(PipeReader* r) {
  uint32_t codePage = ConversionCodePage(r);
  if (r->classCodePage == codePage && r->classEncoding == r->encoding) return r->byteClass;
  r->classEncoding = r->encoding;
  r->classCodePage = codePage;
  bool doubleByte = false;
  if (codePage != kCodePageUtf8)
    for (unsigned b = 0x80; b <= 0xFF && !doubleByte; ++b)
      doubleByte = platform::IsLeadByte(codePage, static_cast<uint8_t>(b));
  r->classDoubleByte = doubleByte;
  char ascii[127];
  char16_t units[127];
  for (int b = 1; b < 128; ++b) ascii[b - 1] = static_cast<char>(b);
  uint32_t error = 0;
  bool keeps = platform::WideFromMultiByte(codePage, ascii, sizeof ascii, units, 127, &error) == 127;
  for (int b = 1; b < 128 && keeps; ++b) keeps = units[b - 1] == b;
  r->classKeepsAscii = keeps;
  // Undecided input may yet turn out to be UTF-8: keep its sequences whole too.
  bool utf8 = !doubleByte && (codePage == kCodePageUtf8 || r->encoding == EncodingUndecided);
  for (unsigned b = 0; b < 256; ++b) {
    uint8_t c = 1;
    if (b == 0 || b == kCr || b == kLf)
      c = 0;
    else if (doubleByte)
      c = platform::IsLeadByte(codePage, static_cast<uint8_t>(b)) ? 2 : 1;
    else if (utf8)
      c = b >= 0xC0 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF7 ? 4 : 1;
    r->byteClass[b] = c;
  }
  return r->byteClass;
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
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  for (uint64_t word; pos + 8 <= stop; pos += 8) {
    std::memcpy(&word, block + pos, sizeof word);
    // The high bit of each byte below 0E or from 80. A borrow marks a byte wrongly only
    // above one rightly marked, so on a little-endian machine the lowest mark is the first
    // such byte; elsewhere the caller looks at the bytes of this word one by one.
    uint64_t marks = (((word - 14 * kOnes) & ~word) | word) & kHigh;
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

// Converts the line's bytes: the gathered ones, then `tail` (still in the block). `plain`:
// none of them is above 7F.
int32_t FinishByteLine(PipeReader* r, char16_t* line, uint32_t gathered, const uint8_t* tail, uint32_t tailLength,
                       bool plain) {
  const uint8_t* bytes = tail;
  uint32_t count = tailLength;
  if (gathered > 0) {
    if (tailLength > 0) std::memcpy(r->lineBytes + gathered, tail, tailLength);
    bytes = r->lineBytes;
    count = gathered + tailLength;
  }
  // While the input is undecided, each line that is not plain 7-bit text is decided by
  // its own bytes before they are converted, not by the blocks that the reads made.
  if (!plain && r->encoding == EncodingUndecided) DecideBlockEncoding(bytes, count, false, &r->encoding, &r->codePage);
  size_t units = 0;
  if (plain && r->classKeepsAscii) {  // most lines: a plain copy
    return static_cast<int32_t>(WidenPlainBytes(bytes, count, line));
  } else if (count > 0) {
    uint32_t error = 0;
    units = platform::WideFromMultiByte(ConversionCodePage(r), reinterpret_cast<const char*>(bytes), count, line,
                                        kLineMaxUnits, &error);
  }
  line[units] = 0;
  return static_cast<int32_t>(units);
}

int32_t ReadByteLine(PipeReader* r, char16_t* line) {
  uint32_t gathered = r->partialCount;  // bytes of this line in the working storage
  bool trail = r->partialTrail != 0;    // the next byte is the trail byte of a double-byte character
  uint8_t seen = r->partialSeen;        // the bits of the bytes looked at one by one (the others are below 80)
  r->partialCount = 0, r->partialTrail = 0, r->partialSeen = 0;
  for (;;) {
    if (r->position >= r->length) {
      FillResult fill = FillBlock(r);
      if (fill == kFilled) continue;
      if (fill == kWaiting) {
        r->partialCount = gathered, r->partialTrail = trail, r->partialSeen = seen;
        return kNoLineYet;
      }
      if (fill == kFailed) {
        if (gathered == 0) return -1;
        r->failed = 1;  // hand over what came; the next call reports the failure
      }
      if (gathered == 0) return kEndOfInput;
      return FinishByteLine(r, line, gathered, nullptr, 0, !(seen & 0x80));
    }
    const uint8_t* block = r->block;
    if (r->pendingEnd != kNoPendingEnd) {
      uint8_t b = block[r->position];
      PendingLineEnd pending = r->pendingEnd;
      r->pendingEnd = kNoPendingEnd;
      if (b == kLf) {
        ++r->position;
      } else if (b == kCr && pending == kAfterSplit) {
        ++r->position;
        r->pendingEnd = kAfterCr;
      }
      continue;
    }

    const uint8_t* classes = ByteClasses(r);
    const bool doubleByte = r->classDoubleByte != 0;
    const uint32_t start = r->position, end = r->length;
    const uint32_t limit = start + (kLineMaxUnits - gathered);  // first position past the line's room
    const uint32_t stop = end < limit ? end : limit;
    uint32_t pos = start;
    uint8_t c = 1;
    for (;; ++pos) {
      if (!trail) pos = SkipPlainBytes(block, pos, stop);
      if (pos >= stop) break;
      seen |= block[pos];
      c = classes[block[pos]];
      if (c == 0) break;
      if (trail) {
        trail = false;
      } else if (c > 1) {
        if (pos + c > limit) break;  // the character would not fit: the line is full
        trail = doubleByte;
      }
    }
    const uint32_t span = pos - start;
    r->position = pos;
    if (pos < stop && c == 0) {
      uint8_t b = block[pos];
      r->position = pos + 1;
      if (b == 0) {  // dropped; the line goes on
        std::memcpy(r->lineBytes + gathered, block + start, span);
        gathered += span;
        trail = false;
        continue;
      }
      if (b == kCr) {
        if (r->position < end) {
          if (block[r->position] == kLf) ++r->position;
        } else {
          r->pendingEnd = kAfterCr;
        }
      }
      return FinishByteLine(r, line, gathered, block + start, span, !(seen & 0x80));
    }
    if (pos < stop || pos == limit) {
      r->pendingEnd = kAfterSplit;
      return FinishByteLine(r, line, gathered, block + start, span, !(seen & 0x80));
    }
    std::memcpy(r->lineBytes + gathered, block + start, span);  // the line goes on in the next block
    gathered += span;
  }
}

// ---- UTF-16 ------------------------------------------------------------------------

// The next unit of the block, joined with a byte held from the previous block; false
// when the block holds no whole unit (a lone last byte is then held).
bool PeekUnit(PipeReader* r, char16_t* unit, uint32_t* bytes) {
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

void TakeUnit(PipeReader* r, uint32_t bytes) {
  r->position += bytes;
  r->heldByte = -1;
}

int32_t ReadUtf16Line(PipeReader* r, char16_t* line) {
  uint32_t count = r->partialCount;
  r->partialCount = 0;
  for (;;) {
    if (count == kLineMaxUnits) {
      r->pendingEnd = kAfterSplit;
      break;
    }
    char16_t unit;
    uint32_t bytes;
    if (!PeekUnit(r, &unit, &bytes)) {
      FillResult fill = FillBlock(r);
      if (fill == kFilled) continue;
      if (fill == kWaiting) {
        r->partialCount = count;
        return kNoLineYet;
      }
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
      PendingLineEnd pending = r->pendingEnd;
      r->pendingEnd = kNoPendingEnd;
      if (unit == kLf) {
        TakeUnit(r, bytes);
      } else if (unit == kCr && pending == kAfterSplit) {
        TakeUnit(r, bytes);
        r->pendingEnd = kAfterCr;
      }
      continue;
    }
    if (unit == kCr || unit == kLf) {
      TakeUnit(r, bytes);
      if (unit == kCr) {
        char16_t next;
        if (r->length - r->position < 2)
          r->pendingEnd = kAfterCr;
        else if (PeekUnit(r, &next, &bytes) && next == kLf)
          TakeUnit(r, bytes);
      }
      break;
    }
    if (unit == 0) {
      TakeUnit(r, bytes);
      continue;
    }
    if (count == kLineMaxUnits - 1 && IsHighSurrogate(unit)) {  // keep the pair whole
      r->pendingEnd = kAfterSplit;
      break;
    }
    TakeUnit(r, bytes);
    line[count++] = unit;
  }
  line[count] = 0;
  return static_cast<int32_t>(count);
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
  reader->lineBytes = lineBytes;
  reader->heldByte = -1;
  reader->classCodePage = kBadCodePage;  // no classes made yet
}

int32_t ReadPipeLine(PipeReader* reader, char16_t* line) {
  if (!reader || !line || !reader->block || !reader->lineBytes || !reader->read || reader->capacity == 0) return -1;
  if (reader->failed) return -1;
  if (reader->atEnd && reader->position >= reader->length && reader->heldByte < 0) return kEndOfInput;
  if (reader->partialCount == 0) line[0] = 0;
  if (reader->firstBlock && !reader->atEnd) {  // the encoding is decided on the first block
    FillResult fill = FillBlock(reader);
    if (fill == kWaiting) return kNoLineYet;
    if (fill == kFailed) return -1;
    if (fill == kEnded) return kEndOfInput;
  }
  return IsUtf16(reader->encoding) ? ReadUtf16Line(reader, line) : ReadByteLine(reader, line);
}

}  // namespace horalin
