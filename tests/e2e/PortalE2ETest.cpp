// The shell as a sandbox runs it (GTK_USE_PORTAL=1), with the desktop
// portal and its GTK back end from the distribution on a session bus of the
// suite's own: the dialogs, answered with real input, and an address
// hand-off are the portal's. The same run shows the window's identity.
#include "ProcessHelpers.h"
#include "ShellSuite.h"

#include "support/PrivateBus.h"
#include "support/PrivateDesktop.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

using corvane::e2e::sh;
using corvane::e2e::ShellHarness;
using corvane::e2e::waitUntil;
using corvane::test::readFile;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPortalServices[] = {"org.freedesktop.portal.Desktop.service",
                                           "org.freedesktop.impl.portal.desktop.gtk.service",
                                           "org.freedesktop.impl.portal.PermissionStore.service"};

class PortalE2E : public corvane::e2e::ShellSuite<PortalE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_PORTAL_PAGES);
    // The bundle's icon, as the package would name it.
    std::string plist = readFile(shell->bundlePath() + "/Contents/Info.plist");
    plist.replace(plist.find("</dict>"), 7, "<key>CFBundleIconFile</key><string>Icon.svg</string></dict>");
    shell->writeFile(shell->bundlePath() + "/Contents/Info.plist", plist);
    shell->writeFile(shell->resourcePath() + "/Icon.svg",
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" height=\"48\">"
                     "<rect width=\"48\" height=\"48\" fill=\"#c33\"/></svg>");
    const std::string dialogs = shell->root() + "/dialogs";
    shell->writeFile(dialogs + "/pick.txt", "picked");

    std::map<std::string, std::string> env = shell->sessionEnv();
    // The address handler records whose environment it was started in.
    const std::string record = shell->root() + "/handed-off.txt";
    shell->writeFile(shell->root() + "/record.sh",
                     "#!/bin/sh\necho \"$1 ${CORVANE_E2E_MARK:-none}\" > " + record + ".tmp && mv " + record + ".tmp " +
                         record + "\n");
    fs::permissions(shell->root() + "/record.sh", fs::perms::owner_all);
    shell->writeFile(env["XDG_DATA_HOME"] + "/applications/corvane-web-recorder.desktop",
                     "[Desktop Entry]\nType=Application\nName=Web Recorder\nExec=" + shell->root() +
                         "/record.sh %u\nMimeType=x-scheme-handler/https;\nNoDisplay=true\n");
    shell->writeFile(env["XDG_CONFIG_HOME"] + "/mimeapps.list",
                     "[Default Applications]\nx-scheme-handler/https=corvane-web-recorder.desktop\n");

    setenv("HOME", (shell->root() + "/wm-home").c_str(), 1);
    desktop = std::make_unique<corvane::test::PrivateDesktop>(true);
    setenv("DISPLAY", desktop->display().c_str(), 1);  // for xdotool and xprop

    // The portal and its back end, started by the bus on demand with the
    // user's folders, on this suite's display.
    const std::string services = shell->root() + "/services";
    fs::create_directories(services);
    for (const char* file : kPortalServices) {
      const fs::path installed = fs::path("/usr/share/dbus-1/services") / file;
      if (!fs::exists(installed)) {
        missing = installed.string();
        return;
      }
      fs::copy_file(installed, fs::path(services) / file);
    }
    std::map<std::string, std::string> portalEnv = env;
    portalEnv.erase("CORVANE_TEST_SERVICES");
    portalEnv.insert({{"DISPLAY", desktop->display()}, {"GDK_BACKEND", "x11"}, {"GTK_USE_PORTAL", "0"},
                      {"XDG_CURRENT_DESKTOP", "GNOME"}, {"CORVANE_E2E_MARK", "portal"}, {"NO_AT_BRIDGE", "1"}});
    bus = std::make_unique<corvane::test::PrivateBus>(services, portalEnv);

    env.insert({{"DISPLAY", desktop->display()},
                {"DBUS_SESSION_BUS_ADDRESS", bus->address()},
                {"GTK_USE_PORTAL", "1"},
                {"CORVANE_E2E_MARK", "shell"},
                {"CORVANE_E2E_DIALOGS", dialogs}});
    runShell(env, 240, drive);
  }

  static bool windowShown(const std::string& title) {
    return !sh("xdotool search --onlyvisible --name '^" + title + "$'").empty();
  }
  // The program that shows the window (its executable's name).
  static std::string windowProgram(const std::string& title) {
    const std::string pid = sh("xdotool search --onlyvisible --name '^" + title + "$' getwindowpid");
    std::error_code ec;
    const std::string exe = "/proc/" + pid.substr(0, pid.find('\n')) + "/exe";
    return pid.empty() ? "" : fs::read_symlink(exe, ec).filename().string();
  }

  // The person at the screen: answers each portal dialog by typing a path
  // (into the location of an open dialog, over the name of a save dialog)
  // and Return. Keys that come while the back end is still setting its
  // dialog up can be lost: a dialog still there after a while is answered
  // again.
  static void drive(const std::atomic<bool>& done) {
    auto answer = [&](const std::string& title, const std::string& path, const char* field) {
      if (!waitUntil([&] { return done || windowShown(title); }, 90) || done) return false;
      programs[title] = windowProgram(title);
      for (int attempt = 0; attempt < 4 && !done; ++attempt) {
        sh("xdotool search --onlyvisible --name '^" + title + "$' windowactivate --sync");
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        sh(std::string("xdotool key --delay 150 ") + field + " ctrl+a");
        sh("xdotool type --delay 40 '" + path + "'");
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        sh("xdotool key Return");
        if (waitUntil([&] { return done || !windowShown(title); }, 15)) return !done;
      }
      return false;
    };
    const std::string dialogs = shell->root() + "/dialogs";
    if (!answer("E2E Portal Open", dialogs + "/pick.txt", "ctrl+l")) return;
    if (!answer("E2E Portal Save", dialogs + "/written.txt", "alt+n")) return;
    if (done || !shell->stepped("handed-off")) return;
    // A search fails as a whole when a window goes away during it (the
    // portal's dialogs do): it is tried again.
    std::string window;
    waitUntil([&] {
      window = corvane::e2e::managedWindowNamed("BridgeTest");
      return !window.empty();
    }, 20);
    identity["class"] = sh("xprop -id " + window + " WM_CLASS");
    const std::string sizes = "xprop -len 16000000 -id " + window + " _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)'";
    waitUntil([&] { return !sh(sizes).empty(); }, 20);
    identity["icon"] = sh(sizes);
    shell->ack("handed-off");
  }

  static void TearDownTestSuite() {
    bus.reset();
    desktop.reset();
    ShellSuite::TearDownTestSuite();
  }
  void SetUp() override {
    if (!missing.empty()) GTEST_SKIP() << missing << " is missing: install xdg-desktop-portal(-gtk)";
    ShellSuite::SetUp();
  }

  static inline std::unique_ptr<corvane::test::PrivateDesktop> desktop;
  static inline std::unique_ptr<corvane::test::PrivateBus> bus;
  static inline std::string missing;
  static inline json programs = json::object(), identity = json::object();
};

