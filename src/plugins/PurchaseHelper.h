#pragma once
// The shell's side of one purchase helper: its host process
// (corvane-purchase-host), the requests sent to it and their answers, and
// the store notifications it sends. Everything runs on the main context of
// the thread that made the object (the main loop in the shell); nothing
// ever waits for the host: answers arrive through the main loop, each
// request is answered exactly once, and a request the host does not answer
// in time is answered with an error and ends the host.
//
// A host that ends (a crash, a kill, a helper that exits) answers every
// open request with an error naming how it ended; the next request starts
// a new host, which first hears "startService" again when the service had
// been started. After three such ends the helper stays down until it is
// made again. A helper that cannot be loaded (outside the package, no
// library, no entry point) is refused for good.
#include <nlohmann/json.hpp>

#include <gio/gio.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

class PurchaseHelper : public std::enable_shared_from_this<PurchaseHelper> {
 public:
  struct Options {
    std::string hostProgram;    // corvane-purchase-host
    std::string contentsPath;   // the package's Contents folder
    std::string bundlePath;     // the helper's bundle folder
    std::string dataDir;        // the helper's folder for this user and application
    std::string appIdentifier;
    unsigned timeoutSeconds = 30;
    unsigned maxEnds = 3;
  };
  // A result dictionary: "success", and "error" or the helper's members.
  using Answer = std::function<void(nlohmann::json result)>;
  using EventSink = std::function<void(const nlohmann::json& event)>;

  static std::shared_ptr<PurchaseHelper> create(Options options);
  ~PurchaseHelper();
  PurchaseHelper(const PurchaseHelper&) = delete;
  PurchaseHelper& operator=(const PurchaseHelper&) = delete;

  // Starts the host unless it runs; `answer` gets "name" and
  // "canMakePayments" once the helper is loaded, or the reason it is not.
  void start(Answer answer);
  // A request by its wire name ("buy", ...) with the page's parameters.
  void request(const std::string& op, nlohmann::json params, Answer answer);

  // The helper's last answer; false while no helper runs.
  bool canMakePayments() const { return canMakePayments_; }
  const std::string& name() const { return name_; }
  const Options& options() const { return options_; }
  void setTimeout(unsigned seconds);
  // The host's process id, 0 when none runs (for the log and the tests).
  int hostPid() const;

  // Store notifications, to every observer in the order they came.
  uint64_t addObserver(EventSink sink);
  void removeObserver(uint64_t id);

  struct Host;  // one run of the host process

 private:
  explicit PurchaseHelper(Options options);

  struct Pending {
    std::string op;
    Answer answer;
    guint timer = 0;
    bool internal = false;  // the replayed "startService"
  };
  struct Queued {
    std::string op;
    nlohmann::json params;
    Answer answer;
    bool internal = false;
  };

  void spawn();
  void send(Queued request);
  void write(const std::string& line);
  void writeNext();
  void onLine(const std::shared_ptr<Host>& host, const std::string& line);
  void onHello(const nlohmann::json& hello);
  void onRefused(const std::string& why);
  void onReply(const nlohmann::json& reply);
  void onEnded(const std::shared_ptr<Host>& host, const std::string& how);
  void onTimeout(uint64_t id);
  void answerAllWith(const std::string& error);
  void abandonHost(const std::string& why);
  static nlohmann::json failure(const std::string& error);

  static void onRead(GObject* stream, GAsyncResult* result, gpointer data);
  static void onWritten(GObject* stream, GAsyncResult* result, gpointer data);
  static void onWaited(GObject* process, GAsyncResult* result, gpointer data);

  Options options_;
  std::shared_ptr<Host> host_;
  bool ready_ = false;
  bool serviceStarted_ = false;
  bool canMakePayments_ = false;
  std::string name_;
  std::string refusal_;          // set for good once the host refused
  unsigned ends_ = 0;
  std::vector<Answer> startWaiters_;
  std::deque<Queued> waiting_;   // until the host said hello
  std::map<uint64_t, Pending> pending_;
  uint64_t nextId_ = 1;
  guint helloTimer_ = 0;
  std::map<uint64_t, EventSink> observers_;
  uint64_t nextObserver_ = 1;
  GMainContext* context_ = nullptr;
};

}  // namespace corvane
