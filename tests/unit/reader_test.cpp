// The pipe line reader over byte inputs split into blocks at awkward places.
#include "lines/reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/types.h"
#include "platform/platform.h"
#include "tests/support/block_feed.h"
#include "tests/support/code_page_property.h"
#include "tests/support/test_host.h"
#include "tests/support/utf16_bytes.h"

namespace horalin {
namespace {

using testing::U16;
using testing::U8;

// The reader's blocks, of which those from `soon` on are not there at once but come
// within a short wait, and those from `late` on come after a pause longer than that.
struct Script {
  testing::BlockFeed feed;
  size_t late = 99;
  size_t soon = 99;
};

uint32_t ReadScript(platform::Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  return testing::ReadFromFeed(&static_cast<Script*>(handle)->feed, block, capacity, bytesRead);
}

bool WaitScript(platform::Handle handle, uint32_t milliseconds) {
  const Script* script = static_cast<Script*>(handle);
  const size_t next = script->feed.next;
  return (next < script->late && (next < script->soon || milliseconds > 0)) || next == script->feed.blocks.size();
}

struct Reading {
  std::vector<std::u16string> lines;
  int32_t end = 0;  // the negative result that ended the reading
  uint32_t lastError = 0;
};

struct TestReader {
  uint8_t block[kStreamBlockBytes];
  uint8_t lineBytes[kLineCapacity];
  char16_t line[kLineCapacity];
  PipeReader reader;
  Script script;

