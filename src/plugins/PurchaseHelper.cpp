#include "plugins/PurchaseHelper.h"

#include "app/Log.h"
#include "plugins/PurchaseWire.h"

#include <cstring>
#include <utility>

namespace corvane {

struct PurchaseHelper::Host {
  GSubprocess* process = nullptr;
  GInputStream* out = nullptr;   // the host's standard output: its lines
  GOutputStream* in = nullptr;   // the host's standard input: our requests
  GCancellable* cancel = g_cancellable_new();
  purchase::LineReader reader;
  std::deque<std::string> writes;  // the front one is being written
  bool writing = false;
  bool closing = false;            // its output ended; waiting for the process

  ~Host() {
    g_cancellable_cancel(cancel);
    g_object_unref(cancel);
    if (process) g_object_unref(process);
  }
};

namespace {

// What an asynchronous step needs to find its way back: the helper, if it
// still exists, and the run of the host it was started for.
struct Ticket {
  std::weak_ptr<PurchaseHelper> helper;
  std::shared_ptr<PurchaseHelper::Host> host;
};

struct TimerTicket {
  std::weak_ptr<PurchaseHelper> helper;
  uint64_t id;
};

std::string howItEnded(GSubprocess* process) {
  if (g_subprocess_get_if_signaled(process)) {
    const int sig = g_subprocess_get_term_sig(process);
    const char* name = sigabbrev_np(sig);
    return "killed by signal " + std::to_string(sig) + (name ? std::string(" (SIG") + name + ")" : "");
  }
  if (g_subprocess_get_if_exited(process)) return "exit status " + std::to_string(g_subprocess_get_exit_status(process));
  return "ended";
}

}  // namespace

std::shared_ptr<PurchaseHelper> PurchaseHelper::create(Options options) {
  return std::shared_ptr<PurchaseHelper>(new PurchaseHelper(std::move(options)));
}

PurchaseHelper::PurchaseHelper(Options options) : options_(std::move(options)) {
  if (options_.timeoutSeconds == 0) options_.timeoutSeconds = 30;
  gchar* base = g_path_get_basename(options_.bundlePath.c_str());
  name_ = base;
  g_free(base);
  if (name_.size() > 7 && name_.compare(name_.size() - 7, 7, ".bundle") == 0) name_.resize(name_.size() - 7);
}

PurchaseHelper::~PurchaseHelper() {
  if (helloTimer_) g_source_remove(helloTimer_);
  for (auto& [id, p] : pending_)
    if (p.timer) g_source_remove(p.timer);
  if (!host_) return;
  // Closing its input lets the host stop its helper and end; one that does
  // not end within a few seconds is ended.
  g_cancellable_cancel(host_->cancel);
  if (host_->in) g_output_stream_close(host_->in, nullptr, nullptr);
  if (host_->process)
    g_timeout_add_seconds_full(
        G_PRIORITY_DEFAULT, 5,
        +[](gpointer p) -> gboolean {
          g_subprocess_force_exit(G_SUBPROCESS(p));
          return G_SOURCE_REMOVE;
        },
        g_object_ref(host_->process), g_object_unref);
}

int PurchaseHelper::hostPid() const {
  if (!host_ || !host_->process) return 0;
  const gchar* id = g_subprocess_get_identifier(host_->process);
  return id ? std::atoi(id) : 0;
}

void PurchaseHelper::setTimeout(unsigned seconds) {
  if (seconds > 0) options_.timeoutSeconds = seconds;
}

uint64_t PurchaseHelper::addObserver(EventSink sink) {
  const uint64_t id = nextObserver_++;
  observers_.emplace(id, std::move(sink));
  return id;
}

void PurchaseHelper::removeObserver(uint64_t id) { observers_.erase(id); }

nlohmann::json PurchaseHelper::failure(const std::string& error) {
  return {{"success", false}, {"error", error}};
}

// ---- the page's side ----------------------------------------------------------

void PurchaseHelper::start(Answer answer) {
  if (!refusal_.empty()) {
    answer(failure(refusal_));
    return;
  }
  ends_ = 0;  // made again: a helper that stopped gets its tries back
  if (ready_) {
    answer({{"success", true}, {"name", name_}, {"canMakePayments", canMakePayments_}});
    return;
  }
  startWaiters_.push_back(std::move(answer));
  if (!host_) spawn();
}

void PurchaseHelper::request(const std::string& op, nlohmann::json params, Answer answer) {
  if (!refusal_.empty()) {
    answer(failure(refusal_));
    return;
  }
  if (!host_) {
    if (ends_ >= options_.maxEnds) {
      answer(failure("the purchase helper " + name_ + " stopped after it ended " + std::to_string(ends_) +
                     " times; register it again"));
      return;
    }
    waiting_.push_back({op, std::move(params), std::move(answer), false});
    spawn();
    return;
  }
  Queued q{op, std::move(params), std::move(answer), false};
  if (ready_)
    send(std::move(q));
  else
    waiting_.push_back(std::move(q));
}

// ---- the host process -----------------------------------------------------------

void PurchaseHelper::spawn() {
  auto host = std::make_shared<Host>();
  GSubprocessLauncher* launcher =
      g_subprocess_launcher_new(static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE));
  const char* argv[] = {options_.hostProgram.c_str(), "--contents", options_.contentsPath.c_str(),
                        "--bundle", options_.bundlePath.c_str(), "--data", options_.dataDir.c_str(),
                        "--app-id", options_.appIdentifier.c_str(), nullptr};
  GError* error = nullptr;
  host->process = g_subprocess_launcher_spawnv(launcher, argv, &error);
  g_object_unref(launcher);
  if (!host->process) {
    const std::string why = "the purchase host cannot start: " + std::string(error ? error->message : "unknown error");
    if (error) g_error_free(error);
    log().error("{}", why);
    answerAllWith(why);
    return;
  }
  host->out = g_subprocess_get_stdout_pipe(host->process);
  host->in = g_subprocess_get_stdin_pipe(host->process);
  host_ = host;
  ready_ = false;
  log().info("purchase helper {}: host started (pid {})", name_, hostPid());
  // A new run of the host hears "startService" again before anything else.
  if (serviceStarted_) waiting_.push_front({"startService", nlohmann::json::object(), nullptr, true});