// The dialogs are shown by the portal's GTK back end, not by the shell,
// and hand-offs go through the portal too: the handler runs in the
// portal's environment, not the shell's.
TEST_F(PortalE2E, DialogsAndHandOffsAreThePortals) {
  const std::string d = shell->root() + "/dialogs";
  EXPECT_EQ(programs,
            (json{{"E2E Portal Open", "xdg-desktop-portal-gtk"}, {"E2E Portal Save", "xdg-desktop-portal-gtk"}}));
  EXPECT_EQ(r("open"), (json{true, 1, d + "/pick.txt", 6, d}));
  EXPECT_EQ(r("save"), (json{true, d + "/written.txt", "txt"}));
  const std::string record = shell->root() + "/handed-off.txt";
  ASSERT_TRUE(waitUntil([&] { return fs::exists(record); }, 30)) << shell->log();
  EXPECT_EQ(readFile(record), "https://portal.example/check?from=page portal\n");
}

// The window's class is the bundle identifier; its SVG icon is drawn at
// every size the desktop asks for.
TEST_F(PortalE2E, WindowsCarryTheBundlesIdentity) {
  EXPECT_NE(identity["class"].get<std::string>().find("\"" + shell->identifier() + "\""), std::string::npos)
      << identity;
  for (const char* size : {"Icon (16 x 16)", "Icon (48 x 48)", "Icon (256 x 256)"})
    EXPECT_NE(identity["icon"].get<std::string>().find(size), std::string::npos) << size << " " << identity;
}

}  // namespace
