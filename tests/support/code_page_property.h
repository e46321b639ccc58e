// The reader's property over a code page, shared by the unit tests and by the program
// that checks the Windows build under Wine: random text in the code page, read in blocks
// of random sizes, gives the lines of the whole text decoded at once, a line past the
// limit split only between characters.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace horalin::testing {

// The system's own conversion of the whole text, where it is to be matched: false where
// there is none to compare with.
using ReferenceConversion = bool (*)(uint32_t codePage, const std::string& bytes, std::u16string* text);

// Empty when the property holds (and the whole conversion is the reference's, if any);
// otherwise what failed.
std::string CheckCodePageReading(uint32_t codePage, std::mt19937& random, ReferenceConversion reference = nullptr);

}  // namespace horalin::testing
