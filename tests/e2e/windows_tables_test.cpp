// The Windows library's export and import tables, its version resource, and the
// programs' independence from the compiler's runtime libraries.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "common/version.h"
#include "tests/e2e/process.h"

namespace horalin::e2e {
namespace {

std::string Dump(const std::string& file) {
  Result r = RunProgram({"/usr/bin/x86_64-w64-mingw32-objdump", "-p", WindowsBuildDir() + "/" + file});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// The names listed under "DLL Name: <dll>" in an import table dump.
std::set<std::string> ImportsFrom(const std::string& dump, const std::string& dll) {
  std::set<std::string> names;
  size_t at = dump.find("DLL Name: " + dll + "\n");
  if (at == std::string::npos) return names;
  std::istringstream lines(dump.substr(at));
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);  // column heads
  std::regex entry(R"(^\s+[0-9a-f]+\s+\d+\s+(\S+)\s*$)");
  std::smatch m;
  while (std::getline(lines, line) && std::regex_match(line, m, entry)) names.insert(m[1]);
  return names;
}

std::set<std::string> DllNames(const std::string& dump) {
  std::set<std::string> names;
  std::regex entry(R"(DLL Name: (\S+))");
  for (std::sregex_iterator i(dump.begin(), dump.end(), entry), end; i != end; ++i) names.insert((*i)[1]);
  return names;
}

class WindowsBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UnderWine()) GTEST_SKIP() << "for the Windows build";
  }
};

// The seven that the shell calls, and StampCommand, RestampLog, DateLine and the input
// lines' three for horalin.exe's run, restamp and datefmt --lines.
TEST_F(WindowsBuild, ExportsExactlyTheHostsFunctionsAndTheRunCommand) {
  std::string dump = Dump("Horalin.dll");
  EXPECT_NE(dump.find("Name \t\t\t\t"), std::string::npos);
  std::regex internal(R"(\nName \s+[0-9a-f]+ (\S+)\n)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(dump, m, internal));
  EXPECT_EQ(m[1], "Horalin.dll");
  std::set<std::string> exports;
  std::regex entry(R"(\n\s+\[\s*\d+\] (\w+)(?=\n))");
  size_t table = dump.find("[Ordinal/Name Pointer] Table");
  ASSERT_NE(table, std::string::npos);
  std::string names = dump.substr(table);
  for (std::sregex_iterator i(names.begin(), names.end(), entry), end; i != end; ++i) exports.insert((*i)[1]);
  EXPECT_EQ(exports, (std::set<std::string>{"CloseInputLines", "DateLine", "GetPluginInfo", "Help", "InitializePlugin",
                                            "OpenInputLines", "ReadInputLine", "RestampLog", "ShutdownPlugin",
                                            "StampCommand", "Usage", "f_datefmt", "ts"}));
}

TEST_F(WindowsBuild, ImportsTheFiveHostFunctions) {
  EXPECT_EQ(ImportsFrom(Dump("Horalin.dll"), "TakeCmd.dll"),
            (std::set<std::string>{"ExpandVariables", "Printf", "QPuts", "Qprintf", "QueryTrueName"}));
}

TEST_F(WindowsBuild, NeedsNoCompilerRuntime) {
  for (const char* file : {"Horalin.dll", "horalin.exe", "host/TakeCmd.dll"}) {
    for (const std::string& dll : DllNames(Dump(file))) {
      EXPECT_EQ(dll.find("libgcc"), std::string::npos) << file << " needs " << dll;
      EXPECT_EQ(dll.find("libstdc++"), std::string::npos) << file << " needs " << dll;
      EXPECT_EQ(dll.find("libwinpthread"), std::string::npos) << file << " needs " << dll;
    }
  }
}

TEST_F(WindowsBuild, CarriesVersionResourceAndManifest) {
  Result r = RunProgram({"/usr/bin/strings", "-el", WindowsBuildDir() + "/Horalin.dll"});
  for (const char* text :
       {"FileDescription", "Horalin plugin for Take Command", HORALIN_VERSION_TEXT, "OriginalFilename", "Horalin.dll",
        "ProductName", "Horalin plugin", HORALIN_PRODUCT_VERSION_TEXT, "Built On", "040904b0"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text;
  Result ascii = RunProgram({"/usr/bin/strings", WindowsBuildDir() + "/Horalin.dll"});
  EXPECT_NE(ascii.out.find("requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
}

}  // namespace
}  // namespace horalin::e2e
