#include "pwrctl/scan.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "agent/protocol.h"
#include "platform/thread.h"
#include "pwrctl/targets.h"
#include "pwrctl/wake.h"

namespace {

// Small stacks, so that 1,024 workers fit a 32-bit process.
constexpr size_t kWorkerStack = 128 * 1024;

double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

struct Pool {
  const std::vector<TargetHost>* hosts;
  uint32_t command;
  uint32_t timeout_ms;
  const ManagerKeyPair* key;
  const std::function<void(size_t, size_t)>* progress;
  std::vector<HostOutcome> results;
  std::atomic<size_t> next{0};
  std::mutex lock;
  std::condition_variable finished;
  size_t done = 0;
  int running = 0;
};

void Work(Pool& pool) {
  const size_t total = pool.hosts->size();
  for (size_t i; (i = pool.next++) < total;) {
    HostOutcome& r = pool.results[i];
    r.address = (*pool.hosts)[i].address;
    r.port = (*pool.hosts)[i].port;
    r.locking = Locking::kUnknown;
    r.outcome = AskAgent({HostToNetwork(r.address), PortToNetwork(r.port)}, pool.command,
                         pool.timeout_ms, r.mac, pool.key, &r.locking);
    std::lock_guard<std::mutex> guard(pool.lock);
    ++pool.done;
    if (*pool.progress) (*pool.progress)(pool.done, total);
  }
}

// Each worker holds the pool, so it outlives the last worker's unlock.
void Worker(void* arg) {
  std::unique_ptr<std::shared_ptr<Pool>> pool(static_cast<std::shared_ptr<Pool>*>(arg));
  Work(**pool);
  std::lock_guard<std::mutex> guard((*pool)->lock);
  --(*pool)->running;
  (*pool)->finished.notify_all();
}

}  // namespace

