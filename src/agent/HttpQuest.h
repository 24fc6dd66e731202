#pragma once
// The agent helper's "HTTP_QUEST": one GET of an http or https address,
// with a time limit for the whole exchange and a cap on the answer's size.
#include <libsoup/soup.h>

#include <cstdint>
#include <functional>
#include <string>

namespace corvane::agent {

struct QuestLimits {
  unsigned seconds = 30;                  // the whole exchange
  uint64_t maxBytes = 8 * 1024 * 1024;    // the answer's body
};

struct QuestOutcome {
  bool success = false;
  int status = 0;     // HTTP status, 0 when there was none
  std::string info;   // the body (UTF-8; invalid bytes replaced)
  std::string error;  // why it failed
};

// Limits from the environment ("CORVANE_AGENT_HTTP_TIMEOUT" in seconds,
// "CORVANE_AGENT_HTTP_MAX_BYTES"), else the defaults.
QuestLimits limitsFromEnvironment();

// Starts the fetch; `done` runs once on the calling thread's main context.
// Success: a 2xx answer within the limits.
void httpQuest(SoupSession* session, const std::string& url, const QuestLimits& limits,
               std::function<void(const QuestOutcome&)> done);

}  // namespace corvane::agent
