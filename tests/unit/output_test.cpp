// The hosts' UTF-8 output stream: line ends, pairs split between writes, and formatted
// text gathered before it is streamed.
#include "hostkit/output.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_host.h"

namespace horalin::hostkit {
namespace {

using horalin::testing::U16;

struct Capture {
  Utf8Stream stream;  // first, so that the stream's address is the record's
  std::string written;
};

bool Collect(Utf8Stream* stream, const char* bytes, size_t count) {
  reinterpret_cast<Capture*>(stream)->written.append(bytes, count);
  return true;
}

std::unique_ptr<Capture> NewCapture(bool lineFeedsOnly, bool buffered) {
  auto c = std::make_unique<Capture>();
  c->stream = Utf8Stream{Collect, lineFeedsOnly, buffered, false, false, 0, 0, {}};
  return c;
}

// Streams the pieces one after another and flushes at the end.
std::string Stream(const std::vector<std::u16string>& pieces, bool lineFeedsOnly, bool buffered = true) {
  auto c = NewCapture(lineFeedsOnly, buffered);
  for (const std::u16string& p : pieces) StreamText(&c->stream, p.data(), p.size());
  FlushStream(&c->stream, true);
  return c->written;
}

TEST(OutputStreamTest, LineEndsAndPieces) {
  const std::u16string longText(40, u'x');
  struct Case {
    std::vector<std::u16string> pieces;
    std::string lineFeeds;  // with CR LF made LF
  } cases[] = {
      {{u"a\r\nb"}, "a\nb"},
      {{u"a\r", u"\nb"}, "a\nb"},
      {{u"a\r", u"b"}, "a\rb"},
      {{u"a\r"}, "a\r"},  // a CR held at the end is written by the final flush
      {{u"\r\r\n\n\r"}, "\r\n\n\r"},
      {{u"0123456789abcdef\r\n0123456789abcdef\r\n"}, "0123456789abcdef\n0123456789abcdef\n"},
      {{u"01234567\r", u"\n01234567"}, "01234567\n01234567"},
      {{u"caf\u00E9 \u20AC 0123456789\r\n"}, "caf\xC3\xA9 \xE2\x82\xAC 0123456789\n"},
      {{u"0123456789ab\U0001F600"}, "0123456789ab\xF0\x9F\x98\x80"},
      {{u"0123456789ab\xD83D", u"\xDE00!"}, "0123456789ab\xF0\x9F\x98\x80!"},  // a pair split in two
      {{u"a\xD83D"}, "a\xEF\xBF\xBD"},                                         // a half pair left at the end
      {{longText + u"\r\n" + longText}, std::string(40, 'x') + "\n" + std::string(40, 'x')},
      {{u""}, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Stream(c.pieces, true), c.lineFeeds) << ::testing::PrintToString(c.lineFeeds);
    std::string kept;
    for (const std::u16string& p : c.pieces) kept += horalin::testing::U8(p);
    if (c.pieces.size() == 1 && c.pieces[0].find(u'\xD83D') == std::u16string::npos) {
      EXPECT_EQ(Stream(c.pieces, false), kept) << "CRs are kept without lineFeedsOnly";
    }
  }
}

TEST(OutputStreamTest, LargeTextsFillAndDrainTheBuffer) {
  std::u16string text;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    text += u"line \u00E9 0123456789\r\n";
    expected += "line \xC3\xA9 0123456789\n";
  }
  EXPECT_EQ(Stream({text}, true), expected);
  EXPECT_EQ(Stream({text}, true, false), expected);
}

void Format(Utf8Stream* stream, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  StreamFormat(stream, format, args);
  va_end(args);
}

TEST(OutputStreamTest, FormattedPiecesOfAnyLength) {
  for (size_t n : {0, 1, 255, 256, 257, 500, 511, 512, 513, 5000}) {
    std::u16string line(n, u'y');
    auto c = NewCapture(true, true);
    Format(&c->stream, u"%s %s|%5d\r\n", u"stamp", line.c_str(), 42);
    Format(&c->stream, u"%s\r\n", line.c_str());
    FlushStream(&c->stream, true);
    EXPECT_EQ(c->written, "stamp " + std::string(n, 'y') + "|   42\n" + std::string(n, 'y') + "\n") << n;
  }
}

}  // namespace
}  // namespace horalin::hostkit
