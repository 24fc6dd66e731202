// The persistent user defaults store.
#include "TestSupport.h"

#include "app/LoginItem.h"
#include "app/UserDefaults.h"
#include "app/WebsiteData.h"

#include <glib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>

using namespace corvane;
using namespace corvane::test;

namespace {

class Defaults : public testing::Test {
 protected:
  std::string store() { return tmp / "config/corvane/test.app.json"; }
  TempDir tmp;
};

}  // namespace

TEST_F(Defaults, CorruptFileIsKeptAsideAndTheStoreStartsEmpty) {
  writeFile(store(), "{ \"half\": ");
  testing::internal::CaptureStderr();
  UserDefaults d(store());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(d.objectForKey("half"));
  std::string aside;
  for (auto& f : fs::directory_iterator(tmp / "config/corvane"))
    if (f.path().string().find(".corrupt-") != std::string::npos) aside = f.path();
  ASSERT_FALSE(aside.empty());
  EXPECT_EQ(readFile(aside), "{ \"half\": ");
  EXPECT_THAT(err, testing::HasSubstr(aside));

  d.setObject("fresh", 1);
  EXPECT_TRUE(d.synchronize());
  EXPECT_EQ(readFile(aside), "{ \"half\": ") << "the user's data is never overwritten";
}

TEST_F(Defaults, TwoProcessesKeepEachOthersKeys) {
  UserDefaults mine(store());
  mine.setObject("shared", "mine");
  ASSERT_TRUE(mine.synchronize());

  pid_t child = fork();
  if (child == 0) {
    UserDefaults theirs(store());
    theirs.setObject("theirs", 7);
    theirs.setObject("shared", "theirs");
    _exit(theirs.synchronize() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);

  mine.setObject("mine", true);
  ASSERT_TRUE(mine.synchronize());
  // "shared" is untouched here since, so the newer value stays; synchronize
  // also brings the other's keys.
  const nlohmann::json both = {{"theirs", 7}, {"mine", true}, {"shared", "theirs"}};
  EXPECT_EQ(UserDefaults(store()).dictionaryRepresentation(), both);
  EXPECT_EQ(mine.dictionaryRepresentation(), both);
}

TEST(SystemDomain, LanguagesFromTheLocaleEnvironment) {
  EnvGuard env;
  env.set("LANGUAGE", std::nullopt);
  env.set("LC_ALL", std::nullopt);
  env.set("LC_MESSAGES", "de_DE.UTF-8");
  env.set("LANG", "fr_FR.UTF-8");
  EXPECT_EQ(UserDefaults::systemDomain()["AppleLanguages"], nlohmann::json({"de-DE"}));
  env.set("LANGUAGE", "pt_BR:en_GB:pt_BR");
  EXPECT_EQ(UserDefaults::systemDomain()["AppleLanguages"], nlohmann::json({"pt-BR", "en-GB"}));
  env.set("LANGUAGE", std::nullopt);
  env.set("LC_MESSAGES", std::nullopt);
  env.set("LANG", "C.UTF-8");
  EXPECT_EQ(UserDefaults::systemDomain()["AppleLanguages"], nlohmann::json({"en-US"}));
  EXPECT_EQ(UserDefaults::languageTag("sr_RS@latin"), "sr-RS");
}

TEST_F(Defaults, SystemKeysAreReadOnlyAndShadowedByTheApp) {
  UserDefaults d(store());
  EXPECT_TRUE(d.objectForKey("AppleLanguages")->is_array());
  EXPECT_FALSE(d.dictionaryRepresentation().contains("AppleLanguages"));
}

TEST(StoreNames, AnyIdentifierGivesOneSafeFileName) {
  EXPECT_EQ(identifierFileName("com.example.app"), "com.example.app") << "existing stores keep their names";
  EXPECT_EQ(identifierFileName("a/b"), "a_b");
  EXPECT_EQ(identifierFileName("(null)"), "corvane.default");

  const std::string longA = std::string(300, 'a');
  const std::string longB = std::string(299, 'a') + "b";
  const std::string nameA = identifierFileName(longA), nameB = identifierFileName(longB);
  EXPECT_LE(nameA.size(), 100u);
  EXPECT_NE(nameA, nameB) << "identifiers that share a prefix stay apart";
  EXPECT_EQ(nameA, identifierFileName(longA)) << "stable";
  EXPECT_EQ(nameA.rfind(std::string(64, 'a') + "-", 0), 0u) << "readable start";

  // The cut never splits a character.
  std::string umlauts = "x";
  for (int i = 0; i < 100; ++i) umlauts += "\xC3\xBC";
  const std::string cut = identifierFileName(umlauts);
  EXPECT_TRUE(g_utf8_validate(cut.c_str(), static_cast<gssize>(cut.size()), nullptr)) << cut;
}

TEST(StoreNames, HostileIdentifiersNameOnlyTheirOwnFileInEveryFolder) {
  TempDir tmp;
  EnvGuard env;
  env.set("XDG_CONFIG_HOME", tmp / "config");
  env.set("XDG_DATA_HOME", tmp / "data");
  env.set("XDG_CACHE_HOME", tmp / "cache");
  // Every place a name is made from an identifier, and the folder it must
  // stay directly inside.
  struct Place {
    const char* what;
    std::function<std::string(const std::string&)> path;
    fs::path folder;
  };
  const Place places[] = {
      {"defaults", UserDefaults::pathForIdentifier, tmp / "config/corvane"},
      {"website data", [](const std::string& id) { return fs::path(WebsiteData::dataDirectory(id)).parent_path(); },
       tmp / "data/corvane"},
      {"cache", [](const std::string& id) { return fs::path(WebsiteData::cacheDirectory(id)).parent_path(); },
       tmp / "cache/corvane"},
      {"autostart", [](const std::string& id) { return LoginItem(id, "/b.app", "B", "corvane").entryPath(); },
       tmp / "config/autostart"},
  };
  const std::string hostile[] = {".", "..", "../..", "../x", "a/../../b", "/", "//etc/passwd", "./.",
                                 std::string("a\0/..", 5), "line\nbreak", "tab\tand\x7f", "\r", "...", ".hidden"};
  std::set<std::string> names;
  for (const std::string& id : hostile) {
    const std::string name = identifierFileName(id);
    SCOPED_TRACE(testing::PrintToString(id) + " -> " + testing::PrintToString(name));
    EXPECT_FALSE(name.empty());
    EXPECT_NE(name, ".");
    EXPECT_NE(name, "..");
    for (char c : name) EXPECT_TRUE(c != '/' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    names.insert(name);
    for (const auto& place : places) {
      const fs::path made = fs::path(place.path(id)).lexically_normal();
      EXPECT_EQ(made.parent_path(), place.folder.lexically_normal()) << place.what << ": " << made;
    }
  }
  EXPECT_EQ(identifierFileName("..."), "...") << "only the names of the folder and its parent are special";
  EXPECT_EQ(identifierFileName("com.example.app-2_b"), "com.example.app-2_b");
}
