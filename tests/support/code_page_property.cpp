#include "tests/support/code_page_property.h"

#include <cstring>
#include <vector>

#include "common/types.h"
#include "lines/reader.h"
#include "platform/platform.h"

namespace horalin::testing {

namespace {

using Lines = std::vector<std::u16string>;

// Byte strings that the code page converts to one character: single bytes, and longer
// ones grown from a byte that begins a character while the conversion asks for more;
// also shift sequences and encoded runs of the stateful code pages. Those that convert
// to a line end go to `ends`.
std::vector<std::string> CharactersOf(platform::ByteDecoder* decoder, std::mt19937& random,
                                      std::vector<std::string>* ends) {
  auto decode = [&](const std::string& bytes, bool final, size_t* used) {
    char16_t out[16];
    std::u16string text(out, platform::DecodeBytes(decoder, bytes.data(), bytes.size(), used, out, 16, final));
    size_t none;
    platform::DecodeBytes(decoder, "", 0, &none, out, 16, true);  // afresh for the next one
    return text;
  };
  std::vector<std::string> characters = {"\x1B$B",  "\x1B(B",     "\x1B(J",   "\x0E", "\x0F",
                                         "\x1B$)C", "+AGEAYgBj-", "+2D3eAA-", "+-",   "+ZeVnLIqe-"};
  *ends = {"\n", "\r\n", "\r", "+AAo-", "+AA0ACg-"};
  std::vector<std::string> leads;
  for (int b = 1; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    size_t used = 0, all = 0;
    decode(one, false, &used);
    const std::u16string text = decode(one, true, &all);
    if (used == 0 && b >= 0x80)
      leads.push_back(one);
    else if (text == u"\r" || text == u"\n")
      ends->push_back(one);
    else if (text.size() == 1 && text[0] != 0xFFFD)
      characters.push_back(one);
  }
  for (int i = 0; i < 600 && !leads.empty(); ++i) {
    std::string bytes = leads[random() % leads.size()];
    size_t used = 0;
    do bytes += static_cast<char>(0x21 + random() % 0xDE);
    while (bytes.size() < 4 && (decode(bytes, false, &used), used == 0));
    const std::u16string text = decode(bytes, true, &used);
    if (used == bytes.size() && !text.empty() && text.find(u'\uFFFD') == std::u16string::npos)
      characters.push_back(bytes);
  }
  return characters;
}

// Lines of random characters ended in every way, now and then a random byte (no zero
// byte, which the reader drops before conversion, and no CR or LF), and one line past
// the limit.
std::string RandomText(const std::vector<std::string>& characters, const std::vector<std::string>& ends,
                       std::mt19937& random) {
  std::string text;
  for (int line = 0; line < 40; ++line) {
    const size_t length = line == 20 ? 33000 + random() % 40000 : random() % 80;
    for (size_t start = text.size(); text.size() - start < length;) {
      if (random() % 40)
        text += characters[random() % characters.size()];
      else
        text += static_cast<char>(14 + random() % 242);
    }
    text += ends[random() % ends.size()];
  }
  return text;
}

// Lines of decoded text, as the reader tells them: CR, LF or CR LF ends a line, zero
// units are dropped.
Lines LinesOf(const std::u16string& text) {
  Lines lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      lines.emplace_back();
    } else if (text[i] != 0) {
      lines.back() += text[i];
    }
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

// The blocks, one a read; with `waits`, every other read finds nothing yet.
struct Feed {
  std::vector<std::string> blocks;
  size_t next = 0, offset = 0;
  int reads = 0;
  bool waits = false;
};

uint32_t ReadFeed(platform::Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  auto* feed = static_cast<Feed*>(handle);
  *bytesRead = 0;
  if (feed->waits && ++feed->reads % 2) return kErrorIoPending;
  if (feed->next == feed->blocks.size()) return 0;
  const std::string& b = feed->blocks[feed->next];
  const size_t n = capacity < b.size() - feed->offset ? capacity : b.size() - feed->offset;
  std::memcpy(block, b.data() + feed->offset, n);
  feed->offset += n;
  if (feed->offset == b.size()) ++feed->next, feed->offset = 0;
  *bytesRead = static_cast<uint32_t>(n);
  return 0;
}

struct Storage {
  uint8_t block[kPipeBlockBytes];
  uint8_t lineBytes[kLineCapacity];
  char16_t line[kLineCapacity];
  PipeReader reader;
};

Lines ReadBlocks(Feed* feed, uint32_t codePage, int32_t* end) {
  auto* s = new Storage;
  SetUpPipeReader(&s->reader, feed, s->block, kPipeBlockBytes, s->lineBytes, EncodingCodePage, codePage);
  s->reader.read = ReadFeed;
  Lines lines;
  int32_t n;
  while ((n = ReadPipeLine(&s->reader, s->line)) != kEndOfInput && n != -1)
    if (n >= 0) lines.emplace_back(s->line, static_cast<size_t>(n));
  *end = n;
  delete s;
  return lines;
}

}  // namespace

std::string CheckCodePageReading(uint32_t codePage, std::mt19937& random, ReferenceConversion reference) {
  platform::ByteDecoder decoder;
  if (!platform::OpenByteDecoder(&decoder, codePage)) return "not accepted";
  std::vector<std::string> ends;
  const std::vector<std::string> characters = CharactersOf(&decoder, random, &ends);
  const std::string bytes = RandomText(characters, ends, random);
  std::u16string whole(bytes.size() + 16, u'\0');
  size_t used = 0;
  whole.resize(platform::DecodeBytes(&decoder, bytes.data(), bytes.size(), &used, whole.data(), whole.size(), true));
  platform::CloseByteDecoder(&decoder);
  std::u16string system;
  if (reference && reference(codePage, bytes, &system) && system != whole) return "the system converts otherwise";
  const Lines expected = LinesOf(whole);

  Feed feed;
  for (size_t at = 0; at < bytes.size();) {
    const size_t size = random() % 3 ? 1 + random() % 9000 : 1 + random() % 8;
    feed.blocks.push_back(bytes.substr(at, size));
    at += size;
  }
  feed.waits = random() % 2;
  int32_t end = 0;
  const Lines lines = ReadBlocks(&feed, codePage, &end);
  size_t next = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    std::u16string joined;  // the pieces of a line past the limit
    do {
      if (next == lines.size()) return "line " + std::to_string(i + 1) + " is missing";
      if (lines[next].size() > kLineMaxUnits) return "line " + std::to_string(next + 1) + " is too long";
      joined += lines[next++];
    } while (joined.size() < expected[i].size());
    if (joined != expected[i]) return "line " + std::to_string(i + 1) + " differs";
  }
  if (next != lines.size()) return "more lines than the whole conversion";
  if (end != kEndOfInput) return "no end of input";
  return "";
}

}  // namespace horalin::testing
