// ReadPipeLine with the encoding decision, on input split into arbitrary blocks, from a
// source that has every block at once or one that has nothing yet before each. Text in
// UTF-8 or UTF-16 comes back whole: the lines joined equal the text less its line ends,
// its signature and its zero units. Bytes in any code page that is accepted give the
// lines of their whole conversion, long ones split only between characters. Any input
// gives lines of at most 32,767 units. One execution is cheap: the buffers, the list of
// code pages and their converters are set up once, and long lines come only now and then,
// made of plain characters up to the input's own.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/types.h"
#include "common/utf.h"
#include "fuzz/fuzz_support.h"
#include "lines/encoding.h"
#include "lines/reader.h"
#include "platform/platform.h"

using namespace horalin;
using horalin::fuzz::Check;

namespace {

struct Feed {
  std::string bytes;
  std::vector<uint32_t> sizes;  // of the blocks, used in turn
  size_t next = 0, turn = 0;
  uint32_t error = 0;  // returned once the bytes are used up
  bool waits = false;  // every other read finds nothing yet, as a read without waiting may
  size_t plain = 0;    // the plain characters in front come in whole blocks
  int reads = 0;
};
Feed* Current = nullptr;

uint32_t ReadFeed(platform::Handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  Feed& f = *Current;
  *bytesRead = 0;
  if (f.waits && ++f.reads % 2) return kErrorIoPending;
  if (f.next == f.bytes.size()) return f.error;
  size_t n = f.next < f.plain ? f.plain - f.next : f.sizes[f.turn++ % f.sizes.size()];
  if (n > capacity) n = capacity;
  if (n > f.bytes.size() - f.next) n = f.bytes.size() - f.next;
  std::memcpy(block, f.bytes.data() + f.next, n);
  f.next += n;
  *bytesRead = static_cast<uint32_t>(n);
  return 0;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6), out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12), out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18), out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F)), out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, uint32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    out += static_cast<char16_t>(0xD800 | (cp - 0x10000) >> 10);
    out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
  }
}

std::string Utf16Bytes(const std::u16string& text, bool bigEndian) {
  std::string out;
  for (char16_t u : text) {
    char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  }
  return out;
}

// Code points that reach line ends, zero units, signatures and every length of sequence.
std::vector<uint32_t> CodePoints(fuzz::Bytes& in) {
  std::vector<uint32_t> points;
  while (in.size > 0) {
    uint8_t b = in.Byte();
    uint32_t cp = b;
    if (b >= 0xC0) {
      cp = ((b & 0x3Fu) << 16 | uint32_t{in.Byte()} << 8 | in.Byte()) % 0x110000;
      if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFEFF;
    } else if (b >= 0x80) {
      static constexpr uint32_t kSome[] = {0xE9, 0x20AC, 0x4E2D, 0x1F600, 0xFEFF, 0x7FF, 0x800, 0xFFFF};
      cp = kSome[b % 8];
    }
    points.push_back(cp);
  }
  return points;
}

// The first CR, LF or zero unit from `from`, or `count`: four units at a time, since the
// lines of long inputs are long.
size_t FindLineEnd(const char16_t* units, size_t from, size_t count) {
  constexpr uint64_t kOnes = 0x0001000100010001ull, kHigh = 0x8000800080008000ull;
  for (uint64_t w; from + 4 <= count; from += 4) {
    std::memcpy(&w, units + from, sizeof w);
    const uint64_t cr = w ^ (13 * kOnes), lf = w ^ (10 * kOnes);
    if ((((w - kOnes) & ~w) | ((cr - kOnes) & ~cr) | ((lf - kOnes) & ~lf)) & kHigh) break;
  }
  while (from < count && units[from] != 0 && units[from] != u'\r' && units[from] != u'\n') ++from;
  return from;
}

// Texts compared by the C library, in one pass over long lines.
bool SameText(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
}

