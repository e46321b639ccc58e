#include "lines/reader.h"

#include <cstring>

#include "common/line_framer.h"
#include "common/scans.h"
#include "common/types.h"
#include "common/utf.h"
#include "common/words.h"

namespace horalin {

namespace {

constexpr uint8_t kCr = 13, kLf = 10;
constexpr char16_t kReplacement = 0xFFFD;

enum FillResult { kFilled, kEnded, kFailed, kWaiting };

// The most bytes that the encoding is decided on: the first read asks for no more, so
// that the decision does not depend on the size of the block.
uint32_t SampleCapacity(const PipeReader* r) { return r->capacity < kSampleBytes ? r->capacity : kSampleBytes; }

// A sample that ends at a whole UTF-16 line end at `end`. Where an 8-bit line end came
// before it and before any zero byte, the sample reaches past that only when its bytes
// are UTF-16 of the line end's byte order (a first line of characters such as U+4E0A,
// whose bytes hold a CR or LF byte but no zero byte); else it ends at the 8-bit one.
uint32_t EndAtUtf16LineEnd(PipeReader* r, uint32_t at, uint32_t end, bool bigEndian) {
  r->firstScanned = at;
  if (r->firstLineEnd == 0) return end;
  TextEncoding encoding = EncodingUndecided;
  const bool same = DetectUtf16(r->block, end, &encoding) && (encoding == EncodingUtf16BE) == bigEndian;
  return same ? end : r->firstLineEnd;
}

// How many of the input's first bytes the encoding is decided on, or 0 while `count`
// bytes do not yet hold them all: the bytes up to the first whole UTF-16 line end (a CR
// or LF byte at an even offset followed by 00, little-endian, or at an odd offset after
// 00, big-endian). A CR or LF byte that is none ends the first line of 8-bit text
// (`firstLineEnd`) when no zero byte came before it; the sample ends there unless a
// UTF-16 line end follows in the bytes that come with it, or when all SampleCapacity
// bytes hold none. With a zero byte before the first 8-bit line end, the sample is all
// of them when no UTF-16 line end comes. So, but for the caller's waits, the
// sample is the same however the reads divide the input. `firstScanned`: the bytes known
// to hold no end of the sample, kept from call to call while the bytes come in, so that
// each byte is looked at once; `firstLineSeen`: they hold a CR or LF byte (the first line
// is whole as 8-bit text, and the caller waits only briefly for the rest of the sample).
uint32_t FirstSampleLength(PipeReader* r, uint32_t count) {
  const uint8_t* bytes = r->block;
  const uint8_t* end = bytes + count;
  const auto* zero = static_cast<const uint8_t*>(std::memchr(bytes, 0, count));
  for (uint32_t i = r->firstScanned; i < count; ++i) {
    const void* lf = std::memchr(bytes + i, kLf, static_cast<size_t>(end - bytes - i));
    const void* cr =
        std::memchr(bytes + i, kCr, static_cast<size_t>((lf ? static_cast<const uint8_t*>(lf) : end) - bytes - i));
    const uint8_t* found = static_cast<const uint8_t*>(cr ? cr : lf);
    if (!found) break;
    i = static_cast<uint32_t>(found - bytes);
    r->firstLineSeen = 1;
    if ((i & 1) != 0 && bytes[i - 1] == 0) return EndAtUtf16LineEnd(r, i, i + 1, true);
    if ((i & 1) == 0 && i + 1 < SampleCapacity(r)) {
      if (i + 1 == count) return r->firstScanned = i, 0;  // the byte after it tells
      if (bytes[i + 1] == 0) return EndAtUtf16LineEnd(r, i, i + 2, false);
    }
    if (r->firstLineEnd == 0 && (!zero || zero > found)) r->firstLineEnd = i + 1;
  }
  r->firstScanned = count;
  if (count < SampleCapacity(r)) return 0;
  return r->firstLineEnd != 0 ? r->firstLineEnd : SampleCapacity(r);
}

// Gathers the first bytes until they decide the encoding, so that the decision is the
// same however the writer's bytes came: how many of the `*got` bytes in the block it is
// made on, or 0 when a source read without waiting has nothing yet (the bytes so far
// wait in the block for the rest). How the input ends is kept for the next read.
uint32_t GatherFirstSample(PipeReader* r, uint32_t* got) {
  uint32_t sample;
  while ((sample = FirstSampleLength(r, *got)) == 0) {
    // Once a line of 8-bit text is whole, the bytes that could make it UTF-16 are waited
    // for only briefly: a writer of UTF-16 writes both bytes of a unit at once, and a
    // line at once. Past a line of 8-bit text with no zero byte, the first wait is the
    // only one; after it only bytes that have come already are taken, so that a writer
    // of 8-bit lines that keeps writing does not hold its first line back.
    if (r->firstLineSeen) {
      const bool again = r->firstLineEnd != 0 && r->sampleWaited;
      // Decided on what came; a CR or LF byte that ends it and waits for the byte that
      // would make it a UTF-16 line end is left out, as it could be either.
      const bool pair = r->firstScanned + 1 == *got && *got > 1;
      if (!r->wait(r->handle, again ? 0 : kSampleWaitMilliseconds)) return pair ? *got - 1 : *got;
      r->sampleWaited = 1;
    }
    uint32_t more = 0;
    const uint32_t error = r->read(r->handle, r->block + *got, SampleCapacity(r) - *got, &more);
    if (error == kErrorIoPending) {
      r->bytesAwaitingSample = *got;
      return 0;
    }
    if (error != 0 || more == 0) {
      if (error == 0) r->atEnd = 1;
      r->deferredError = error;
      return *got;
    }
    *got += more < SampleCapacity(r) - *got ? more : SampleCapacity(r) - *got;
  }
  return sample;
}

bool IsUtf16(TextEncoding encoding) { return encoding == EncodingUtf16LE || encoding == EncodingUtf16BE; }

// The code page of byte text that is not UTF-8.
uint32_t TextCodePage(PipeReader* r) {
  if (r->codePage == 0) r->codePage = platform::DefaultCodePage();  // kept for all later lines
  return r->codePage;
}

// The decoder for the code page, opened again when that changes; null when the system
// cannot convert the code page.
platform::ByteDecoder* DecoderFor(PipeReader* r, uint32_t codePage) {
  if (r->decoder.codePage != codePage) {
    platform::CloseByteDecoder(&r->decoder);
    if (!platform::OpenByteDecoder(&r->decoder, codePage)) return nullptr;
  }
  return &r->decoder;
}

// The decoder of the code page in use: UTF-8 where the input is, else the text's.
platform::ByteDecoder* Decoder(PipeReader* r) {
  return DecoderFor(r, r->encoding == EncodingUtf8 ? kCodePageUtf8 : TextCodePage(r));
}

// Decides the encoding on the first `count` bytes of the block; returns the length of a
// signature to skip. Byte text that no option and no signature named is read line by
// line (EncodingUndecided stays), unless its code page shows line ends only in decoded
// text: then the first bytes decide it for good, UTF-8 or the code page.
uint32_t DecideFirstBytes(PipeReader* r, uint32_t count) {
  const bool open = r->encoding == EncodingUndecided;
  uint32_t codePage = r->codePage;  // UTF-8 found sets 65001
  const uint32_t skip = DecideBlockEncoding(r->block, count, &r->encoding, &codePage);
  r->firstBlock = 0;
  if (!open || skip != 0 || IsUtf16(r->encoding)) {
    r->codePage = codePage;
    return skip;
  }
  const platform::ByteDecoder* decoder = DecoderFor(r, TextCodePage(r));
  if (!decoder || decoder->keepsAscii)
    r->encoding = EncodingUndecided;
  else
    r->codePage = codePage;
  return 0;
}

// Reads the next block and applies the encoding decision to it. Bytes of the block not
// yet taken (a character that the block cut off, in text decoded first) move to its start
// and the read fills the rest. Later lines of byte text are decided by their own bytes
// (ReadByteLine). Without `mayRead`, what has come is all there is for now (kWaiting).
// After a failed read, none follows.
FillResult FillBlock(PipeReader* r, bool mayRead) {
  if (r->failed) return kFailed;
  if (r->atEnd) return kEnded;
  if (!mayRead) return kWaiting;
  uint32_t got = r->bytesAwaitingSample;  // first bytes that wait for the rest of their sample: no new block
  if (got == 0) {
    const uint32_t keep = r->position < r->length ? r->length - r->position : 0;
    if (keep > 0) std::memmove(r->block, r->block + r->position, keep);
    r->position = 0;
    r->length = keep;
    uint32_t error = r->deferredError;
    r->deferredError = 0;
    const uint32_t room = (r->firstBlock ? SampleCapacity(r) : r->capacity) - keep;
    if (error == 0) error = r->read(r->handle, r->block + keep, room, &got);
    if (error == kErrorIoPending) return kWaiting;
    if (error != 0) {
      r->lastError = error;
      if (error != kErrorBrokenPipe) return r->failed = 1, kFailed;
      r->atEnd = 1;  // the writer closed its end: the ordinary end of input
      return kEnded;
    }
    if (got == 0) {
      r->atEnd = 1;
      return kEnded;
    }
    if (got > room) got = room;
    got += keep;
  }
  const uint32_t sample = r->firstBlock ? GatherFirstSample(r, &got) : got;
  if (sample == 0) return kWaiting;
  r->bytesAwaitingSample = 0;
  r->length = got;
  r->position = r->firstBlock ? DecideFirstBytes(r, sample) : 0;
  return kFilled;
}

// Whether the byte text is decoded before its lines are framed: in a code page where a
// CR, LF or zero byte need not stand for itself (EBCDIC, UTF-7, ISO-2022), only the
// decoded text shows the line ends, and a shift state runs on from line to line. Its
// 7-bit bytes are no ASCII either, so undecided input in it is taken as code-page text.
bool DecodesAhead(PipeReader* r, const platform::ByteDecoder* decoder) {
  if (!decoder || decoder->keepsAscii) return false;
  if (r->encoding == EncodingUndecided) r->encoding = EncodingCodePage;
  return true;
}

// The line handed over as its bytes, which stay where they are until the next call.
int32_t HandOverBytes(PipeReader* r, const uint8_t* bytes, uint32_t count) {
  r->lineAsBytes = bytes;
  return static_cast<int32_t>(count);
}

// Decodes a line of byte text that is not all 7-bit (or in a code page that reads 7-bit
// bytes otherwise) into `line`; returns the units, *used the bytes taken. Each unit comes
// from at least one byte of its own, so the room of the whole line buffer is never
// filled: its last unit stays for the terminator. `split`: a character that the line's
// end cuts off is left for the next line. Without `mayBeUtf8` the line is known not to
// be well-formed UTF-8, and goes to the code page at once.
size_t DecodeByteLine(PipeReader* r, const uint8_t* bytes, uint32_t count, bool split, bool mayBeUtf8, char16_t* line,
                      size_t* used) {
  size_t start = 0;  // leading 7-bit bytes already in the line
  // Each line that no option or signature named is read as UTF-8 when it is well-formed
  // UTF-8, so that no byte of it is lost, else with the code page: text that mixes both
  // (file names or old data beside UTF-8) reads as it was written.
  if (mayBeUtf8 && r->encoding == EncodingUndecided && DecodeWellFormedUtf8(bytes, count, split, line, &start, used) &&
      *used > 0)
    return start;
  if (!mayBeUtf8)  // its 7-bit start, as the check leaves it in place
    start = scans::fast::WidenAscii(reinterpret_cast<const char*>(bytes), count, line);
  platform::ByteDecoder* decoder = Decoder(r);
  *used = count;
  if (!decoder || count == 0) return 0;
  const char* text = reinterpret_cast<const char*>(bytes);
  // Text read line by line may be UTF-8 in the next line: a sequence cut off stays whole.
  const size_t take =
      split && r->encoding == EncodingUndecided ? count - Utf8CutLength(text, count) : static_cast<size_t>(count);
  size_t taken = 0;
  size_t units = start + platform::DecodeBytes(decoder, text + start, take - start, &taken, line + start,
                                               kLineCapacity - start, !split);
  if (start + taken == 0 && split)  // no character ends within the limit: the bytes go as they are
    units = platform::DecodeBytes(decoder, text, count, &taken, line, kLineCapacity, true);
  *used = start + taken;
  return units;
}

// Converts the line's bytes: the gathered ones, then `tail` (still in the block, which
// ends there). `ascii`: none of them is above 7F. `split`: the line ends at its limit, or
// is handed over unfinished; a character that it cuts off is left for the next line.
int32_t FinishByteLine(PipeReader* r, char16_t* line, uint32_t gathered, const uint8_t* tail, uint32_t tailLength,
                       bool ascii, bool split) {
  const uint8_t* bytes = tail;
  uint32_t count = tailLength;
  if (gathered > 0) {
    if (tailLength > 0) std::memcpy(r->lineBytes + gathered, tail, tailLength);
    bytes = r->lineBytes;
    count = gathered + tailLength;
  }
  if (ascii) {
    platform::ByteDecoder* decoder = Decoder(r);
    if (decoder && decoder->keepsAscii) {  // most lines: their bytes are their units
      if (r->passUtf8) return HandOverBytes(r, bytes, count);
      scans::fast::WidenAsciiLine(bytes, count, line, kLineCapacity);
      return static_cast<int32_t>(count);
    }
  }
  // Well-formed UTF-8 decodes to the units that give its bytes back: a line read as UTF-8
  // (by the option or signature, or line by line) can go as it came. A split line is
  // decoded, as a character that its end cuts off begins the next.
  bool mayBeUtf8 = true;  // as far as is known: a line that failed the check goes to the code page at once
  if (r->passUtf8 && !split && (r->encoding == EncodingUndecided || r->encoding == EncodingUtf8)) {
    if (IsWellFormedUtf8(bytes, count)) return HandOverBytes(r, bytes, count);
    mayBeUtf8 = false;
  }
  size_t used = count;
  const size_t units = DecodeByteLine(r, bytes, count, split, mayBeUtf8, line, &used);
  // The bytes of a character that the limit cut off begin the next line: still in the
  // block when they fit there (framed again), else as the line so far, at the start of
  // the working storage.
  const uint32_t rest = split ? count - static_cast<uint32_t>(used) : 0;
  if (rest > 0 && rest <= tailLength) {
    r->position -= rest;
    StartLineWith(&r->framer, 0);
  } else if (rest > 0) {
    std::memmove(r->lineBytes, bytes + used, rest);
    StartLineWith(&r->framer, rest);
    r->lineBits = 0x80;
  }
  line[units] = 0;
  return static_cast<int32_t>(units);
}

// The blocks ran out before the line of byte text ended: the line so far waits
// (kNoLineYet), or comes as the last line when the input ended or failed after it (the
// next call reports the failure), or there is none.
int32_t ByteLineAtBlocksEnd(PipeReader* r, char16_t* line, FillResult fill) {
  if (fill == kWaiting) return kNoLineYet;
  const uint32_t gathered = r->framer.count;
  if (gathered == 0) return fill == kFailed ? -1 : kEndOfInput;
  EndLineHere(&r->framer);
  const bool ascii = !(r->lineBits & 0x80);
  r->lineBits = 0;
  return FinishByteLine(r, line, gathered, nullptr, 0, ascii, false);
}

// A line of byte text, framed as bytes and converted whole. A line within one block is
// converted from the block; one that spans blocks (or loses a zero byte) is gathered in
// the working storage. `passAscii`: a 7-bit line goes as its bytes (the caller asked for
// them, and the code page keeps ASCII), the usual line of all, handed over here.
int32_t ReadByteLine(PipeReader* r, char16_t* line, bool mayRead, bool passAscii) {
  for (;;) {
    if (r->position >= r->length) {
      const FillResult fill = FillBlock(r, mayRead);
      if (fill != kFilled) return ByteLineAtBlocksEnd(r, line, fill);
      continue;
    }
    const uint32_t start = r->position;
    const LinePiece piece = NextLinePiece(&r->framer, r->block + start, r->length - start, &r->lineBits);
    const uint8_t* bytes = r->block + start + piece.start;
    r->position = start + piece.used;
    if (piece.end == PieceEnd::kGoesOn) {
      std::memcpy(r->lineBytes + piece.at, bytes, piece.length);
      continue;
    }
    const bool ascii = !(r->lineBits & 0x80);
    r->lineBits = 0;
    r->lineGoesOn = piece.end == PieceEnd::kSplit;
    if (passAscii && ascii && piece.at == 0) return HandOverBytes(r, bytes, piece.length);
    return FinishByteLine(r, line, piece.at, bytes, piece.length, ascii, piece.end == PieceEnd::kSplit);
  }
}

// ---- Text framed as UTF-16 units: UTF-16, and byte text decoded first ----------------

// Joins the block's UTF-16 bytes into units, as many as `decoded` holds. A lone last byte
// waits for its pair in the next block. False when no unit comes without another read.
bool JoinUtf16Units(PipeReader* r) {
  const bool big = r->encoding == EncodingUtf16BE;
  const uint8_t* bytes = r->block;
  uint32_t n = 0, pos = r->position;
  if (r->byteAwaitingPair >= 0 && pos < r->length) {
    const uint32_t first = static_cast<uint32_t>(r->byteAwaitingPair), second = bytes[pos++];
    r->decoded[n++] = UnitFromBytes(static_cast<uint8_t>(first), static_cast<uint8_t>(second), big);
    r->byteAwaitingPair = -1;
  }
  const uint32_t pairs = (r->length - pos) / 2 < kDecodedUnits - n ? (r->length - pos) / 2 : kDecodedUnits - n;
  if (!big) {  // the units as they stand in memory (common/words.h: little-endian only)
    std::memcpy(r->decoded + n, bytes + pos, sizeof(char16_t) * pairs);
  } else {
    for (uint32_t i = 0; i < pairs; ++i)
      r->decoded[n + i] = UnitFromBytes(bytes[pos + 2 * i], bytes[pos + 2 * i + 1], true);
  }
  n += pairs;
  pos += 2 * pairs;
  if (r->length - pos == 1) r->byteAwaitingPair = bytes[pos++];
  r->position = pos;
  r->decodedPosition = 0;
  r->decodedLength = n;
  return n > 0;
}

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

// At the end of the input, or a failed read, the last units: a UTF-16 byte left without
// its pair shows as U+FFFD; the decoder's last text, of the bytes that are left, comes
// (a character that they cut off shows as U+FFFD). False when there are none.
bool TakeLastUnits(PipeReader* r, bool utf16) {
  if (utf16) {
    if (r->byteAwaitingPair < 0) return false;
    r->byteAwaitingPair = -1;
    r->decoded[0] = kReplacement;
    r->decodedPosition = 0;
    r->decodedLength = 1;
    return true;
  }
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

// A line of units, framed as they are taken from the block into the line buffer.
int32_t ReadUnitLine(PipeReader* r, char16_t* line, bool utf16, bool mayRead) {
  for (;;) {
    if (r->decodedPosition == r->decodedLength && !(utf16 ? JoinUtf16Units(r) : DecodeMore(r))) {
      const FillResult fill = FillBlock(r, mayRead);
      if (fill == kFilled || (fill != kWaiting && TakeLastUnits(r, utf16))) continue;
      if (fill == kWaiting) return kNoLineYet;
      const uint32_t count = r->framer.count;
      if (count == 0) return fill == kFailed ? -1 : kEndOfInput;
      EndLineHere(&r->framer);  // the last line, without its line end
      line[count] = 0;
      return static_cast<int32_t>(count);
    }
    const char16_t* units = r->decoded + r->decodedPosition;
    const LinePiece piece = NextLinePiece(&r->framer, units, r->decodedLength - r->decodedPosition);
    std::memcpy(line + piece.at, units + piece.start, piece.length * sizeof(char16_t));
    r->decodedPosition += piece.used;
    if (piece.end != PieceEnd::kGoesOn) {
      r->lineGoesOn = piece.end == PieceEnd::kSplit;
      line[piece.at + piece.length] = 0;
      return static_cast<int32_t>(piece.at + piece.length);
    }
  }
}

// Whether the text is framed as UTF-16 units rather than as bytes.
bool FramedAsUnits(PipeReader* r) { return IsUtf16(r->encoding) || DecodesAhead(r, Decoder(r)); }

// The next line, as ReadPipeLine hands it over; without `mayRead`, of what has come.
int32_t ReadLine(PipeReader* r, char16_t* line, bool mayRead) {
  if (r->framer.count == 0) line[0] = 0;
  if (r->firstBlock && !r->atEnd) {  // the encoding is decided on the first bytes
    const FillResult fill = FillBlock(r, mayRead);
    if (fill == kWaiting) return kNoLineYet;
    if (fill != kFilled) return fill == kFailed ? -1 : kEndOfInput;
  }
  if (IsUtf16(r->encoding)) return ReadUnitLine(r, line, true, mayRead);
  const platform::ByteDecoder* decoder = Decoder(r);
  if (DecodesAhead(r, decoder)) return ReadUnitLine(r, line, false, mayRead);
  return ReadByteLine(r, line, mayRead, r->passUtf8 && decoder);  // a decoder here keeps ASCII
}

// First bytes that wait for the rest of their sample decide the encoding as they stand,
// and become the block. False when a line end among them will decide it soon (the last
// of them is a CR or LF whose next byte tells whether it is a UTF-16 one).
bool DecideOnWaitingSample(PipeReader* r) {
  if (r->firstScanned < r->bytesAwaitingSample) return false;
  r->length = r->bytesAwaitingSample;
  r->bytesAwaitingSample = 0;
  // A UTF-8 character that they cut off at their end decides nothing yet.
  const uint32_t cut = static_cast<uint32_t>(Utf8CutLength(reinterpret_cast<const char*>(r->block), r->length));
  r->position = DecideFirstBytes(r, r->length - cut);
  return true;
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
  reader->framer = StartLineFramer(kLineMaxUnits);
  reader->byteAwaitingPair = -1;
}

int32_t ReadPipeLine(PipeReader* reader, char16_t* line) {
  if (!reader || !line || !reader->block || !reader->lineBytes || !reader->read || reader->capacity == 0) return -1;
  // The line functions answer kEndOfInput only once the input has ended (no read follows)
  // and nothing of it waits in the reader: no byte of the block untaken, no UTF-16 byte
  // without its pair, no unit taken and not framed, no line so far. Nothing can come
  // after that, so every later call answers at once.
  if (reader->ended) return kEndOfInput;
  reader->lineGoesOn = 0;
  reader->lineAsBytes = nullptr;
  const int32_t result = reader->failed ? -1 : ReadLine(reader, line, true);
  if (result == -1 || result == kEndOfInput) platform::CloseByteDecoder(&reader->decoder);  // no more text to convert
  if (result == kEndOfInput) reader->ended = 1;
  return result;
}

bool LineWaits(const PipeReader* reader) { return reader->framer.count > 0 || reader->bytesAwaitingSample > 0; }

int32_t TakeWaitingLine(PipeReader* r, char16_t* line) {
  r->lineGoesOn = 0;
  r->lineAsBytes = nullptr;
  if (r->bytesAwaitingSample > 0) {
    if (!DecideOnWaitingSample(r)) return kNoLineYet;
    const int32_t result = ReadLine(r, line, false);  // frames them: a line, or the line so far
    if (result != kNoLineYet) return result;
  }
  const uint32_t count = r->framer.count;
  if (count == 0) return kNoLineYet;
  if (FramedAsUnits(r)) {                                        // the units are in the line already
    if (CutAtCharacter(line, count) < count) return kNoLineYet;  // its low half still to come
    EndLineHere(&r->framer);
    line[count] = 0;
    return static_cast<int32_t>(count);
  }
  const bool utf8 = r->encoding == EncodingUndecided || r->encoding == EncodingUtf8;
  if (utf8 && Utf8CutLength(reinterpret_cast<const char*>(r->lineBytes), count) == count) return kNoLineYet;
  // Taken as a line cut at its limit: a character cut off at its end begins the next.
  EndLineHere(&r->framer);
  const bool ascii = !(r->lineBits & 0x80);
  r->lineBits = 0;
  return FinishByteLine(r, line, count, nullptr, 0, ascii, true);
}

}  // namespace horalin