Received ReceiveUntil(platform::Socket& socket, uint32_t timeout_ms, std::vector<uint8_t>* bytes,
                      const std::function<bool(const std::vector<uint8_t>&)>& done) {
  const double deadline = NowMs() + timeout_ms;
  while (!done(*bytes)) {
    const double left = deadline - NowMs();
    if (left <= 0) return Received::kTimedOut;
    const int ready = socket.WaitReadable(static_cast<uint32_t>(left));
    if (ready < 0) return Received::kError;
    if (ready == 0) return Received::kTimedOut;
    uint8_t chunk[512];
    const int n = socket.Recv(chunk, sizeof chunk);
    if (n < 0) return Received::kError;
    if (n == 0) return Received::kClosed;
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  return Received::kDone;
}

Received ReceiveReply(platform::Socket& socket, uint32_t timeout_ms, std::vector<uint8_t>* reply,
                      AgentResponse* response, ResponseParse* parse) {
  *parse = ResponseParse::kIncomplete;
  return ReceiveUntil(socket, timeout_ms, reply, [&](const std::vector<uint8_t>& b) {
    size_t used = 0;
    *parse = b.empty() ? ResponseParse::kIncomplete
                       : ParseResponse(b.data(), b.size(), response, &used);
    return *parse != ResponseParse::kIncomplete;
  });
}

Outcome ClassifyAnswer(uint32_t command, const AgentResponse& response) {
  if (command == CMD_MAC && response.code == RSP_MAC && response.status == ST_OK) {
    return Outcome::kMac;
  }
  if (command == CMD_MAC && response.code == RSP_MAC && response.status == ST_NO_MAC) {
    return Outcome::kNoMac;
  }
  const bool off = command == CMD_OFF || command == CMD_SIGNED_OFF;
  if (off && response.code == (command | RSP_FLAG) && response.status == ST_REFUSED) {
    return Outcome::kDenied;
  }
  if (command == CMD_OFF && response.code == RSP_OFF && response.status == ST_OK) {
    return Outcome::kUnsigned;
  }
  if (command == CMD_SIGNED_OFF && response.code == RSP_SIGNED_OFF && response.status == ST_OK) {
    return Outcome::kAcknowledged;
  }
  return Outcome::kOtherAnswer;
}

bool Exchange(platform::Socket& socket, const uint8_t* request, size_t size, uint32_t timeout_ms,
              AgentResponse* response, Outcome* failure) {
  if (socket.Send(request, static_cast<int>(size)) != static_cast<int>(size)) {
    *failure = Outcome::kError;
    return false;
  }
  std::vector<uint8_t> reply;
  ResponseParse parse;
  switch (ReceiveReply(socket, timeout_ms, &reply, response, &parse)) {
    case Received::kClosed: *failure = reply.empty() ? Outcome::kClosed : Outcome::kMalformed; return false;
    case Received::kTimedOut: *failure = Outcome::kTimedOut; return false;
    case Received::kError: *failure = Outcome::kError; return false;
    case Received::kDone: break;
  }
  *failure = Outcome::kMalformed;
  return parse == ResponseParse::kOk;
}

bool ConnectAgent(const platform::Ipv4Address& remote, uint32_t timeout_ms,
                  platform::Socket* socket, Outcome* failure) {
  *socket = platform::Socket::Create();
  *failure = Outcome::kError;
  if (!socket->valid()) return false;
  if (socket->ConnectWithin(remote, timeout_ms)) return true;
  const int code = platform::SocketError();
  *failure = platform::IsRefused(code)    ? Outcome::kRefused
             : platform::IsTimedOut(code) ? Outcome::kTimedOut
                                          : Outcome::kUnreachable;
  return false;
}

bool AskChallenge(platform::Socket& socket, uint32_t timeout_ms, Locking* locking,
                  AgentResponse* response, Outcome* failure) {
  uint8_t challenge[AGENT_BLOCK_SIZE];
  const uint32_t size = BuildRequest(challenge, CMD_CHALLENGE);
  if (!Exchange(socket, challenge, size, timeout_ms, response, failure)) return false;
  const bool open = response->code == RSP_NONE && response->status == ST_BAD_COMMAND;
  const bool nonce = response->code == RSP_CHALLENGE && response->status == ST_OK &&
                     response->data_length == AGENT_NONCE_SIZE;
  *locking = open ? Locking::kOpen : nonce ? Locking::kSignedOnly : Locking::kUnknown;
  return true;
}

bool SendSigned(platform::Socket& socket, const ManagerKeyPair& key,
                const uint8_t (&head)[AGENT_BLOCK_SIZE], uint32_t timeout_ms, Locking* locking,
                AgentResponse* response, Outcome* failure) {
  if (!AskChallenge(socket, timeout_ms, locking, response, failure)) return false;
  if (*locking == Locking::kOpen) return true;
  if (*locking != Locking::kSignedOnly) {
    *failure = Outcome::kOtherAnswer;
    return false;
  }
  uint8_t request[AGENT_SIGNED_MESSAGE_SIZE];
  if (!SignRequest(key, response->nonce, head, request)) {
    *failure = Outcome::kError;
    return false;
  }
  return Exchange(socket, request, sizeof request, timeout_ms, response, failure);
}

bool SendSignedOff(platform::Socket& socket, const ManagerKeyPair& key, uint32_t timeout_ms,
                   Locking* locking, AgentResponse* response, Outcome* failure) {
  uint8_t head[AGENT_BLOCK_SIZE];
  const uint8_t action[AGENT_BLOCK_SIZE - AGENT_MESSAGE_SIZE] = {ACTION_POWER_OFF};
  BuildSignedHead(head, CMD_SIGNED_OFF, action);
  return SendSigned(socket, key, head, timeout_ms, locking, response, failure);
}

Outcome AskAgent(const platform::Ipv4Address& remote, uint32_t command, uint32_t timeout_ms,
                 uint8_t mac[6], const ManagerKeyPair* key, Locking* locking) {
  Locking ignored = Locking::kUnknown;
  if (!locking) locking = &ignored;
  platform::Socket socket;
  Outcome failure = Outcome::kError;
  if (!ConnectAgent(remote, timeout_ms, &socket, &failure)) return failure;
  AgentResponse response{};
  if (command == CMD_OFF && key) {
    if (!SendSignedOff(socket, *key, timeout_ms, locking, &response, &failure)) return failure;
    if (*locking == Locking::kSignedOnly) return ClassifyAnswer(CMD_SIGNED_OFF, response);
  }
  uint8_t request[AGENT_BLOCK_SIZE];
  const uint32_t size = BuildRequest(request, command);
  if (!Exchange(socket, request, size, timeout_ms, &response, &failure)) return failure;
  const Outcome outcome = ClassifyAnswer(command, response);
  if (outcome == Outcome::kMac) std::memcpy(mac, response.mac, 6);
  if (outcome == Outcome::kDenied) *locking = Locking::kSignedOnly;
  if (outcome == Outcome::kUnsigned) *locking = Locking::kOpen;  // it took a plain OFF
  // Whether the agent takes only signed commands; a failure here leaves the
  // MAC answer as it was, with the locking unknown.
  if (command == CMD_MAC && (outcome == Outcome::kMac || outcome == Outcome::kNoMac)) {
    AskChallenge(socket, timeout_ms, locking, &response, &failure);
  }
  return outcome;
}

std::vector<HostOutcome> AskAll(const std::vector<TargetHost>& hosts,
                                uint32_t command, int connections, uint32_t timeout_ms,
                                const std::function<void(size_t, size_t)>& progress,
                                const ManagerKeyPair* key) {
  auto pool = std::make_shared<Pool>();
  pool->hosts = &hosts;
  pool->command = command;
  pool->key = key;
  pool->timeout_ms = timeout_ms;
  pool->progress = &progress;
  pool->results.resize(hosts.size());
  if (hosts.empty()) return {};
  // This thread is one of the workers.
  const size_t workers = std::min(hosts.size(), static_cast<size_t>(connections > 0 ? connections : 1));
  for (size_t i = 1; i < workers; ++i) {
    auto* arg = new std::shared_ptr<Pool>(pool);
    {
      std::lock_guard<std::mutex> guard(pool->lock);
      ++pool->running;
    }
    if (!platform::StartDetachedThread(Worker, arg, kWorkerStack)) {
      delete arg;
      std::lock_guard<std::mutex> guard(pool->lock);
      --pool->running;
      break;  // the workers started share the hosts left
    }
  }
  Work(*pool);  // also ends the work when no other thread could start
  std::unique_lock<std::mutex> guard(pool->lock);
  pool->finished.wait(guard, [&] { return pool->running == 0; });
  return pool->results;
}

const char* OutcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::kMac: return "answered";
    case Outcome::kAcknowledged: return "acknowledged";
    case Outcome::kUnsigned: return "acknowledged, unsigned";
    case Outcome::kDenied: return "refused";
    case Outcome::kNoMac: return "no MAC known";
    case Outcome::kOtherAnswer: return "unexpected answer";
    case Outcome::kRefused: return "refused";
    case Outcome::kUnreachable: return "unreachable";
    case Outcome::kTimedOut: return "timed out";
    case Outcome::kClosed: return "closed";
    case Outcome::kMalformed: return "malformed";
    case Outcome::kError: return "socket error";
  }
  return "socket error";
}