// The lines of a text as the reader tells them: CR, LF or CR LF ends a line, zero units
// are dropped, a last line without a line end counts when it is not empty.
std::vector<std::u16string> LinesOf(const std::u16string& text) {
  std::vector<std::u16string> lines(1);
  for (size_t i = 0; i < text.size();) {
    const size_t end = FindLineEnd(text.data(), i, text.size());
    lines.back().append(text, i, end - i);
    if (end == text.size()) break;
    if (text[end] != 0) lines.emplace_back();
    i = end + (text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n' ? 2 : 1);
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

struct Reading {
  std::u16string joined;
  int32_t last = 0;
};

uint8_t Block[kPipeBlockBytes], LineBytes[kLineCapacity];
char16_t Line[kLineCapacity];
PipeReader Reader;
std::vector<uint32_t> CodePages;  // every code page that IsCodePageSupported accepts
size_t Filler = 0;                // 7-bit characters in front of the text, to bring its own ones to a line's limit

Reading ReadAll(Feed& feed, TextEncoding encoding, uint32_t codePage, std::vector<std::u16string>* lines = nullptr) {
  Current = &feed;
  char16_t* line = Line;
  PipeReader& reader = Reader;
  SetUpPipeReader(&reader, nullptr, Block, kPipeBlockBytes, LineBytes, encoding, codePage);
  reader.read = ReadFeed;
  reader.wait = [](platform::Handle, uint32_t) { return true; };  // the bytes come without a pause
  Reading r;
  for (size_t calls = 0;; ++calls) {
    Check(calls <= feed.bytes.size() + 2, "every call but the last delivers a line");
    int32_t n;
    for (int waited = 0; (n = ReadPipeLine(&reader, line)) == kNoLineYet; ++waited)
      Check(feed.waits && waited <= static_cast<int>(feed.bytes.size()) + 2,
            "a line waits only for reads that found nothing");
    if (n < 0) {
      r.last = n;
      int32_t again;
      while ((again = ReadPipeLine(&reader, line)) == kNoLineYet) {
      }
      Check(again == n, "the end or the failure lasts");
      break;
    }
    Check(n <= static_cast<int32_t>(kLineMaxUnits), "no line is longer than 32,767 units");
    Check(line[n] == 0, "a line is terminated after its length");
    Check(FindLineEnd(line, 0, static_cast<size_t>(n)) == static_cast<size_t>(n), "no line end or zero unit in a line");
    r.joined.append(line, static_cast<size_t>(n));
    if (lines) lines->emplace_back(line, static_cast<size_t>(n));
  }
  Check(feed.next == feed.bytes.size(), "every byte is read");
  Check(r.last == (feed.error ? -1 : kEndOfInput), "the input ends with the end, or with its failure");
  return r;
}

void CheckText(fuzz::Bytes& in, Feed& feed) {
  const uint8_t form = in.Byte() % 8;
  const std::vector<uint32_t> points = CodePoints(in);
  const bool utf16 = form >= 4;
  std::u16string text;  // the text as UTF-16
  std::string bytes;
  for (uint32_t cp : points) {
    if (form == 0 && cp == 0) continue;  // zero bytes would make plain UTF-8 look like UTF-16
    AppendUtf16(text, cp);
    if (!utf16) AppendUtf8(bytes, cp);
  }
  text.insert(0, Filler, u'a');
  feed.plain = utf16 ? 2 * Filler : Filler;
  if (!utf16) bytes.insert(0, Filler, 'a');
  TextEncoding encoding = EncodingUndecided;
  static constexpr TextEncoding kForced[] = {EncodingUndecided, EncodingUndecided, EncodingUtf8,    EncodingCodePage,
                                             EncodingUndecided, EncodingUndecided, EncodingUtf16LE, EncodingUtf16BE};
  encoding = kForced[form];
  std::u16string expected = text;
  if (form == 1 || form == 3) bytes = "\xEF\xBB\xBF" + bytes;
  if (form == 4) bytes = "\xFF\xFE" + Utf16Bytes(text, false);
  if (form == 5) bytes = "\xFE\xFF" + Utf16Bytes(text, true);
  if (form == 6 || form == 7) bytes = Utf16Bytes(text, form == 7);
  // A UTF-8 text that begins with U+FEFF begins with the signature.
  if ((form == 0 || form == 2) && !expected.empty() && expected[0] == 0xFEFF) expected.erase(0, 1);
  std::u16string visible;
  for (const std::u16string& line : LinesOf(expected)) visible += line;

  feed.bytes = bytes;
  Reading r = ReadAll(feed, encoding, form == 3 ? 1252 : 0);
  Check(SameText(r.joined, visible), "the lines joined are the text less line ends, signature and zero units");
}

// Bytes in a code page that is accepted (no zero bytes: the reader drops them before the
// conversion) give the lines of the whole text converted at once.
void CheckCodePage(fuzz::Bytes& in, Feed& feed) {
  const uint32_t codePage = CodePages[in.Number(static_cast<uint32_t>(CodePages.size()))];
  feed.bytes.assign(Filler, 'a');
  feed.plain = Filler;
  for (size_t i = 0; i < in.size; ++i)
    if (in.data[i] != 0) feed.bytes += static_cast<char>(in.data[i]);
  platform::ByteDecoder decoder;
  Check(platform::OpenByteDecoder(&decoder, codePage), "an accepted code page has a decoder");
  std::u16string whole(feed.bytes.size() + 16, u'\0');
  size_t used = 0;
  whole.resize(
      platform::DecodeBytes(&decoder, feed.bytes.data(), feed.bytes.size(), &used, whole.data(), whole.size(), true));
  platform::CloseByteDecoder(&decoder);
  const std::vector<std::u16string> expected = LinesOf(whole);
  std::vector<std::u16string> lines;
  ReadAll(feed, EncodingCodePage, codePage, &lines);
  size_t next = 0;
  for (const std::u16string& line : expected) {
    std::u16string joined;  // the pieces of a line past the limit
    do {
      Check(next < lines.size(), "every line of the whole conversion comes");
      joined += lines[next++];
    } while (joined.size() < line.size());
    Check(SameText(joined, line), "each line equals the whole conversion's, split only between characters");
  }
  Check(next == lines.size(), "no line comes that the whole conversion does not have");
}

void CheckAnyBytes(fuzz::Bytes& in, Feed& feed) {
  static constexpr uint32_t kCodePages[] = {0, 1252, 932, 936, 949, 950, 65001, 437, 37, 1361, 20127, 866};
  const uint8_t choice = in.Byte();
  const TextEncoding encoding = static_cast<TextEncoding>(choice % 5);
  const uint32_t codePage = kCodePages[choice / 5 % 12];
  feed.bytes.assign(Filler, 'a');
  feed.plain = Filler;
  feed.bytes.append(reinterpret_cast<const char*>(in.data), in.size);
  ReadAll(feed, encoding, codePage);
  // What the detector calls UTF-8, the decoder reads without a replacement (but for one
  // that the bytes hold themselves, and a character that their end cuts off).
  TextEncoding detected = EncodingUndecided;
  uint32_t detectedCodePage = 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(in.data);
  if (DetectUtf8(bytes, static_cast<uint32_t>(in.size), &detected, &detectedCodePage) && detected == EncodingUtf8 &&
      std::string_view(reinterpret_cast<const char*>(in.data), in.size).find("\xEF\xBF\xBD") ==
          std::string_view::npos) {
    static char16_t units[kPipeBlockBytes * 2];
    size_t used = 0;
    const size_t n =
        DecodeUtf8(reinterpret_cast<const char*>(in.data), in.size, units, sizeof units / sizeof *units, false, &used);
    Check(std::u16string_view(units, n).find(u'\uFFFD') == std::u16string_view::npos,
          "text called UTF-8 decodes without a replacement");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpEnvironment();
  for (uint32_t codePage = 1; codePage < 70000; ++codePage)  // their converters are opened and kept
    if (IsCodePageSupported(codePage)) CodePages.push_back(codePage);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Bytes in{data, size};
  const uint8_t mode = in.Byte();
  Feed feed;
  // Block sizes: 1 to 200 bytes, or large ones up to and past the reader's capacity.
  for (int i = 0, n = 1 + in.Byte() % 6; i < n; ++i) {
    uint8_t s = in.Byte();
    feed.sizes.push_back(s < 200 ? s + 1u : (s - 199u) * 1000u);
  }
  if (mode & 2) feed.error = 5;  // a read that fails after the last byte
  feed.waits = (mode & 8) != 0;
  // Now and then a line past the limit: the input's own characters come after as many
  // plain ones as bring them to it, so that the line is split among them.
  Filler = (mode & 0xDC) == 0xDC ? kLineMaxUnits - 48 + in.Byte() % 64 : 0;
  fuzz::Bytes rest = in;
  fuzz::ResetHost();
  if (mode & 0x20)
    CheckCodePage(rest, feed);
  else if (mode & 1)
    CheckAnyBytes(rest, feed);
  else
    CheckText(rest, feed);
  return 0;
}
