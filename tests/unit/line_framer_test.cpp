// The line framer: line ends, zero units and splits, wherever the spans are cut.
#include "common/line_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::U8;

// The lines that the framer makes of `text` in two spans cut at `cut`, as bytes or as
// units; ">" in front of a line that is the rest of a split one.
std::vector<std::u16string> Frame(const std::u16string& text, uint32_t limit, size_t cut, bool bytes) {
  const std::string narrow(text.begin(), text.end());
  LineFramer f = StartLineFramer(limit);
  std::vector<std::u16string> lines;
  std::u16string line;
  for (size_t from = 0, to = cut; from < text.size(); from = to, to = text.size()) {
    for (uint32_t at = 0; at < to - from;) {
      const uint32_t n = static_cast<uint32_t>(to - from - at);
      uint8_t seen = 0;
      const LinePiece p = bytes
                              ? NextLinePiece(&f, reinterpret_cast<const uint8_t*>(narrow.data() + from + at), n, &seen)
                              : NextLinePiece(&f, text.data() + from + at, n);
      EXPECT_EQ(p.at, line.size());
      line += text.substr(from + at + p.start, p.length);
      at += p.used;
      if (p.end != PieceEnd::kGoesOn) lines.push_back((p.restOfSplit ? u">" : u"") + line), line.clear();
    }
  }
  if (f.count > 0) lines.push_back((f.restOfSplit ? u">" : u"") + line);
  return lines;
}

// Lines of at most four units, in spans cut at every place, as bytes and as units.
TEST(LineFramerTest, LineEndsZerosAndSplitsWhereverTheSpansAreCut) {
  const struct {
    std::u16string text;
    std::vector<std::u16string> lines;
  } cases[] = {
      {u"ab\r\ncd", {u"ab", u"cd"}},
      {u"ab\n\rcd\r", {u"ab", u"", u"cd"}},
      {std::u16string(u"a\0b\r\r\n", 6), {u"ab", u""}},
      {u"abcdef\nx", {u"abcd", u">ef", u"x"}},               // the rest of a split line
      {u"abcd\r\ne", {u"abcd", u"e"}},                       // a line end after a split is its own
      {std::u16string(u"abcd\0\0\ne", 8), {u"abcd", u"e"}},  // also after zeros
      {u"abcdefghij", {u"abcd", u">efgh", u">ij"}},
      {u"abc\U0001F600d\n", {u"abc", u">\U0001F600d"}},  // units: a pair is never parted
      {u"a\U0001F600\U0001F600\n", {u"a\U0001F600", u">\U0001F600"}},
  };
  for (const auto& c : cases) {
    const bool wide = c.text.find(u'\xD83D') != std::u16string::npos;  // no bytes for it
    for (size_t cut = 0; cut <= c.text.size(); ++cut) {
      EXPECT_EQ(Frame(c.text, 4, cut, false), c.lines) << U8(c.text) << ", cut at " << cut;
      if (!wide) {
        EXPECT_EQ(Frame(c.text, 4, cut, true), c.lines) << U8(c.text) << ", bytes cut at " << cut;
      }
    }
  }
}

}  // namespace
}  // namespace horalin