  TestReader(std::vector<std::string> blocks, TextEncoding encoding = EncodingUndecided, uint32_t codePage = 0,
             uint32_t error = 0, uint32_t capacity = kPipeBlockBytes) {
    script.feed.blocks = std::move(blocks);
    script.feed.error = error;
    SetUpPipeReader(&reader, &script, block, capacity, lineBytes, encoding, codePage);
    reader.read = ReadScript;
    reader.wait = WaitScript;
  }
};

// The line just read: a line handed over as its bytes must be 7-bit or well-formed UTF-8.
std::u16string LineRead(const TestReader& t, int32_t n) {
  if (!t.reader.lineAsBytes) return std::u16string(t.line, static_cast<size_t>(n));
  const std::string bytes(reinterpret_cast<const char*>(t.reader.lineAsBytes), static_cast<size_t>(n));
  const std::u16string units = U16(bytes);
  EXPECT_EQ(U8(units), bytes) << "handed over as bytes, not UTF-8";
  return units;
}

// `asBytes`: the reader of a stream that writes UTF-8, its lines handed over as bytes where
// they can be, with a block as large as TS's, whose first read is no larger all the same.
Reading ReadAll(std::vector<std::string> blocks, TextEncoding encoding, uint32_t codePage, uint32_t error, bool waits,
                bool asBytes = false) {
  auto* t = new TestReader(std::move(blocks), encoding, codePage, error, asBytes ? kStreamBlockBytes : kPipeBlockBytes);
  t->script.feed.waits = waits;
  t->reader.passUtf8 = asBytes;
  Reading r;
  for (int32_t n; (n = ReadPipeLine(&t->reader, t->line)) != kEndOfInput && n != -1;)
    if (n >= 0) r.lines.push_back(LineRead(*t, n));
  do r.end = ReadPipeLine(&t->reader, t->line);  // after the end, the same answer again
  while (r.end == kNoLineYet);
  r.lastError = t->reader.lastError;
  delete t;
  return r;
}

// Every reading is made three times: from a source that always has bytes, from one that
// has nothing yet before each block, and with the lines handed over as bytes, whose lines
// must all come out the same.
Reading Read(std::vector<std::string> blocks, TextEncoding encoding = EncodingUndecided, uint32_t codePage = 0,
             uint32_t error = 0) {
  Reading r = ReadAll(blocks, encoding, codePage, error, false);
  for (const bool asBytes : {false, true}) {
    Reading other = ReadAll(blocks, encoding, codePage, error, !asBytes, asBytes);
    EXPECT_EQ(other.lines, r.lines) << (asBytes ? "as bytes: " : "with reads that find nothing yet: ")
                                    << ::testing::PrintToString(blocks);
    EXPECT_EQ(other.end, r.end);
    EXPECT_EQ(other.lastError, r.lastError);
  }
  return r;
}

using testing::Utf16Be;
using testing::Utf16Le;

using Lines = std::vector<std::u16string>;

std::u16string Join(std::u16string head, const std::u16string& tail) { return head.append(tail); }

TEST(ReaderTest, LineEnds) {
  struct Case {
    std::vector<std::string> blocks;
    Lines lines;
  } cases[] = {
      {{"a\r\nb"}, {u"a", u"b"}},
      {{"a\n\n"}, {u"a", u""}},
      {{"a\rb"}, {u"a", u"b"}},
      {{"a\n\rb"}, {u"a", u"", u"b"}},  // LF CR: two line ends
      {{"x"}, {u"x"}},
      {{""}, {}},
      {{"\n"}, {u""}},
      {{std::string("a\0b\n\0", 5)}, {u"ab"}},  // zero bytes are dropped
      // ...also where they could make the text look like UTF-16 that has no line end.
      {{std::string("a\0b\nc\n", 6)}, {u"ab", u"c"}},
      {{std::string("a\0b\r\nc\r\n", 8)}, {u"ab", u"c"}},
      {{std::string(".\0./a\0./b\0./c\0", 14)}, {u"../a./b./c"}},  // file names ended by zero bytes
      {{"a\x1A"
        "b\n"},
       {u"a\x1A"
        "b"}},  // Ctrl-Z is an ordinary character
      // Blocks split at awkward places.
      {{"a\r", "\nb\n"}, {u"a", u"b"}},  // CR LF across two blocks is one line end
      {{"a\r", "b\n"}, {u"a", u"b"}},
      {{"a\r", "\r\n"}, {u"a", u""}},
      {{"a\r", "", "\nb"}, {u"a"}},  // a read of 0 bytes ends the input
      {{"ab", "cd", "e\nf", "g"}, {u"abcde", u"fg"}},
  };
  for (const Case& c : cases) {
    Reading r = Read(c.blocks);
    EXPECT_EQ(r.lines, c.lines) << ::testing::PrintToString(c.blocks);
    EXPECT_EQ(r.end, kEndOfInput);
  }
}

TEST(ReaderTest, Utf16InBothByteOrders) {
  const std::u16string text = u"a\u00E9\r\n\U0001F601z\n\nlast";
  const Lines lines = {u"a\u00E9", u"\U0001F601z", u"", u"last"};
  const std::string le = Utf16Le(text), be = Utf16Be(text);
  struct Case {
    std::vector<std::string> blocks;
    TextEncoding forced;
  } cases[] = {
      {{"\xFF\xFE" + le}, EncodingUndecided},
      {{"\xFE\xFF" + be}, EncodingUndecided},
      {{le}, EncodingUndecided},  // told by its zero bytes
      {{be}, EncodingUndecided},
      {{le}, EncodingUtf16LE},
      {{be}, EncodingUtf16BE},
      // A unit whose two bytes arrive in different blocks is joined.
      {{"\xFF\xFE" + le.substr(0, 3), le.substr(3, 4), le.substr(7)}, EncodingUndecided},
      {{"\xFE\xFF" + be.substr(0, 1), be.substr(1, 5), be.substr(6)}, EncodingUndecided},
      // CR in one block, LF in the next.
      {{"\xFF\xFE" + le.substr(0, 6), le.substr(6)}, EncodingUndecided},
      {{"\xFF\xFE" + le.substr(0, 7), le.substr(7)}, EncodingUndecided},
  };
  for (const Case& c : cases) {
    Reading r = Read(c.blocks, c.forced);
    EXPECT_EQ(r.lines, lines) << ::testing::PrintToString(c.blocks);
    EXPECT_EQ(r.end, kEndOfInput);
  }
}

// Without a signature, the first line's bytes with the unit that its line end belongs to
// tell UTF-16: also a first line of no 7-bit character, and characters that hold a CR or
// LF byte (U+4E0A) or zero bytes at both offsets (U+4E00, a blank). The same lines
// whatever bytes the first read holds. Random first lines of CJK characters hold each
// character U+xx0A and U+xx0D, whose CR or LF byte comes before any zero byte.
TEST(ReaderTest, Utf16WithoutSignatureWhateverTheFirstLine) {
  std::vector<std::u16string> texts = {u"\u4E2D\u6587\u6587\u672C\u6D4B\u8BD5\r\nok\r\n",
                                       u"\u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8\u3067\u3059\u3002\nok\n",
                                       u"\u4E00\u4E8C\u4E09 \u4E0B\u4E0A\r\nok\r\n",
                                       u"\u4E00\u4E00\nok\n",  // the line end shows the byte order
                                       u"\u8BF7\u4E0D\u8981\u5173\u95ED\u7A97\u53E3\n\u7B2C\u4E8C\u884C\nok\n"};
  std::mt19937 random(20261208);
  for (char16_t high = 0x4E; high <= 0x9F; ++high)
    for (char16_t low : {u'\n', u'\r'}) {
      std::u16string line(12, u'\0');
      for (char16_t& c : line) c = static_cast<char16_t>(0x4E00 + random() % 0x5200);
      line[random() % 12] = static_cast<char16_t>(high << 8 | low);
      texts.push_back(line + (random() % 2 ? u"\r\nok\r\n" : u"\nok\n"));
    }
  for (const std::u16string& text : texts) {
    const std::u16string first = text.substr(0, text.find_first_of(u"\r\n"));
    for (bool big : {false, true}) {
      const std::string bytes = big ? Utf16Be(text) : Utf16Le(text);
      for (size_t split = 1; split <= 2 * first.size() + 3; ++split) {
        Reading r = Read({bytes.substr(0, split), bytes.substr(split)});
        EXPECT_EQ(r.lines.front(), first) << (big ? "BE" : "LE") << ", first read of " << split;
        EXPECT_EQ(r.lines.back(), u"ok") << (big ? "BE" : "LE") << ", first read of " << split;
      }
    }
  }
}

// A first line whose line end is the last byte so far waits only briefly for the byte
// that could show it to be UTF-16; a line end at an odd offset, with no zero byte before
// it, not at all. Its lines come before the writer's next bytes.
TEST(ReaderTest, SlowWriterOfTheFirstLine) {
  struct Case {
    std::vector<std::string> blocks;  // the second one comes after a pause
    Lines lines;
  } cases[] = {
      {{"hi\n", "there\n"}, {u"hi", u"there"}},
      {{"hi\r", "\nthere\n"}, {u"hi", u"there"}},
      {{"caf\xC3\xA9\n", "\xC3\xA9\n"}, {u"caf\u00E9", u"\u00E9"}},
      {{"odd\n", "x\n"}, {u"odd", u"x"}},
      {{Utf16Be(u"\u4E2D\n"), Utf16Be(u"ok\n")}, {u"\u4E2D", u"ok"}},
      {{Utf16Le(u"\u4E2D\r\n"), Utf16Le(u"ok\n")}, {u"\u4E2D", u"ok"}},
      {{Utf16Le(u"\u4E0A\u6D77\r\n"), Utf16Le(u"ok\n")}, {u"\u4E0A\u6D77", u"ok"}},
      {{Utf16Be(u"\u4E0D\r\n"), Utf16Be(u"ok\n")}, {u"\u4E0D", u"ok"}},
  };
  for (const Case& c : cases) {
    auto* t = new TestReader(c.blocks);
    t->script.late = 1;
    const int32_t n = ReadPipeLine(&t->reader, t->line);
    ASSERT_GE(n, 0) << ::testing::PrintToString(c.blocks);
    EXPECT_EQ(std::u16string(t->line, static_cast<size_t>(n)), c.lines[0]) << ::testing::PrintToString(c.blocks);
    EXPECT_EQ(t->script.feed.next, 1u) << "the first line waited for the next block";
    Lines rest;
    for (int32_t m; (m = ReadPipeLine(&t->reader, t->line)) >= 0;) rest.emplace_back(t->line, static_cast<size_t>(m));
    EXPECT_EQ(rest, Lines(c.lines.begin() + 1, c.lines.end()));
    delete t;
  }
  // A pause between the two bytes of a UTF-16 line end: what came before it decides.
  const std::string bytes = Utf16Le(u"h\u00E9llo \U0001F600\r\nok\n");
  auto* u = new TestReader({bytes.substr(0, 17), bytes.substr(17)});
  u->script.late = 1;
  Lines lines;
  for (int32_t m; (m = ReadPipeLine(&u->reader, u->line)) >= 0;) lines.emplace_back(u->line, static_cast<size_t>(m));
  EXPECT_EQ(lines, (Lines{u"h\u00E9llo \U0001F600", u"ok"}));
  delete u;
  // A writer of 8-bit lines that keeps writing: the first line waits for no more than
  // what comes within the one short wait.
  TestReader t({"hi\n", "there\n", "more\n", "and more\n"});
  t.script.soon = 1;
  EXPECT_EQ(ReadPipeLine(&t.reader, t.line), 2);
  EXPECT_LE(t.script.feed.next, 2u);
}

TEST(ReaderTest, Utf16Details) {
  // Zero units are dropped.
  EXPECT_EQ(Read({Utf16Le(std::u16string(u"a\0b\n", 4))}, EncodingUtf16LE).lines, Lines{u"ab"});
  // A forced UTF-16 encoding keeps a byte-order mark as U+FEFF.
  EXPECT_EQ(Read({"\xFF\xFE" + Utf16Le(u"a")}, EncodingUtf16LE).lines, Lines{u"\uFEFFa"});
  // A UTF-8 signature wins over a forced UTF-16 encoding.
  EXPECT_EQ(Read({"\xEF\xBB\xBF"
                  "caf\xC3\xA9\n"},
                 EncodingUtf16LE)
                .lines,
            Lines{u"caf\u00E9"});
  // A CR LF pair cut where the units are taken from the block in turns (512 at a time).
  EXPECT_EQ(Read({"\xFF\xFE" + Utf16Le(std::u16string(511, u'a') + u"\r\nb")}).lines,
            (Lines{std::u16string(511, u'a'), u"b"}));
  // Input that ends inside a unit: the lone byte is shown, not lost.
  EXPECT_EQ(Read({Utf16Le(u"ab") + "c"}, EncodingUtf16LE).lines, Lines{u"ab\uFFFD"});
}

// NOLINTNEXTLINE(readability-function-size): its table of cases, until it moves out of the body
TEST(ReaderTest, ByteEncodings) {
  struct Case {
    std::vector<std::string> blocks;
    TextEncoding forced;
    uint32_t codePage;
    Lines lines;
  } cases[] = {
      {{"\xEF\xBB\xBF"
        "caf\xC3\xA9\n"},
       EncodingUndecided,
       0,
       {u"caf\u00E9"}},
      {{"caf\xC3\xA9\n"}, EncodingUndecided, 1252, {u"caf\u00E9"}},  // UTF-8 found wins over /CP
      {{"caf\xE9\n"}, EncodingUndecided, 1252, {u"caf\u00E9"}},
      {{"caf\xE9\n"}, EncodingUndecided, 437, {u"caf\u0398"}},
      {{"caf\xC3\xA9\n"}, EncodingCodePage, 1252, {u"caf\u00C3\u00A9"}},  // forced code page
      // A 7-bit first block decides nothing; the UTF-8 of the second one then does.
      {{"plain\n", "caf\xC3\xA9\n"}, EncodingUndecided, 0, {u"plain", u"caf\u00E9"}},
      // A UTF-8 sequence split between two blocks.
      {{"caf\xC3\xA9 ok \xC3", "\xA9\n"}, EncodingUndecided, 0, {u"caf\u00E9 ok \u00E9"}},
      {{"\x82\xA0\n"}, EncodingCodePage, 932, {u"\u3042"}},
      {{"\x82", "\xA0\n"}, EncodingCodePage, 932, {u"\u3042"}},
      // Bytes that a code page leaves undefined are kept as Windows keeps them; a byte
      // that it does not map takes no neighbour with it: not a line end, not a blank.
      {{"hello\x81world\n"}, EncodingUndecided, 1258, {u"hello\u0081world"}},
      {{"\xF9\xEC\xE5\xED\xFB!\n"}, EncodingUndecided, 1255, {u"\u05E9\u05DC\u05D5\u05DD\uF894!"}},
      {{"a\x81\nb\n"}, EncodingCodePage, 932, {u"a\uFFFD", u"b"}},
      {{"a\x81 z\r\n"}, EncodingCodePage, 932, {u"a\uFFFD z"}},
      {{"a\x81", "\r\nb\n"}, EncodingCodePage, 949, {u"a\uFFFD", u"b"}},
      {{"\xA1\x20\xA1\x40\n"}, EncodingCodePage, 950, {u"\uFFFD \u3000"}},
      // Each line of 8-bit text is UTF-8 when it is well-formed UTF-8, else code-page text,
      // in either order, across blocks; a line that ends inside a sequence is not UTF-8.
      {{"caf\xE9\nh\xC3\xA9llo\n"}, EncodingUndecided, 1252, {u"caf\u00E9", u"h\u00E9llo"}},
      {{"h\xC3\xA9llo\ncaf\xE9\n"}, EncodingUndecided, 1252, {u"h\u00E9llo", u"caf\u00E9"}},
      {{"h\xC3", "\xA9llo\ncaf", "\xE9\nn\xC3\xA9", "e\xE9\n"},
       EncodingUndecided,
       1252,
       {u"h\u00E9llo", u"caf\u00E9", u"n\u00C3\u00A9e\u00E9"}},
      {{"ok \xC3\nok \xC3\xA9\n"}, EncodingUndecided, 1252, {u"ok \u00C3", u"ok \u00E9"}},
      {{"h\xC3\xA9llo\n" + std::string(8192, 'x') + "\ncaf\xE9\n"},  // a first read of a whole block
       EncodingUndecided,
       1252,
       {u"h\u00E9llo", std::u16string(8192, u'x'), u"caf\u00E9"}},
      {{"\x82\xA0\n\xE4\xB8\xAD\n\x82\xA0\n"}, EncodingUndecided, 932, {u"\u3042", u"\u4E2D", u"\u3042"}},
      // A name for the input is kept for every line: a forced UTF-8, a signature.
      {{"h\xC3\xA9llo\ncaf\xE9\n"}, EncodingUtf8, 0, {u"h\u00E9llo", u"caf\uFFFD"}},
      {{"\xEF\xBB\xBF"
        "caf\xE9\n"},
       EncodingUndecided,
       1252,
       {u"caf\uFFFD"}},
      // UTF-8 is still told after a first line of ASCII in a double-byte code page.
      {{"Build started\r\n\xE4\xB8\xAD\xE6\x96\x87 ok\r\n"},
       EncodingUndecided,
       932,
       {u"Build started", u"\u4E2D\u6587 ok"}},
      // Line ends that only the decoded text shows.
      {{"\x88\x89\x25\x88\x0D\x25", "\x0A"}, EncodingUndecided, 37, {u"hi", u"h", u"\u008E"}},
      {{"+AGEACgBi-\n+AGM", "-"}, EncodingUndecided, 65000, {u"a", u"b", u"c"}},
      // A byte that is no base64 digit ends a UTF-7 run and stands for itself, one from 80
      // too (as Windows reads it): the bytes after it, and the line end, read as before.
      {{"a+////\x98qq\nb\n"}, EncodingUndecided, 65000, {u"a\uFFFF\u0098qq", u"b"}},
      {{"+AGE", "AYQ-+-x+", "AGI\r\n+"}, EncodingUndecided, 65000, {u"aa+x\u0062"}},
      // The bits left when a byte from 80 ends a run go on in the next run (Windows too).
      {{"+AG\x98+AE-x\n"}, EncodingUndecided, 65000, {u"\u0098`x"}},
  };
  for (const Case& c : cases) {
    Reading r = Read(c.blocks, c.forced, c.codePage);
    EXPECT_EQ(r.lines, c.lines) << ::testing::PrintToString(c.blocks);
  }
}

// 7-bit lines are widened in groups of eight units: every length around those groups,
// starting anywhere in the block, in blocks of every size, comes back whole and
// terminated right after its last unit.
TEST(ReaderTest, PlainLinesOfEveryLengthAndPlace) {
  std::string input;
  Lines expected;
  for (size_t length = 0; length <= 40; ++length) {
    std::string line;
    for (size_t i = 0; i < length; ++i) line += static_cast<char>(i % 7 == 3 ? '\t' : 'a' + (length + i) % 26);
    input += line + (length % 3 ? "\n" : "\r\n");
    expected.emplace_back(line.begin(), line.end());
  }
  for (size_t blockSize : {1u, 7u, 8u, 15u, 16u, 17u, 8192u}) {
    std::vector<std::string> blocks;
    for (size_t at = 0; at < input.size(); at += blockSize) blocks.push_back(input.substr(at, blockSize));
    auto* t = new TestReader(blocks);
    std::memset(t->line, 0x55, sizeof t->line);  // no zero left behind from before
    Lines lines;
    for (int32_t n; (n = ReadPipeLine(&t->reader, t->line)) >= 0;) {
      EXPECT_EQ(t->line[n], 0) << "terminator, line " << lines.size() << ", blocks of " << blockSize;
      lines.emplace_back(t->line, static_cast<size_t>(n));
    }
    EXPECT_EQ(lines, expected) << "blocks of " << blockSize;
    delete t;
  }
}

// NOLINTNEXTLINE(readability-function-size): its table of cases, until it moves out of the body
TEST(ReaderTest, LongLinesSplitBetweenCharacters) {
  const std::string a32766(32766, 'a'), a32765(32765, 'a');
  struct Case {
    std::vector<std::string> blocks;
    TextEncoding forced;
    uint32_t codePage;
    Lines lines;
  } cases[] = {
      {{std::string(40000, 'x')}, EncodingUndecided, 0, {std::u16string(32767, u'x'), std::u16string(7233, u'x')}},
      {{std::string(32767, 'x') + "\ny\n"}, EncodingUndecided, 0, {std::u16string(32767, u'x'), u"y"}},
      {{std::string(32767, 'x') + "\r\ny"}, EncodingUndecided, 0, {std::u16string(32767, u'x'), u"y"}},
      {{std::string(32767, 'x'), "\r", "\ny"}, EncodingUndecided, 0, {std::u16string(32767, u'x'), u"y"}},
      {{std::string(32767, 'x') + "\n\n"}, EncodingUndecided, 0, {std::u16string(32767, u'x'), u""}},
      // Zero bytes, which are dropped, leave the line end after a split its own.
      {{std::string(32767, 'x') + std::string("\0\r\0", 3), std::string("\ny", 2)},
       EncodingUndecided,
       0,
       {std::u16string(32767, u'x'), u"", u"y"}},
      {{std::string(32767, 'x') + std::string("\0\0\r\ny", 6)},
       EncodingUndecided,
       0,
       {std::u16string(32767, u'x'), u"y"}},
      // A UTF-8 character that would cross the limit starts the next line.
      {{a32766 + "\xC3\xA9" + "b\n"}, EncodingUtf8, 0, {std::u16string(32766, u'a'), u"\u00E9b"}},
      {{a32765 + "\xE2\x82\xAC\xE2\x82\xAC\n"}, EncodingUtf8, 0, {std::u16string(32765, u'a'), u"\u20AC\u20AC"}},
      {{"\xC3\xA9" + std::string(32763, 'a') + "\xF0\x9F\x98\x80\n"},
       EncodingUndecided,
       0,
       {Join(u"\u00E9", std::u16string(32763, u'a')), u"\U0001F600"}},
      // ...and the lines after it are each read by their own bytes.
      {{a32766 + "\xC3\xA9" + "b\ncaf\xE9\n"},
       EncodingUndecided,
       1252,
       {std::u16string(32766, u'a'), u"\u00E9b", u"caf\u00E9"}},
      // A double-byte character too, also when its trail byte looks like a lead byte.
      {{a32766 + "\x82\xA0\n"}, EncodingCodePage, 932, {std::u16string(32766, u'a'), u"\u3042"}},
      {{a32765 + "\x81\x81\x81\x81\n"}, EncodingCodePage, 932, {std::u16string(32765, u'a') + u"\uFF1D", u"\uFF1D"}},
      {{"\x81\x81" + a32765 + "\x81\x81\n"},
       EncodingCodePage,
       932,
       {Join(u"\uFF1D", std::u16string(32765, u'a')), u"\uFF1D"}},
      // A line of bytes that are no UTF-8, each shown as U+FFFD: every one of them comes.
      {{std::string(32767, '\xFF') + "\n"}, EncodingUtf8, 0, {std::u16string(32767, u'\uFFFD')}},
      // A base character and the combining mark after it, each a character of its own
      // (Windows composes nothing): a mark past the limit begins the next piece.
      {{a32766 + "\xED\xC4\nb\n"}, EncodingCodePage, 1255, {std::u16string(32766, u'a') + u"\u05DD", u"\u05B4", u"b"}},
      {{a32766 + "\xED"}, EncodingCodePage, 1255, {std::u16string(32766, u'a') + u"\u05DD"}},
      {{a32766 + "o\xCC\n"}, EncodingCodePage, 1258, {std::u16string(32766, u'a') + u"o", u"\u0300"}},
      // A lead byte without its pair at the limit; a UTF-7 run.
      {{a32766 + "\xA4\xA2"
                 "END\n"},
       EncodingCodePage,
       20932,
       {std::u16string(32766, u'a'), u"\u3042END"}},
      {{std::string(32760, '-') + "+AGEAYgBjAGQAZQBmAGc-\n"},
       EncodingUndecided,
       65000,
       {std::u16string(32760, u'-') + u"abcdefg"}},
  };
  for (const Case& c : cases) {
    Reading r = Read(c.blocks, c.forced, c.codePage);
    ASSERT_EQ(r.lines.size(), c.lines.size()) << c.blocks[0].substr(c.blocks[0].size() - 8);
    for (size_t i = 0; i < c.lines.size(); ++i)
      EXPECT_TRUE(r.lines[i] == c.lines[i]) << "line " << i << ": " << r.lines[i].size() << " units, last "
                                            << int(r.lines[i].empty() ? 0 : r.lines[i].back());
  }
}

TEST(ReaderTest, LongUtf16LinesKeepSurrogatePairsWhole) {
  std::u16string a(32766, u'a');
  Reading r = Read({"\xFF\xFE" + Utf16Le(a + u"\U0001F600b\n")});
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_TRUE(r.lines[0] == a);
  EXPECT_TRUE(r.lines[1] == u"\U0001F600b");
  r = Read({"\xFF\xFE" + Utf16Le(std::u16string(32767, u'x') + u"\r\ny")});
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_TRUE(r.lines[1] == u"y");
  r = Read({"\xFF\xFE" + Utf16Le(std::u16string(32767, u'x') + std::u16string(u"\0\r\ny", 4))});
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_TRUE(r.lines[1] == u"y");
}

TEST(ReaderTest, ReadErrors) {
  // A failure mid-line: the partial line first, then the failure.
  Reading r = Read({"one\ntw", "o"}, EncodingUndecided, 0, 5);
  EXPECT_EQ(r.lines, (Lines{u"one", u"two"}));
  EXPECT_EQ(r.end, -1);
  EXPECT_EQ(r.lastError, 5u);
  r = Read({"\xFF\xFE" + Utf16Le(u"one\ntw")}, EncodingUndecided, 0, 5);
  EXPECT_EQ(r.lines, (Lines{u"one", u"tw"}));
  EXPECT_EQ(r.end, -1);
  // A failure between lines.
  r = Read({"one\n"}, EncodingUndecided, 0, 5);
  EXPECT_EQ(r.lines, Lines{u"one"});
  EXPECT_EQ(r.end, -1);
  // A writer that closed its end is the ordinary end of the input.
  r = Read({"one\ntwo"}, EncodingUndecided, 0, kErrorBrokenPipe);
  EXPECT_EQ(r.lines, (Lines{u"one", u"two"}));
  EXPECT_EQ(r.end, kEndOfInput);
  EXPECT_EQ(r.lastError, kErrorBrokenPipe);
}

TEST(ReaderTest, NeverReadsAheadOfTheLineAndStopsAtTheEnd) {
  TestReader t({"a\nb\n", "c\n"});
  t.script.late = 1;  // the first line's sample takes only the bytes that have come
  EXPECT_EQ(ReadPipeLine(&t.reader, t.line), 1);
  EXPECT_EQ(ReadPipeLine(&t.reader, t.line), 1);
  EXPECT_EQ(t.script.feed.reads, 1);  // both lines came from the first block
  EXPECT_EQ(ReadPipeLine(&t.reader, t.line), 1);
  EXPECT_EQ(ReadPipeLine(&t.reader, t.line), kEndOfInput);
  int reads = t.script.feed.reads;
  EXPECT_EQ(ReadPipeLine(&t.reader, t.line), kEndOfInput);
  EXPECT_EQ(t.script.feed.reads, reads);  // no read after the end

  // Nor after a failed read: a UTF-16 byte left without its pair before it shows.
  TestReader f({"\xFF\xFE" + Utf16Le(u"ab") + "c"}, EncodingUndecided, 0, 5);
  EXPECT_EQ(ReadPipeLine(&f.reader, f.line), 3);
  EXPECT_EQ(f.line[2], u'\uFFFD');
  reads = f.script.feed.reads;
  EXPECT_EQ(ReadPipeLine(&f.reader, f.line), -1);
  EXPECT_EQ(ReadPipeLine(&f.reader, f.line), -1);
  EXPECT_EQ(f.script.feed.reads, reads);
}

TEST(ReaderTest, MissingPartsAndInvalidHandles) {
  char16_t line[kLineCapacity];
  EXPECT_EQ(ReadPipeLine(nullptr, line), -1);
  TestReader t({"a\n"});
  EXPECT_EQ(ReadPipeLine(&t.reader, nullptr), -1);

  static uint8_t block[kPipeBlockBytes], lineBytes[kLineCapacity];
  PipeReader reader;
  SetUpPipeReader(&reader, nullptr, block, kPipeBlockBytes, lineBytes, EncodingUndecided, 0);
  EXPECT_EQ(ReadPipeLine(&reader, line), -1);
  EXPECT_EQ(reader.lastError, kErrorInvalidHandle);
}

}  // namespace
}  // namespace horalin

