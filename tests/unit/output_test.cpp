// The stand-in hosts' UTF-8 output stream: text written in pieces comes out whole.
#include "hostkit/output.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

namespace horalin::hostkit {
namespace {

std::string Written;

bool Capture(Utf8Stream*, const char* bytes, size_t count) {
  Written.append(bytes, count);
  return true;
}

std::string Stream(const std::vector<std::u16string>& pieces, bool lineFeedsOnly, bool buffered) {
  static Utf8Stream s;
  s = Utf8Stream{Capture, lineFeedsOnly, buffered, false, false, {0}, 0, {}};
  Written.clear();
  for (const std::u16string& piece : pieces) StreamText(&s, piece.data(), piece.size());
  FlushStream(&s, true);
  return Written;
}

std::u16string U16Of(const std::string& utf8) {
  std::u16string out(utf8.size() + 1, u'\0');
  out.resize(Utf16FromUtf8(utf8.data(), utf8.size(), out.data(), out.size()));
  return out;
}

TEST(Utf8StreamTest, PiecesJoinWhateverTheSplit) {
  struct Case {
    std::vector<std::u16string> pieces;
    bool lineFeedsOnly;
    const char* expected;
  } cases[] = {
      {{u"ab\r", u"\ncd\r\r\n", u"\u00e9\u20acx\r"}, true, "ab\ncd\r\n\xC3\xA9\xE2\x82\xACx\r"},
      {{u"a\r\nb\r", u"\n"}, false, "a\r\nb\r\n"},
      {{u"a\xD83D", u"\xDE00z"}, true, "a\xF0\x9F\x98\x80z"},  // a pair split between two writes
      {{u"a\xD83D", u"z"}, true, "a\xEF\xBF\xBDz"},            // a lone high half
      {{u"\u00e9\xD83D", u"\xDE00\u00e9"}, true, "\xC3\xA9\xF0\x9F\x98\x80\xC3\xA9"},  // one held by the encoder
      {{u"\u00e9\xD83D", u"\r\n"}, true, "\xC3\xA9\xEF\xBF\xBD\n"},                    // ... and let out
      {{u"2024-01-01\r\n", u"2024-01-02\r\n"}, true, "2024-01-01\n2024-01-02\n"},
      // Runs of eight 7-bit units, with a CR inside, at the end or just after one.
      {{u"0123456789abcdef\r\n0123456789abcdef\r\n"}, true, "0123456789abcdef\n0123456789abcdef\n"},
      {{u"0123456\r\n89abcdef"}, true, "0123456\n89abcdef"},
      {{u"01234567\r", u"\n01234567"}, true, "01234567\n01234567"},
      {{u"01234567\r", u"01234567"}, true, "01234567\r01234567"},
      {{u"0123456789ab\U0001F600 0123456789ab"}, true, "0123456789ab\xF0\x9F\x98\x80 0123456789ab"},
  };
  for (const Case& c : cases)
    for (bool buffered : {false, true}) EXPECT_EQ(Stream(c.pieces, c.lineFeedsOnly, buffered), c.expected);
}

// The whole text converted one unit after another: CR LF as LF when asked, a pair as one
// character, a lone half as U+FFFD.
std::string Reference(const std::u16string& text, bool lineFeedsOnly) {
  std::string out;
  auto put = [&out](uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
    } else if (cp < 0x10000) {
      out += {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
              static_cast<char>(0x80 | (cp & 0x3F))};
    } else {
      out += {static_cast<char>(0xF0 | cp >> 18), static_cast<char>(0x80 | (cp >> 12 & 0x3F)),
              static_cast<char>(0x80 | (cp >> 6 & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
    }
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    bool next = i + 1 < text.size();
    if (lineFeedsOnly && c == u'\r' && next && text[i + 1] == u'\n') continue;
    if (c >= 0xD800 && c <= 0xDBFF && next && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      put(0x10000 + ((c - 0xD800u) << 10) + (text[++i] - 0xDC00u));
    } else {
      put(c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c);
    }
  }
  return out;
}

// ASCII goes into the buffer four units at a time; a CR, a unit beyond ASCII, a pair or
// a NUL at any place within or across those groups, and a text split anywhere into two
// writes, come out as the conversion of the whole.
TEST(Utf8StreamTest, SpecialUnitsAtEveryPlace) {
  const std::u16string specials[] = {
      u"\r", u"\n", u"\r\n", u"\r\r\n", u"\u00e9", u"\u20ac", u"\U0001F600", u"\xDC00", std::u16string(1, u'\0')};
  for (const std::u16string& special : specials) {
    for (size_t at = 0; at <= 9; ++at) {
      std::u16string text = u"abcdefghijklm";
      text.insert(at, special);
      for (bool lineFeedsOnly : {false, true}) {
        std::string expected = Reference(text, lineFeedsOnly);
        for (size_t split = 0; split <= text.size(); ++split) {
          std::vector<std::u16string> pieces = {text.substr(0, split), text.substr(split)};
          EXPECT_EQ(Stream(pieces, lineFeedsOnly, true), expected) << at << " " << split;
        }
        if (special[0] == 0) continue;
        static Utf8Stream s;
        s = Utf8Stream{Capture, lineFeedsOnly, false, false, false, {0}, 0, {}};
        Written.clear();
        StreamTerminatedText(&s, text.c_str());
        FlushStream(&s, true);
        EXPECT_EQ(Written, expected) << "terminated, " << at;
      }
    }
  }
}

TEST(Utf8StreamTest, TextLongerThanTheBufferKeepsItsOrder) {
  std::u16string text;
  std::string expected;
  for (int i = 0; i < 50000; ++i) {
    char16_t c = static_cast<char16_t>(u'a' + i % 26);
    text += c;
    expected += static_cast<char>(c);
    if (i % 7919 == 0) text += u"\u00e9", expected += "\xC3\xA9";
  }
  EXPECT_EQ(Stream({text, text, text}, true, true), expected + expected + expected);
}

// A line of bytes comes out as its text with "\r\n" would: after a CR or a half pair held
// from the text before it, and where the buffer fills at any place in it. So does a 7-bit
// line of units that StreamAsciiLine takes; one that it refuses goes as text, unharmed.
TEST(Utf8StreamTest, LinesOfBytesAsTheirText) {
  struct Case {
    std::u16string before;
    std::string head, line;
  } cases[] = {
      {u"", "12:00 ", "plain"},
      {u"x\r", "\xC3\xA9 ", "\xE5\x90\x8D\xF0\x9F\x98\x80"},  // a CR held, let out as it stands
      {u"x\xD83D", " ", ""},                                  // a lone high half held: U+FFFD
      {u"", "", std::string(70000, 'a')},                     // longer than the buffer
      {u"", "a\rb ", "c"},                                    // a CR: not a line of 7-bit units
      {u"x\r", "12:00 ", "plain"},
  };
  for (const Case& c : cases)
    for (const bool lineFeedsOnly : {false, true})
      for (const size_t fill : {size_t{0}, size_t{65536 - 8}, size_t{65536 - 1}}) {
        const std::u16string filler(fill, u'f');
        const std::string expected = Stream({filler, c.before, U16Of(c.head + c.line) + u"\r\n"}, lineFeedsOnly, true);
        static Utf8Stream s;
        s = Utf8Stream{Capture, lineFeedsOnly, true, false, false, {0}, 0, {}};
        Written.clear();
        StreamText(&s, filler.data(), filler.size());
        StreamText(&s, c.before.data(), c.before.size());
        StreamLineBytes(&s, c.head.data(), c.head.size(), c.line.data(), c.line.size());
        FlushStream(&s, true);
        EXPECT_EQ(Written, expected) << c.head << " " << fill << " " << lineFeedsOnly;

        const std::u16string units = U16Of(c.head + c.line);
        s = Utf8Stream{Capture, lineFeedsOnly, true, false, false, {0}, 0, {}};
        Written.clear();
        StreamText(&s, filler.data(), filler.size());
        StreamText(&s, c.before.data(), c.before.size());
        const bool took = StreamAsciiLine(&s, units.data(), units.size());
        EXPECT_TRUE(took || fill != 0 || !c.before.empty() || c.head != "12:00 ");
        if (!took) StreamText(&s, (units + u"\r\n").data(), units.size() + 2);
        FlushStream(&s, true);
        EXPECT_EQ(Written, expected) << c.head << " " << fill << " " << lineFeedsOnly;
      }
}

void Format(Utf8Stream* stream, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  StreamFormat(stream, format, args);
  va_end(args);
}

TEST(Utf8StreamTest, FormattedPiecesOfAnyLength) {
  for (size_t n : {0u, 1u, 255u, 256u, 257u, 500u, 511u, 512u, 513u, 5000u}) {
    std::u16string line(n, u'y');
    static Utf8Stream s;
    s = Utf8Stream{Capture, true, true, false, false, {0}, 0, {}};
    Written.clear();
    Format(&s, u"%s %s|%5d\r\n", u"stamp", line.c_str(), 42);
    Format(&s, u"%s\r\n", line.c_str());
    FlushStream(&s, true);
    EXPECT_EQ(Written, "stamp " + std::string(n, 'y') + "|   42\n" + std::string(n, 'y') + "\n") << n;
  }
  // The general way takes over after "%s" while the stream holds a CR or a high half.
  static Utf8Stream s;
  s = Utf8Stream{Capture, true, true, false, false, {0}, 0, {}};
  Written.clear();
  Format(&s, u"%s%d|%s%d\n|%s%d\n", u"a\r", 1, u"b\r", 2, u"c\xD83D", 3);
  FlushStream(&s, true);
  EXPECT_EQ(Written,
            "a\r1|b\r2\n|c\xEF\xBF\xBD"
            "3\n");
}

// A format of "%s" conversions only takes a fast way into the buffer; a width that the
// text already fills ("%1s") sends the same text the general way. Both must write the
// same bytes: for CR, LF and CR LF at every place, characters beyond 7 bits, pairs and
// lone halves, texts that start anywhere within a block of 16 bytes, and texts longer
// than the stream's buffer.
std::string FormatBoth(bool fast, bool lineFeedsOnly, const char16_t* stamp, const char16_t* line) {
  static Utf8Stream s;
  s = Utf8Stream{Capture, lineFeedsOnly, true, false, false, {0}, 0, {}};
  Written.clear();
  if (fast)
    Format(&s, u"%s %s\r\n", stamp, line);
  else
    Format(&s, u"%1s %1s\r\n", stamp, line);
  FlushStream(&s, true);
  return Written;
}

TEST(Utf8StreamTest, StringOnlyFormatsWriteWhatTheGeneralWayWrites) {
  const std::u16string specials[] = {u"\r",     u"\n",         u"\r\n",   u"\n\r",   u"\r\r\n",   u"\u00e9", u"\u20ac",
                                     u"\u07ff", u"\U0001F600", u"\xD83D", u"\xDC00", u"\x7f\x80", u"\xFFFF", u"\x8000"};
  alignas(16) char16_t buffer[2][96];
  for (const std::u16string& special : specials) {
    for (size_t at = 0; at <= 33; ++at) {
      std::u16string text = u"0123456789abcdefghijklmnopqrstuvwxyz";
      text.insert(at, special);
      for (size_t shift : {0u, 1u, 3u, 7u}) {
        const size_t offsets[2] = {shift, (shift + 5) % 8};  // the text as stamp and as line
        for (size_t i = 0; i < 2; ++i) {
          std::memset(buffer[i], 0x41, sizeof buffer[i]);
          std::copy(text.begin(), text.end(), buffer[i] + offsets[i]);
          buffer[i][offsets[i] + text.size()] = 0;
        }
        const char16_t* stamp = buffer[0] + offsets[0];
        const char16_t* line = buffer[1] + offsets[1];
        for (bool lineFeedsOnly : {false, true}) {
          std::string expected = FormatBoth(false, lineFeedsOnly, stamp, line);
          EXPECT_EQ(FormatBoth(true, lineFeedsOnly, stamp, line), expected) << at << " " << shift;
          EXPECT_EQ(expected, Reference(text + u" " + text + u"\r\n", lineFeedsOnly)) << at << " " << shift;
        }
      }
    }
  }
}

TEST(Utf8StreamTest, StringOnlyFormatsLongerThanTheBuffer) {
  for (size_t n : {65535u, 65536u, 65537u, 70001u}) {
    std::u16string line(n, u'x');
    for (size_t at : {n / 3, n / 2, n - 9}) line[at] = u'\u20ac', line[at - 1] = u'\r';
    for (bool lineFeedsOnly : {false, true})
      EXPECT_EQ(FormatBoth(true, lineFeedsOnly, u"stamp", line.c_str()),
                FormatBoth(false, lineFeedsOnly, u"stamp", line.c_str()))
          << n;
  }
}

// What one call leaves waiting (a CR, a high half) joins the next call's first unit,
// the same either way; a missing string is written as "(null)".
TEST(Utf8StreamTest, StringOnlyFormatsAcrossCalls) {
  struct Case {
    const char16_t* first;
    const char16_t* second;
    const char* expected;
  } cases[] = {
      {u"ab\r", u"\ncd", "ab\ncd"},
      {u"ab\r", u"cd", "ab\rcd"},
      {u"a\xD83D",
       u"\xDE00"
       u"b",
       "a\xF0\x9F\x98\x80"
       "b"},
      {u"a\xD83D", u"\r\n", "a\xEF\xBF\xBD\n"},
      {u"a", nullptr, "a(null)"},
  };
  for (const Case& c : cases) {
    for (bool fast : {true, false}) {
      static Utf8Stream s;
      s = Utf8Stream{Capture, true, false, false, false, {0}, 0, {}};
      Written.clear();
      Format(&s, fast ? u"%s" : u"%0s", c.first);
      Format(&s, fast ? u"%s" : u"%0s", c.second);
      FlushStream(&s, true);
      EXPECT_EQ(Written, c.expected) << fast;
    }
  }
}

// Strings of a "%s" format, and terminated text, are read in aligned blocks that may reach past their terminator but
// never into the next page: here the terminator is the last unit before a page that cannot be read, at every offset
// within a block, after 7-bit units and after each special one. Reading past the page would end the test with a fault,
// in every build.
TEST(Utf8StreamTest, TerminatedStringsThatEndAtAPagesEnd) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* pages = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(static_cast<char*>(pages) + page, page, PROT_NONE), 0);
  char16_t* const end = reinterpret_cast<char16_t*>(static_cast<char*>(pages) + page);
  for (const char16_t* last : {u"x", u"\r", u"\u00e9", u"\U0001F600"}) {
    for (size_t length = 0; length <= 40; ++length) {
      std::u16string text = std::u16string(length, u'a') + last;
      char16_t* start = end - text.size() - 1;
      std::copy(text.begin(), text.end(), start);
      start[text.size()] = 0;
      for (bool fast : {true, false}) {
        static Utf8Stream s;
        s = Utf8Stream{Capture, true, false, false, false, {0}, 0, {}};
        Written.clear();
        Format(&s, fast ? u"%s" : u"%0s", start);
        StreamTerminatedText(&s, start);
        FlushStream(&s, true);
        EXPECT_EQ(Written, Reference(text + text, true)) << length << " " << fast;
      }
    }
  }
  munmap(pages, 2 * page);
}

}  // namespace
}  // namespace horalin::hostkit
