// Code pages of one or two bytes a character, decoded through a table of every byte and
// every pair: both backends fill the same table (the Win32 one from the system's own
// conversion, the POSIX one from the C library's and a list of corrections), and read
// text with it by the same rules.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace horalin::platform {

// The cell of a byte, or of a lead byte and the byte after it, that the code page does
// not map. Such a byte shows as U+FFFD; after a lead byte, the next byte is read on its
// own (it may begin a character).
constexpr char16_t kBadCell = 0xFFFD;

using PairRows = char16_t[128][256];  // [lead byte - 80][second byte]; lead bytes are 81 to FE

struct CodePageTable {
  uint32_t codePage;  // 0: a free slot
  int32_t users;      // decoders open on it
  uint32_t lastUse;   // when it was last opened (a count of openings)
  bool keepsAscii;    // see ByteDecoder
  bool lead[256];     // begins a character of two bytes
  char16_t single[256];
  PairRows* pairs;  // for a code page with lead bytes, from TakePairRows
};

// Fills `table` for the code page: the single bytes, and for each lead byte its pairs
// with lead[] set, in rows taken first. False when the code page is not one the table
// can decode.
using FillCodePageTable = bool (*)(uint32_t codePage, CodePageTable* table);

// Rows for the pairs of the table being filled; false when all are in use.
bool TakePairRows(CodePageTable* table);

// The table of the code page, kept from an earlier use or filled now; null when `fill`
// refuses the code page or every slot is in use. Each table acquired is released.
CodePageTable* AcquireCodePageTable(uint32_t codePage, FillCodePageTable fill);
void ReleaseCodePageTable(CodePageTable* table);

// Converts up to `count` bytes into at most `capacity` units: one unit a cell. Stops
// before a lead byte that the bytes end with, unless `final`, where it shows as U+FFFD.
// *used receives the bytes taken.
size_t DecodeWithTable(const CodePageTable& table, const char* bytes, size_t count, size_t* used, char16_t* out,
                       size_t capacity, bool final);

// ---- What both backends decode alike ----------------------------------------------

// Opens a decoder for UTF-8 or UTF-7, read by our own decoders (UTF-7 keeps its run in
// the decoder's slot), or for a code page of a table that `fill` fills (the table in the
// decoder's converter). False when the code page is none of them, or `fill` refuses it.
bool OpenSharedDecoder(ByteDecoder* decoder, uint32_t codePage, FillCodePageTable fill);
// Lets go of a decoder's table, if it has one.
void CloseSharedDecoder(ByteDecoder* decoder);
// Decodes with a decoder that OpenSharedDecoder opened, as DecodeBytes does, into
// *units; false for any other decoder.
bool DecodeShared(ByteDecoder* decoder, const char* bytes, size_t count, size_t* used, char16_t* out, size_t capacity,
                  bool final, size_t* units);

// GB18030 (54936), which both backends read through the system's conversion: the bytes at
// the end that begin a character and lack its last bytes, where the lead bytes tell where
// characters begin, from the first byte (81 to FE and a digit begin four bytes, 81 to FE
// and any other byte two).
inline constexpr uint32_t kGb18030 = 54936;
size_t Gb18030CutLength(const char* bytes, size_t count);

}  // namespace horalin::platform
