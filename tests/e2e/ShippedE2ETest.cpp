// The shipped shell, as built and as installed: a page finds no test
// service in it whatever the environment says, the binaries hold nothing
// of the tests' shell, and no installed file names the build folder (a
// place someone else may be able to write to, from which an installed
// program must never load anything).
#include "ProcessHelpers.h"
#include "ShellHarness.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

using corvane::e2e::ShellHarness;
using corvane::e2e::sh;
namespace fs = std::filesystem;

namespace {

std::string shq(const std::string& s) { return "'" + s + "'"; }

// Names only the tests' shell holds (its service, its hooks, its variables).
const char* const kTestOnly[] = {"TestService",      "testshell",      "CORVANE_TEST_", "answerNextPanel",
                                 "E2E-FORMAT-BOX",   "echoParams",     "callFromThread",
                                 "CORVANE_WEB_EXTENSIONS_DIR"};

void expectNoTestCode(const fs::path& binary) {
  SCOPED_TRACE(binary.string());
  const std::string quoted = shq(binary.string());
  const std::string text = sh("strings -a " + quoted + "; nm -C " + quoted + " 2>/dev/null");
  ASSERT_NE(text.find("shellMain"), std::string::npos) << "no symbols to look through";
  for (const char* name : kTestOnly) EXPECT_EQ(text.find(name), std::string::npos) << name;
}

// Runs `binary` on the probe page with the old switch set; answers the line
// the page logged.
std::string probe(const std::string& binary) {
  ShellHarness shell;
  shell.makeBundle(nlohmann::json::object(), CORVANE_E2E_SHIPPED_PAGES);
  auto env = shell.sessionEnv();
  env["CORVANE_E2E_BINARY"] = binary;
  env["CORVANE_TEST_SERVICES"] = "1";
  EXPECT_EQ(shell.run(env, 120), 0) << shell.log();
  const std::string log = shell.log();
  const auto at = log.find("shipped bridge: ");
  return at == std::string::npos ? "no line in\n" + log : log.substr(at, log.find('\n', at) - at);
}

class Shipped : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/corvane-shipped-XXXXXX";
    prefix = new std::string(mkdtemp(tmpl));
    installed = std::system((std::string(CORVANE_CMAKE) + " --install " + shq(CORVANE_BUILD_ROOT) + " --prefix " +
                             shq(*prefix) + " >/dev/null")
                                .c_str()) == 0;
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(*prefix, ec);
    delete prefix;
  }
  static std::string* prefix;
  static bool installed;
};
std::string* Shipped::prefix = nullptr;
bool Shipped::installed = false;

}  // namespace

TEST_F(Shipped, APageFindsNoTestServiceInTheBuiltOrTheInstalledShell) {
  ASSERT_TRUE(installed);
  for (const std::string& binary : {std::string(CORVANE_SHIPPED_BINARY), *prefix + "/bin/corvane"}) {
    SCOPED_TRACE(binary);
    const std::string line = probe(binary);
    EXPECT_NE(line.find("test=undefined app=object"), std::string::npos) << line;
    EXPECT_EQ(line.find(",test"), std::string::npos) << line;
  }
}

TEST_F(Shipped, NoInstalledBinaryHoldsCodeOfTheTestsShell) {
  ASSERT_TRUE(installed);
  expectNoTestCode(CORVANE_SHIPPED_BINARY);
  expectNoTestCode(*prefix + "/bin/corvane");
  EXPECT_FALSE(fs::exists(*prefix + "/bin/corvane-test-shell"));
  // The control: the tests' shell does hold them.
  const std::string text = sh("nm -C " + shq(CORVANE_TEST_SHELL_BINARY));
  EXPECT_NE(text.find("TestService"), std::string::npos);
}

TEST_F(Shipped, NoInstalledFileNamesTheBuildFolder) {
  ASSERT_TRUE(installed);
  const std::string build = fs::canonical(CORVANE_BUILD_ROOT).string();
  int elves = 0;
  for (const auto& entry : fs::recursive_directory_iterator(*prefix)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    SCOPED_TRACE(entry.path().string());
    const std::string file = shq(entry.path().string()), dump = shq(*prefix + ".section");
    std::string data;
    if (sh("head -c 4 " + file) == "\x7f" "ELF") {
      ++elves;
      // The data a program uses at run time: constants, initialised data,
      // the dynamic section's strings (run paths). Debug information may
      // name the sources; nothing reads it to find files.
      for (const std::string section : {".rodata", ".data", ".data.rel.ro", ".dynstr"})
        data += sh("rm -f " + dump + " && objcopy -O binary --only-section=" + section + " " + file + " " + dump +
                   " && cat " + dump);
      EXPECT_EQ(sh("readelf -d " + file + " | grep -E 'RPATH|RUNPATH'"), "");
      // Nothing of the shell's own for the plug-ins it loads to bind to.
      if (entry.path().filename() == "corvane") {
        EXPECT_EQ(sh("nm -D --defined-only " + file + " | grep -c _ZN7corvane"), "0\n");
      }
    } else {
      data = corvane::test::readFile(entry.path().string());
    }
    EXPECT_EQ(data.find(build), std::string::npos) << "names " << build;
  }
  fs::remove(*prefix + ".section");
  EXPECT_GE(elves, 4) << "the shell, the kit, the agent helper, the extension and the codec";
}
