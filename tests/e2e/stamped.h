// What the end-to-end tests of the commands that stamp lines (ts, run, restamp) share: a
// command run with its input and environment, and the stamped lines of its output read back.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/process.h"

namespace horalin::e2e {

using Strings = std::vector<std::string>;

inline const std::string kFull = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";
inline const std::string kDate = R"(\d{4}-\d\d-\d\d)";
inline const std::string kTime = R"(\d\d:\d\d:\d\d\.\d{3})";
inline const std::string kElapsed = R"(\d\d:\d\d:\d\d\.\d{3})";

#define POSIX_ONLY() \
  if (UnderWine()) GTEST_SKIP() << "the Windows build runs a smaller set"

// One of the program's commands, with its arguments, standard input and environment.
inline Result Command(const char* name, const Strings& args, const std::string& input,
                      std::vector<std::pair<std::string, std::string>> env) {
  Strings all = {name};
  all.insert(all.end(), args.begin(), args.end());
  Options options;
  options.input = input;
  options.env = std::move(env);
  return Horalin(all, options);
}

inline Strings SplitLines(const std::string& out) {
  Strings lines;
  size_t start = 0;
  for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(out.substr(start, end - start));
  EXPECT_EQ(start, out.size()) << "output does not end with a line end";
  return lines;
}

// The text after each stamp, the stamp matched by `stamp` and followed by one blank.
inline Strings TextsAfterStamps(const std::string& out, const std::string& stamp) {
  Strings texts;
  const std::regex head("(" + stamp + ") ");  // matched at the start only: lines may be long
  for (const std::string& l : SplitLines(out)) {
    std::smatch m;
    if (!std::regex_search(l, m, head, std::regex_constants::match_continuous)) {
      ADD_FAILURE() << "no stamp /" << stamp << "/ and blank in '" << l.substr(0, 80) << "'";
      continue;
    }
    texts.push_back(l.substr(static_cast<size_t>(m.length(0))));
  }
  return texts;
}

}  // namespace horalin::e2e
