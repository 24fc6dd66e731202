#include "ShellHarness.h"

#include <cctype>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace corvane::e2e {

struct TinyHttpServer::State {
  std::mutex mutex;
  std::map<std::string, std::string> pages;
  unsigned status = 200;
  std::string raw;  // when set, the whole response
  std::vector<std::string> requests;
};

TinyHttpServer::TinyHttpServer(std::string body) : TinyHttpServer(std::map<std::string, std::string>{{"", body}}) {}

TinyHttpServer::TinyHttpServer(std::map<std::string, std::string> pages) : state_(std::make_shared<State>()) {
  state_->pages = std::move(pages);
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 16) != 0)
    throw std::runtime_error("test server: cannot listen");
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  auto* t = new std::thread([fd = listenFd_, state = state_] {
    for (;;) {
      int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;  // closed by the destructor
      char buf[4096];
      std::string req;
      while (req.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        req.append(buf, static_cast<size_t>(n));
      }
      // "GET /path?query HTTP/1.1": the path alone picks the page.
      std::string target = req.substr(0, req.find("\r\n"));
      target = target.substr(target.find(' ') + 1);
      target = target.substr(0, target.find(' '));
      std::string resp;
      {
        std::lock_guard<std::mutex> hold(state->mutex);
        state->requests.push_back(target);
        const auto& pages = state->pages;
        auto page = pages.find(pages.count("") ? std::string() : target.substr(0, target.find_first_of("?#")));
        const bool found = page != pages.end();
        const std::string body = found ? page->second : "not found";
        const unsigned status = found ? state->status : 404;
        resp = !state->raw.empty() ? state->raw
                                   : "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Answer") +
                                         "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      }
      for (size_t done = 0; done < resp.size();) {
        const ssize_t n = ::send(c, resp.data() + done, resp.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      ::close(c);
    }
  });
  thread_ = t;
}

void TinyHttpServer::answer(std::string body, unsigned status) {
  std::lock_guard<std::mutex> hold(state_->mutex);
  state_->pages = {{"", std::move(body)}};
  state_->status = status;
  state_->raw.clear();
}

void TinyHttpServer::answerRaw(std::string response) {
  std::lock_guard<std::mutex> hold(state_->mutex);
  state_->raw = std::move(response);
}

std::vector<std::string> TinyHttpServer::requests() const {
  std::lock_guard<std::mutex> hold(state_->mutex);
  return state_->requests;
}

TinyHttpServer::~TinyHttpServer() {
  ::shutdown(listenFd_, SHUT_RDWR);
  ::close(listenFd_);
  auto* t = static_cast<std::thread*>(thread_);
  t->join();
  delete t;
}

ShellHarness::ShellHarness() {
  char tmpl[] = "/tmp/corvane-e2e-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
  fs::create_directories(root_ + "/home");
  fs::create_directories(root_ + "/ack");
}

std::string ShellHarness::identifier() const {
  std::string suffix = fs::path(root_).filename().string();  // corvane-e2e-XXXXXX
  suffix = suffix.substr(suffix.rfind('-') + 1);
  for (char& c : suffix)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return "app.corvane.bridgetest.x" + suffix;
}

ShellHarness::~ShellHarness() {
  std::error_code ec;
  if (!std::getenv("CORVANE_E2E_KEEP")) fs::remove_all(root_, ec);
}

void ShellHarness::writeFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

void ShellHarness::makeBundle(const nlohmann::json& projectJson, const std::string& pagesDir) {
  const std::string contents = bundlePath() + "/Contents";
  writeFile(contents + "/Info.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>CFBundleDisplayName</key><string>BridgeTest</string>
<key>CFBundleName</key><string>BridgeTest</string>
<key>CFBundleExecutable</key><string>BridgeTest</string>
<key>CFBundleIdentifier</key><string>)" + identifier() + R"(</string>
<key>CFBundleShortVersionString</key><string>1.2.3</string>
<key>CFBundleVersion</key><string>7</string>
</dict></plist>
)");
  writeFile(contents + "/MacOS/BridgeTest", "#!/bin/sh\n");
  fs::permissions(contents + "/MacOS/BridgeTest", fs::perms::owner_all);
  fs::create_directories(contents + "/PlugIns");
  writeFile(resourcePath() + "/public/project.json", projectJson.dump(2));
  fs::copy_file(CORVANE_E2E_SCRIPT, resourcePath() + "/public/e2e.js", fs::copy_options::overwrite_existing);
  for (const auto& entry : fs::directory_iterator(pagesDir))
    fs::copy_file(entry.path(), resourcePath() + "/public/" + entry.path().filename().string(),
                  fs::copy_options::overwrite_existing);
}

int ShellHarness::start(const std::map<std::string, std::string>& env, const std::string& logName,
                        const std::vector<std::string>& args) {
  const std::string logPath = root_ + "/" + logName;
  pid_t pid = fork();
  if (pid == 0) {
    int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    setenv("CORVANE_TEST_RESULT", (root_ + "/report.json").c_str(), 1);
    // An installed copy may stand in for the build tree's shell.
    const char* binary = std::getenv("CORVANE_E2E_BINARY") ? std::getenv("CORVANE_E2E_BINARY") : CORVANE_BINARY;
    const std::string bundle = bundlePath();
    std::vector<const char*> argv{binary, "--bundle", bundle.c_str()};
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    execv(binary, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  return pid;
}

int ShellHarness::run(const std::map<std::string, std::string>& env, int timeoutSeconds) {
  return wait(start(env), timeoutSeconds);
}

int ShellHarness::wait(int pid, int timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::map<std::string, std::string> ShellHarness::sessionEnv() const {
  const std::string home = root_ + "/home";
  return {{"HOME", home},
          {"XDG_CONFIG_HOME", home + "/.config"},
          {"XDG_DATA_HOME", home + "/.local/share"},
          {"XDG_CACHE_HOME", home + "/.cache"},
          {"CORVANE_E2E_ACK", root_ + "/ack"}};
}

bool ShellHarness::stepped(const std::string& name, int seconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (log().find("E2E-STEP " + name + " ") == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

void ShellHarness::ack(const std::string& name) { writeFile(root_ + "/ack/" + name, ""); }

void ShellHarness::installRecorders(const std::string& dir,
                                   const std::map<std::string, std::vector<std::string>>& typesByTag) {
  const auto env = sessionEnv();
  const std::string script = dir + "/record.sh";
  // A whole new file renamed over the old one: readers never see half a line.
  writeFile(script, "#!/bin/sh\ntag=\"$1\"; shift\nout=\"" + dir + "/$tag.txt\"\n" +
                        "{ cat \"$out\" 2>/dev/null; printf '%s\\n' \"$@\"; } > \"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n");
  fs::permissions(script, fs::perms::owner_all);
  std::string defaults = "[Default Applications]\n";
  for (const auto& [tag, types] : typesByTag) {
    std::string mime;
    for (const auto& type : types) {
      mime += type + ";";
      defaults += type + "=corvane-rec-" + tag + ".desktop\n";
    }
    writeFile(env.at("XDG_DATA_HOME") + "/applications/corvane-rec-" + tag + ".desktop",
              "[Desktop Entry]\nType=Application\nName=Corvane Recorder" + (types.empty() ? "" : " (" + tag + ")") +
                  "\nExec=" + script + " " + tag + " %u\nMimeType=" + mime + "\nNoDisplay=true\n");
  }
  writeFile(env.at("XDG_CONFIG_HOME") + "/mimeapps.list", defaults);
}

void ShellHarness::installHandOffRecorders(const std::string& handoff) {
  installRecorders(handoff, {{"open", {"x-scheme-handler/corvanetest"}},
                             {"mail", {"x-scheme-handler/mailto"}},
                             {"file", {"text/plain"}},
                             {"launch", {}}});
}

std::string sh(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

bool ShellHarness::answerAlert(int pid, const std::string& title, int seconds) {
  auto alert = [&] {
    const std::string ids =
        sh("xdotool search --all --onlyvisible --pid " + std::to_string(pid) + " --name '^" + title + "$'");
    return ids.substr(0, ids.find('\n'));
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool pressed = false;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string id = alert();
    if (id.empty()) {
      if (pressed) return true;  // answered: it went away
    } else {
      // The search asks for both conditions (xdotool matches either one by
      // default, which would take the main window for the alert). Focus
      // without a window manager's help (the shared test display has none);
      // another test's window may take the focus in between, so press again
      // until the alert has gone.
      sh("xdotool windowfocus --sync " + id + " sleep 0.2 key --clearmodifiers Return");
      pressed = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pressed ? 700 : 200));
  }
  return false;
}

std::string ShellHarness::log() const {
  std::ifstream in(root_ + "/shell.log");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

nlohmann::json ShellHarness::report() const {
  std::ifstream in(root_ + "/report.json");
  if (!in) return nullptr;
  return nlohmann::json::parse(in, nullptr, false);
}

}  // namespace corvane::e2e