namespace horalin {
namespace {

// Input that a slow writer hands over a few bytes at a time.
std::vector<std::string> Bytewise(const std::string& bytes, size_t size = 1) {
  std::vector<std::string> blocks;
  for (size_t i = 0; i < bytes.size(); i += size) blocks.push_back(bytes.substr(i, size));
  return blocks;
}

TEST(ReaderTest, SmallBlocksDecideAsOneBlockWould) {
  const std::u16string text = u"caf\u00E9 \u20AC\r\n\U0001F601";
  const Lines lines = {u"caf\u00E9 \u20AC", u"\U0001F601"};
  const std::string utf8 = U8(text);
  struct Case {
    std::vector<std::string> blocks;
    TextEncoding forced;
  } cases[] = {
      // A signature cut by the end of the first read is still told.
      {Bytewise("\xFF\xFE" + Utf16Le(text)), EncodingUndecided},
      {Bytewise("\xFE\xFF" + Utf16Be(text)), EncodingUndecided},
      {Bytewise("\xEF\xBB\xBF" + utf8), EncodingUndecided},
      {Bytewise("\xEF\xBB\xBF" + utf8, 2), EncodingUndecided},
      {Bytewise("\xEF\xBB\xBF" + utf8), EncodingCodePage},  // it wins over a forced encoding
      // UTF-8 whose sequences no single block holds whole: told by the line's bytes.
      {Bytewise(utf8), EncodingUndecided},
      {Bytewise(utf8, 2), EncodingUndecided},
  };
  for (const Case& c : cases) {
    Reading r = Read(c.blocks, c.forced);
    EXPECT_EQ(r.lines, lines) << ::testing::PrintToString(c.blocks);
    EXPECT_EQ(r.end, kEndOfInput);
  }
  // UTF-16 without a signature, with characters that have a zero low byte (U+4E00,
  // U+0100, the second half of U+1F600): the same lines whatever the first read held.
  const std::u16string wide = u"h\u00E9llo \U0001F600\r\nw\u4E00\u0100\r\n";
  const Lines wideLines = {u"h\u00E9llo \U0001F600", u"w\u4E00\u0100"};
  for (const std::string& bytes : {Utf16Le(wide), Utf16Be(wide), Utf16Le(wide.substr(10)), Utf16Be(wide.substr(10))})
    for (size_t first : {1u, 2u, 5u, 13u, 14u, 15u, 16u, 100u}) {
      std::vector<std::string> blocks = {bytes.substr(0, first)};
      for (const std::string& b : Bytewise(bytes.size() > first ? bytes.substr(first) : "", 3)) blocks.push_back(b);
      const Lines expected = bytes.size() == 2 * wide.size() ? wideLines : Lines{wideLines[1]};
      EXPECT_EQ(Read(blocks).lines, expected) << ::testing::PrintToString(blocks);
    }
  // A first line that is decided with the byte after its line end: a zero byte in it
  // could make it UTF-16.
  EXPECT_EQ(Read(Bytewise(std::string("a\0b\n\0c\n", 7))).lines, (Lines{u"ab", u"c"}));
  // A first read that is a cut signature and nothing more: those bytes, then the end or
  // the failure.
  EXPECT_EQ(Read({"\xEF\xBB"}).lines, Lines{U16("\xC3\xAF\xC2\xBB")});  // "ï»" in the code page
  Reading r = Read({"\xFF"}, EncodingUndecided, 0, 5);
  EXPECT_EQ(r.lines, Lines{u"\u00FF"});
  EXPECT_EQ(r.end, -1);
  EXPECT_EQ(r.lastError, 5u);
}

// ---- Every code page against its whole conversion -----------------------------------

TEST(ReaderTest, EveryCodePageReadsAsItsWholeConversion) {
  std::mt19937 random(20261207);
  std::vector<uint32_t> codePages;
  for (uint32_t codePage = 1; codePage < 70000; ++codePage)
    if (IsCodePageSupported(codePage)) codePages.push_back(codePage);
  EXPECT_GE(codePages.size(), 55u);
  for (uint32_t codePage : codePages) EXPECT_EQ(testing::CheckCodePageReading(codePage, random), "") << codePage;
}

}  // namespace
}  // namespace horalin