  g_input_stream_read_bytes_async(host->out, 65536, G_PRIORITY_DEFAULT, host->cancel, &PurchaseHelper::onRead,
                                  new Ticket{weak_from_this(), host});
  // Loading a helper runs its code: that too has the request's time bound.
  helloTimer_ = g_timeout_add_seconds_full(
      G_PRIORITY_DEFAULT, options_.timeoutSeconds,
      +[](gpointer p) -> gboolean {
        auto* t = static_cast<TimerTicket*>(p);
        if (auto self = t->helper.lock()) {
          self->helloTimer_ = 0;
          self->abandonHost("the purchase helper " + self->name_ + " did not start within " +
                            std::to_string(self->options_.timeoutSeconds) + " s");
        }
        return G_SOURCE_REMOVE;
      },
      new TimerTicket{weak_from_this(), 0}, [](gpointer p) { delete static_cast<TimerTicket*>(p); });
}

void PurchaseHelper::send(Queued q) {
  const uint64_t id = nextId_++;
  Pending p{q.op, std::move(q.answer), 0, q.internal};
  p.timer = g_timeout_add_seconds_full(
      G_PRIORITY_DEFAULT, options_.timeoutSeconds,
      +[](gpointer data) -> gboolean {
        auto* t = static_cast<TimerTicket*>(data);
        if (auto self = t->helper.lock()) self->onTimeout(t->id);
        return G_SOURCE_REMOVE;
      },
      new TimerTicket{weak_from_this(), id}, [](gpointer data) { delete static_cast<TimerTicket*>(data); });
  pending_.emplace(id, std::move(p));
  nlohmann::json line = {{"id", id}, {"op", q.op}, {"params", q.params.is_object() ? q.params : nlohmann::json::object()}};
  write(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

void PurchaseHelper::write(const std::string& line) {
  if (!host_) return;
  host_->writes.push_back(line);
  if (!host_->writing) writeNext();
}

void PurchaseHelper::writeNext() {
  if (!host_ || host_->writes.empty()) return;
  host_->writing = true;
  const std::string& line = host_->writes.front();
  // Never a blocking write: a stopped host must not stop the shell.
  g_output_stream_write_all_async(host_->in, line.data(), line.size(), G_PRIORITY_DEFAULT, host_->cancel,
                                  &PurchaseHelper::onWritten, new Ticket{weak_from_this(), host_});
}

void PurchaseHelper::onWritten(GObject* stream, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Ticket> ticket(static_cast<Ticket*>(data));
  GError* error = nullptr;
  const bool ok = g_output_stream_write_all_finish(G_OUTPUT_STREAM(stream), result, nullptr, &error);
  if (error) g_error_free(error);
  auto self = ticket->helper.lock();
  if (!self || self->host_ != ticket->host) return;
  ticket->host->writing = false;
  if (!ticket->host->writes.empty()) ticket->host->writes.pop_front();
  // A host that cannot take its input any more is ending: its output's end
  // says how.
  if (ok) self->writeNext();
}

void PurchaseHelper::onRead(GObject* stream, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Ticket> ticket(static_cast<Ticket*>(data));
  GError* error = nullptr;
  GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(stream), result, &error);
  const bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  if (error) g_error_free(error);
  auto self = ticket->helper.lock();
  if (cancelled || !self || self->host_ != ticket->host) {
    if (bytes) g_bytes_unref(bytes);
    return;
  }
  const std::shared_ptr<Host>& host = ticket->host;
  gsize size = 0;
  const char* chunk = bytes ? static_cast<const char*>(g_bytes_get_data(bytes, &size)) : nullptr;
  bool more = size > 0;
  const bool fed = !more || host->reader.feed(chunk, size);
  if (bytes) g_bytes_unref(bytes);
  if (!fed) {
    self->abandonHost("the purchase helper " + self->name_ + " sent a line longer than the shell accepts");
    return;
  }
  while (more) {
    auto line = host->reader.next();
    if (!line) break;
    self->onLine(host, *line);
    if (self->host_ != host) return;  // the line ended this run
  }
  if (more) {
    g_input_stream_read_bytes_async(host->out, 65536, G_PRIORITY_DEFAULT, host->cancel, &PurchaseHelper::onRead,
                                    ticket.release());
    return;
  }
  // The host's output ended: it is ending (or must). Its status says how.
  host->closing = true;
  g_subprocess_force_exit(host->process);
  g_subprocess_wait_async(host->process, nullptr, &PurchaseHelper::onWaited, ticket.release());
}

void PurchaseHelper::onWaited(GObject* process, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Ticket> ticket(static_cast<Ticket*>(data));
  g_subprocess_wait_finish(G_SUBPROCESS(process), result, nullptr);
  if (auto self = ticket->helper.lock()) self->onEnded(ticket->host, howItEnded(G_SUBPROCESS(process)));
}

void PurchaseHelper::onLine(const std::shared_ptr<Host>&, const std::string& line) {
  nlohmann::json message = nlohmann::json::parse(line, nullptr, false);
  if (message.is_discarded() || !message.is_object()) {
    log().error("purchase helper {}: not a message: {}", name_, line.substr(0, 200));
    return;
  }
  if (auto it = message.find("event"); it != message.end()) {
    if (!it->is_object()) return;
    auto observers = observers_;  // an observer may add or remove observers
    for (auto& [id, sink] : observers) sink(*it);
  } else if (auto hello = message.find("hello"); hello != message.end()) {
    onHello(*hello);
  } else if (auto refused = message.find("refused"); refused != message.end()) {
    onRefused(refused->is_string() ? refused->get<std::string>() : "the purchase helper was refused");
  } else if (message.contains("id")) {
    onReply(message);
  }
}

void PurchaseHelper::onHello(const nlohmann::json& hello) {
  if (helloTimer_) g_source_remove(helloTimer_);
  helloTimer_ = 0;
  if (hello.is_object()) {
    if (auto n = hello.find("name"); n != hello.end() && n->is_string() && !n->get<std::string>().empty())
      name_ = n->get<std::string>();
    canMakePayments_ = hello.value("canMakePayments", false);
  }
  ready_ = true;
  log().info("purchase helper {}: ready (can make payments: {})", name_, canMakePayments_);
  auto waiters = std::move(startWaiters_);
  startWaiters_.clear();
  auto waiting = std::move(waiting_);
  waiting_.clear();
  for (auto& q : waiting) send(std::move(q));
  for (auto& w : waiters) w({{"success", true}, {"name", name_}, {"canMakePayments", canMakePayments_}});
}

void PurchaseHelper::onRefused(const std::string& why) {
  // For good: the host ends by itself, and no request starts another.
  refusal_ = why;
  host_.reset();
  ready_ = false;
  if (helloTimer_) g_source_remove(helloTimer_);
  helloTimer_ = 0;
  log().error("purchase helper {}: {}", name_, why);
  answerAllWith(why);
}

void PurchaseHelper::onReply(const nlohmann::json& reply) {
  const uint64_t id = reply["id"].is_number_unsigned() ? reply["id"].get<uint64_t>() : 0;
  auto it = pending_.find(id);
  if (it == pending_.end()) return;
  Pending p = std::move(it->second);
  pending_.erase(it);
  if (p.timer) g_source_remove(p.timer);
  canMakePayments_ = reply.value("canMakePayments", false);
  nlohmann::json result;
  if (auto e = reply.find("error"); e != reply.end()) {
    result = failure(e->is_string() ? e->get<std::string>() : e->dump());
  } else {
    result = reply.contains("result") && reply["result"].is_object() ? reply["result"] : nlohmann::json::object();
    result["success"] = true;
    if (p.op == "startService") serviceStarted_ = true;
  }
  if (p.internal) {
    if (!result["success"].get<bool>())
      log().error("purchase helper {}: starting the service again failed: {}", name_, result["error"].get<std::string>());
    return;
  }
  if (p.answer) p.answer(std::move(result));
}

void PurchaseHelper::onTimeout(uint64_t id) {
  auto it = pending_.find(id);
  if (it == pending_.end()) return;
  // Requests are served in order: everything behind it would wait as long.
  abandonHost("the purchase helper " + name_ + " did not answer \"" + it->second.op + "\" within " +
              std::to_string(options_.timeoutSeconds) + " s");
}

void PurchaseHelper::abandonHost(const std::string& why) {
  if (!host_) return;
  // The run is over for the shell at once: its process is ended, and what
  // it still sends is not read. The next request starts a new one.
  g_subprocess_force_exit(host_->process);
  host_.reset();
  ready_ = false;
  canMakePayments_ = false;
  if (helloTimer_) g_source_remove(helloTimer_);
  helloTimer_ = 0;
  ++ends_;
  log().error("{}; ending it", why);
  answerAllWith(why);
}

void PurchaseHelper::onEnded(const std::shared_ptr<Host>& host, const std::string& how) {
  if (host != host_) return;
  host_.reset();
  ready_ = false;
  canMakePayments_ = false;
  if (helloTimer_) g_source_remove(helloTimer_);
  helloTimer_ = 0;
  if (!refusal_.empty()) {
    answerAllWith(refusal_);
    return;
  }
  ++ends_;
  const std::string why = "the purchase helper " + name_ + " ended unexpectedly (" + how + ")";
  log().error("{}", why);
  answerAllWith(why);
}

void PurchaseHelper::answerAllWith(const std::string& error) {
  // Taken out first: an answer may make a new request.
  auto waiters = std::move(startWaiters_);
  startWaiters_.clear();
  auto waiting = std::move(waiting_);
  waiting_.clear();
  auto pending = std::move(pending_);
  pending_.clear();
  for (auto& [id, p] : pending) {
    if (p.timer) g_source_remove(p.timer);
    if (p.answer && !p.internal) p.answer(failure(error));
  }
  for (auto& q : waiting)
    if (q.answer && !q.internal) q.answer(failure(error));
  for (auto& w : waiters) w(failure(error));
}

}  // namespace corvane