std::string FormatOutcomes(const std::vector<HostOutcome>& outcomes, TableFormat format,
                           uint16_t default_port) {
  std::string out = format == TableFormat::kCsv ? "address,mac,outcome,signed\n"
                    : format == TableFormat::kJson ? "[" : "";
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const HostOutcome& r = outcomes[i];
    const std::string address = FormatHost({r.address, r.port}, default_port);
    const std::string mac = r.outcome == Outcome::kMac ? FormatMac(r.mac) : "";
    const std::string outcome = OutcomeText(r.outcome);
    const bool known = r.locking != Locking::kUnknown, locked = r.locking == Locking::kSignedOnly;
    if (format == TableFormat::kCsv) {
      out += address + "," + mac + "," + (outcome.find(',') == std::string::npos ? outcome : "\"" + outcome + "\"") +
             "," + (known ? locked ? "yes" : "no" : "") + "\n";
    } else if (format == TableFormat::kJson) {
      out += std::string(i ? ",\n " : "\n ") + "{\"address\": \"" + address + "\", \"mac\": " +
             (mac.empty() ? "null" : "\"" + mac + "\"") + ", \"outcome\": \"" + outcome +
             "\", \"signed\": " + (known ? locked ? "true" : "false" : "null") + "}";
    } else {
      char line[80];
      // The mark follows a scan's answer; an OFF's outcome says it already.
      const bool answer = r.outcome == Outcome::kMac || r.outcome == Outcome::kNoMac;
      std::snprintf(line, sizeof line, "%-15s  %s%s\n", address.c_str(),
                    (mac.empty() ? outcome : mac).c_str(),
                    known && answer ? locked ? "  signed" : "  open" : "");
      out += line;
    }
  }
  if (format == TableFormat::kJson) out += outcomes.empty() ? "]\n" : "\n]\n";
  return out;
}
