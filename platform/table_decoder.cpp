#include "platform/table_decoder.h"

#include <cstring>

#include "common/utf.h"

namespace horalin::platform {

namespace {

// Room for every code page of one byte a character, and for a dozen with lead bytes: a
// slot keeps its table, idle, for the next decoder of the code page (filling one costs
// the system 33,000 conversions for a double-byte code page); one idle for longest gives
// way when the room is used up.
constexpr int kTableSlots = 128, kPairSlots = 12;
CodePageTable Tables[kTableSlots];
PairRows Pairs[kPairSlots];
CodePageTable* PairOwners[kPairSlots];
uint32_t Openings = 0;

// What no backend's conversion may change: a zero byte, CR and LF are never the second
// byte of a pair, so that lines can be told in the bytes; a lead byte without one pair
// is none. Then whether the table keeps ASCII.
void SettleTable(CodePageTable* t) {
  t->keepsAscii = true;
  for (unsigned b = 0; b < 256; ++b) {
    if (t->lead[b] && !t->pairs) t->lead[b] = false;
    if (t->lead[b]) {
      char16_t* row = (*t->pairs)[b - 0x80];
      row[0] = row[0x0A] = row[0x0D] = kBadCell;  // zero, LF, CR
      bool any = false;
      for (unsigned second = 0; second < 256 && !any; ++second) any = row[second] != kBadCell;
      t->lead[b] = any;
    }
    const char16_t unit = t->single[b];
    if (b >= 1 && b < 0x80 && (unit != b || t->lead[b])) t->keepsAscii = false;
    if (b >= 0x80 && !t->lead[b] && (unit == 0 || unit == '\r' || unit == '\n')) t->keepsAscii = false;
  }
}

}  // namespace

bool TakePairRows(CodePageTable* table) {
  int pick = -1;
  for (int i = 0; i < kPairSlots; ++i) {
    const CodePageTable* owner = PairOwners[i];
    if (!owner || owner->pairs != &Pairs[i]) {
      pick = i;  // never taken, or given up by its table
      break;
    }
    if (owner->users == 0 && (pick < 0 || owner->lastUse < PairOwners[pick]->lastUse)) pick = i;
  }
  if (pick < 0) return false;
  if (CodePageTable* owner = PairOwners[pick]; owner && owner->pairs == &Pairs[pick]) {
    owner->codePage = 0;  // its table is filled again on its next use
    owner->pairs = nullptr;
  }
  PairOwners[pick] = table;
  table->pairs = &Pairs[pick];
  return true;
}

CodePageTable* AcquireCodePageTable(uint32_t codePage, FillCodePageTable fill) {
  CodePageTable* pick = nullptr;
  for (CodePageTable& t : Tables) {
    if (t.codePage == codePage && codePage != 0) {
      pick = &t;
      break;
    }
    if (t.users == 0 && (!pick || t.codePage == 0 || (pick->codePage != 0 && t.lastUse < pick->lastUse))) pick = &t;
  }
  if (!pick) return nullptr;
  if (pick->codePage != codePage) {
    pick->codePage = 0;
    pick->pairs = nullptr;
    std::memset(pick->lead, 0, sizeof pick->lead);
    for (char16_t& unit : pick->single) unit = kBadCell;
    if (!fill(codePage, pick)) {
      pick->pairs = nullptr;
      return nullptr;
    }
    for (unsigned b = 0; b < 0x80; ++b) pick->lead[b] = false;
    pick->lead[0xFF] = false;
    SettleTable(pick);
    pick->codePage = codePage;
  }
  ++pick->users;
  pick->lastUse = ++Openings;
  return pick;
}

void ReleaseCodePageTable(CodePageTable* table) {
  if (table && table->users > 0) --table->users;
}

size_t DecodeWithTable(const CodePageTable& table, const char* bytes, size_t count, size_t* used, char16_t* out,
                       size_t capacity, bool final) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  size_t i = 0, n = 0;
  while (i < count && n < capacity) {
    const unsigned char b = in[i];
    if (!table.lead[b]) {
      out[n++] = table.single[b];
      ++i;
    } else if (i + 1 < count) {
      const char16_t unit = (*table.pairs)[b - 0x80][in[i + 1]];
      out[n++] = unit;
      i += unit == kBadCell ? 1 : 2;
    } else {
      if (!final) break;
      out[n++] = kBadCell;
      ++i;
    }
  }
  *used = i;
  return n;
}

namespace {
constexpr uint32_t kUtf8 = 65001, kUtf7 = 65000;
}  // namespace

bool OpenSharedDecoder(ByteDecoder* decoder, uint32_t codePage, FillCodePageTable fill) {
  *decoder = ByteDecoder{};
  if (codePage == kUtf8 || codePage == kUtf7) {
    *decoder = {codePage, codePage == kUtf7 ? 0 : -1, nullptr, codePage == kUtf8};
    return true;
  }
  CodePageTable* table = AcquireCodePageTable(codePage, fill);
  if (!table) return false;
  *decoder = {codePage, -1, table, table->keepsAscii};
  return true;
}

void CloseSharedDecoder(ByteDecoder* decoder) {
  if (decoder->converter) ReleaseCodePageTable(static_cast<CodePageTable*>(decoder->converter));
  *decoder = ByteDecoder{};
}

bool DecodeShared(ByteDecoder* decoder, const char* bytes, size_t count, size_t* used, char16_t* out, size_t capacity,
                  bool final, size_t* units) {
  if (decoder->codePage == kUtf8) {
    *units = DecodeUtf8(bytes, count, out, capacity, final, used);
  } else if (decoder->codePage == kUtf7) {
    auto state = static_cast<uint32_t>(decoder->slot);
    *units = DecodeUtf7(&state, bytes, count, out, capacity, final, used);
    decoder->slot = static_cast<int32_t>(state);
  } else if (decoder->converter) {
    *units = DecodeWithTable(*static_cast<const CodePageTable*>(decoder->converter), bytes, count, used, out, capacity,
                             final);
  } else {
    return false;
  }
  return true;
}

size_t Gb18030CutLength(const char* bytes, size_t count) {
  size_t i = 0, start = 0;
  while (i < count) {
    start = i;
    const auto b = static_cast<unsigned char>(bytes[i]);
    size_t size = b >= 0x81 && b <= 0xFE ? 2 : 1;
    if (size == 2 && i + 1 < count && bytes[i + 1] >= '0' && bytes[i + 1] <= '9') size = 4;
    i += size;
  }
  return i > count ? count - start : 0;
}

// A whole text at once, through the backend's own decoder: the same in both backends.
size_t WideFromMultiByte(uint32_t codePage, const char* bytes, size_t count, char16_t* out, size_t capacity,
                         uint32_t* error) {
  ByteDecoder decoder;
  if (!OpenByteDecoder(&decoder, codePage)) {
    *error = kErrorInvalidParameter;
    return 0;
  }
  size_t used = 0;
  const size_t units = DecodeBytes(&decoder, bytes, count, &used, out, capacity, true);
  CloseByteDecoder(&decoder);
  return units;
}

}  // namespace horalin::platform
