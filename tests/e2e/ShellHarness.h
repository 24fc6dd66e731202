#pragma once
// Runs the real shell on a test bundle made in a temporary folder, with its
// own home, and collects what the page reported and what the shell logged.
#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace corvane::e2e {

// Output of a shell command (stderr dropped).
std::string sh(const std::string& command);

// A small HTTP server on 127.0.0.1 (a port of its own), on a thread of its
// own: the same document for every request, or documents by path (query
// ignored, 404 for others). It keeps each request's "/path?query".
class TinyHttpServer {
 public:
  explicit TinyHttpServer(std::string body);
  explicit TinyHttpServer(std::map<std::string, std::string> pages);
  ~TinyHttpServer();
  TinyHttpServer(const TinyHttpServer&) = delete;
  TinyHttpServer& operator=(const TinyHttpServer&) = delete;
  int port() const { return port_; }
  std::string address() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // From now on, every request gets `body` with `status`.
  void answer(std::string body, unsigned status = 200);
  // From now on, every request gets `response` as it stands (status line,
  // headers and body, nothing added), then the connection closes.
  void answerRaw(std::string response);
  std::vector<std::string> requests() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
  int listenFd_ = -1;
  int port_ = 0;
  void* thread_ = nullptr;
};

class ShellHarness {
 public:
  ShellHarness();
  ~ShellHarness();

  const std::string& root() const { return root_; }
  std::string bundlePath() const { return root_ + "/BridgeTest.app"; }
  std::string resourcePath() const { return bundlePath() + "/Contents/Resources"; }
  // Unique per harness: the shell runs one instance per identifier, and
  // suites run side by side.
  std::string identifier() const;

  // Builds the bundle: Info.plist, the given main configuration, and the
  // files of `pagesDir` copied into Resources/public beside the pages'
  // shared script (e2e.js).
  void makeBundle(const nlohmann::json& projectJson, const std::string& pagesDir);
  void writeFile(const std::string& path, const std::string& text);

  // Runs the shell until it quits (or `timeoutSeconds` pass, then kills it).
  // Answers the exit status, -1 when it had to be killed.
  int run(const std::map<std::string, std::string>& env, int timeoutSeconds);
  // Waits for the shell `pid` to end; answers as run().
  static int wait(int pid, int timeoutSeconds);
  // Starts the shell without waiting, its output in root()/<logName>, with
  // further command-line arguments (files to open); answers its pid.
  int start(const std::map<std::string, std::string>& env, const std::string& logName = "shell.log",
            const std::vector<std::string>& args = {});

  // The shell's own home and XDG folders inside root(), and the folder of
  // step answers (CORVANE_E2E_ACK); suites add their own variables.
  std::map<std::string, std::string> sessionEnv() const;

  // Desktop entries in the shell's own data home, one per tag, each made the
  // default handler of its MIME types (x-scheme-handler/<scheme> for URL
  // schemes); each appends the arguments it is started with to
  // <dir>/<tag>.txt. A tag without types is the application named
  // "Corvane Recorder", to be launched by name.
  void installRecorders(const std::string& dir, const std::map<std::string, std::vector<std::string>>& typesByTag);
  // The usual set: "open" (the private scheme "corvanetest"), "mail",
  // "file" (plain text) and "launch".
  void installHandOffRecorders(const std::string& handoff);

  // Presses Enter on the alert titled `title` of the process `pid` with
  // real input, as the person at the screen does; true once it has gone
  // (within `seconds`).
  static bool answerAlert(int pid, const std::string& title, int seconds);

  // The step protocol of e2e.js: whether the page has named step `name`
  // (within `seconds`), and the answer that lets the page go on.
  bool stepped(const std::string& name, int seconds = 60) const;
  void ack(const std::string& name);

  std::string log() const;
  nlohmann::json report() const;  // what the page handed to finish()

 private:
  std::string root_;
};

}  // namespace corvane::e2e
