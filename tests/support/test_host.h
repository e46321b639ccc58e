// The capturing host of the unit tests and the fuzz targets: it keeps what the plug-in
// writes, counts its error reports, and takes variables from a table that each test sets.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace horalin::testing {

// What the plug-in wrote since the last Reset, as UTF-8 (line ends unchanged).
std::string CapturedOutput();
std::string CapturedErrors();
// The last units written to standard output, at most `count`, without converting the rest.
std::u16string CapturedOutputTail(size_t count);
// The error reports since the last Reset, told by the plug-in's prefix that begins each.
size_t ErrorReports();
// Clears the captured text and sets the shell's variables; unset ones expand to nothing.
void ResetHost(std::vector<std::pair<std::string, std::string>> variables = {});

std::u16string U16(const std::string& utf8);
std::string U8(const std::u16string& text);

}  // namespace horalin::testing
