// agent_bench HOST:PORT [--floor HOST:PORT] [--design-floor HOST:PORT]
// [--flood NxM]: a running agent beside the floor, a plain server with the
// agent's framing (one receive of up to 48 bytes, a 40-byte MAC reply without
// address for each request of 40 bytes or more) and a thread per connection,
// but no logging and no polling, measured in the same run. Three figures, each
// for both: MAC round trips on one open connection (the median of 15 batches
// of 200, the targets' batches in turn); connect-to-first-reply of
// connections arriving at random times (in four rounds of 1 s, the floor's
// and the agent's in turn); and N connections of M MAC requests
// each opened at once (default 1000x5), counting the requests that failed.
// The MAC round trip is also set beside the design floor: the floor plus the
// two trace records the agent must write per request. The floor runs in this
// process unless --floor names one served by
// `agent_bench --serve-floor PORT [SECONDS]` (under Wine, say); the design
// floor only as `agent_bench --serve-floor PORT SECONDS LOGDIR`, named by
// --design-floor. Loopback only.
//
// Every wait has a deadline. A connect the kernel is still retrying when its
// phase's deadline passes is counted as timed out and left to the process's
// exit; the flood phases run last so that such a connect disturbs nothing.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <filesystem>

#include "agent/agent_trace.h"
#include "agent/protocol.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace {

using Clock = std::chrono::steady_clock;

// MAC round trips: batches of each target in turn, so that a change of the
// machine's load falls on all of them alike.
constexpr int kRoundTripBatches = 15;
constexpr int kRoundTripsPerBatch = 200;
constexpr int kArrivals = 200;
constexpr double kArrivalSpreadS = 4.0;
// The arrivals in rounds of 1 s, the floor's and the agent's in turn, for the
// same reason as the batches of round trips.
constexpr int kArrivalRounds = 4;
constexpr auto kStepLimit = std::chrono::seconds(10);  // a connect, or one reply
constexpr int kFloorBacklog = 1024;

uint16_t Be16(unsigned port) {
  uint16_t be;
  const uint8_t b[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
  std::memcpy(&be, b, 2);
  return be;
}

unsigned HostPort(uint16_t be) {
  uint8_t b[2];
  std::memcpy(b, &be, 2);
  return b[0] << 8 | b[1];
}

std::string Text(const platform::Ipv4Address& a) {
  uint8_t b[4];
  std::memcpy(b, &a.address, 4);
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", b[0], b[1], b[2], b[3], HostPort(a.port));
  return text;
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

uint32_t MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
}

// Why a client's requests stopped being answered.
enum class Outcome { kOk, kRefused, kReset, kTimedOut, kWrongReply, kOther, kCount };
const char* const kOutcomeNames[] = {"ok", "refused", "reset or closed", "timed out",
                                     "wrong reply", "other"};

// One MAC request, then one whole reply by the deadline.
Outcome Exchange(platform::Socket& s, Clock::time_point deadline) {
  uint8_t area[AGENT_BLOCK_SIZE];
  const uint32_t size = BuildRequest(area, CMD_MAC);
  if (s.Send(area, static_cast<int>(size)) != static_cast<int>(size)) return Outcome::kReset;
  uint8_t reply[64];
  size_t got = 0;
  for (;;) {
    const int ready = s.WaitReadable(MsLeft(deadline));
    if (ready == 0) return Outcome::kTimedOut;
    if (ready < 0) return Outcome::kOther;
    const int n = s.Recv(reply + got, static_cast<int>(sizeof reply - got));
    if (n <= 0) return Outcome::kReset;
    got += static_cast<size_t>(n);
    AgentResponse r;
    size_t used = 0;
    switch (ParseResponse(reply, got, &r, &used)) {
      case ResponseParse::kIncomplete: continue;
      case ResponseParse::kMalformed: return Outcome::kWrongReply;
      case ResponseParse::kOk:
        return r.code == RSP_MAC && used == got ? Outcome::kOk : Outcome::kWrongReply;
    }
  }
}

// What one client connection saw.
struct Session {
  int answered = 0;
  Outcome end = Outcome::kOk;
  double first_reply_ms = -1;  // from the connect call; -1 when none came
};

Session RunSession(const platform::Ipv4Address& target, int requests) {
  Session r;
  const auto start = Clock::now();
  platform::Socket s = platform::Socket::Create();
  if (!s.valid()) {
    r.end = Outcome::kOther;
    return r;
  }
  if (!s.Connect(target)) {
    r.end = platform::IsRefused(platform::SocketError()) ? Outcome::kRefused : Outcome::kOther;
    return r;
  }
  if (Clock::now() - start > kStepLimit) {
    r.end = Outcome::kTimedOut;
    return r;
  }
  for (; r.answered < requests; ++r.answered) {
    r.end = Exchange(s, Clock::now() + kStepLimit);
    if (r.end != Outcome::kOk) return r;
    if (r.answered == 0) r.first_reply_ms = MsSince(start);
  }
  return r;
}

// Clients started together, each after its own delay; shared with the client
// threads, which may outlive the phase that started them.
struct ClientRun {
  platform::Ipv4Address target{0, 0};
  int requests = 0;
  std::vector<double> delays_s;
  std::vector<Session> sessions;
  std::unique_ptr<std::atomic<bool>[]> done;
  std::mutex lock;
  std::condition_variable changed;
  bool go = false;
  Clock::time_point t0;
  int finished = 0;
};

struct ClientStart {
  std::shared_ptr<ClientRun> run;
  size_t index;
};

void ClientProc(void* arg) {
  const std::unique_ptr<ClientStart> start(static_cast<ClientStart*>(arg));
  ClientRun& run = *start->run;
  Clock::time_point t0;
  {
    std::unique_lock<std::mutex> guard(run.lock);
    run.changed.wait(guard, [&] { return run.go; });
    t0 = run.t0;
  }
  std::this_thread::sleep_until(
      t0 + std::chrono::duration_cast<Clock::duration>(
               std::chrono::duration<double>(run.delays_s[start->index])));
  run.sessions[start->index] = RunSession(run.target, run.requests);
  run.done[start->index].store(true, std::memory_order_release);
  std::lock_guard<std::mutex> guard(run.lock);
  ++run.finished;
  run.changed.notify_all();
}

struct Phase {
  std::vector<Session> sessions;  // a client still connecting at the deadline: timed out
  double elapsed_ms = 0;          // from the common start to the last client's end
  int left_behind = 0;
};

Phase RunClients(const platform::Ipv4Address& target, const std::vector<double>& delays_s,
                 int requests) {
  auto run = std::make_shared<ClientRun>();
  run->target = target;
  run->requests = requests;
  run->delays_s = delays_s;
  run->sessions.resize(delays_s.size());
  run->done.reset(new std::atomic<bool>[delays_s.size()]);
  Phase p;
  p.sessions.resize(delays_s.size());
  size_t started = 0;
  for (size_t i = 0; i < delays_s.size(); ++i) {
    run->done[i] = false;
    auto* start = new ClientStart{run, i};
    if (platform::StartDetachedThread(ClientProc, start)) {
      ++started;
    } else {
      delete start;
      p.sessions[i].end = Outcome::kOther;
    }
  }
  const double latest = delays_s.empty() ? 0 : *std::max_element(delays_s.begin(), delays_s.end());
  std::unique_lock<std::mutex> guard(run->lock);
  run->go = true;
  run->t0 = Clock::now();
  run->changed.notify_all();
  const auto deadline = run->t0 + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(latest)) +
                        kStepLimit * (requests + 1) + std::chrono::seconds(5);
  run->changed.wait_until(guard, deadline,
                          [&] { return run->finished == static_cast<int>(started); });
  p.elapsed_ms = MsSince(run->t0);
  guard.unlock();
  for (size_t i = 0; i < delays_s.size(); ++i) {
    if (run->done[i].load(std::memory_order_acquire)) {
      p.sessions[i] = run->sessions[i];
    } else if (p.sessions[i].end == Outcome::kOk) {
      p.sessions[i].end = Outcome::kTimedOut;
      ++p.left_behind;
    }
  }
  return p;
}

// The floor: accept, then a thread per connection that answers each receive
// of 40 bytes or more. It lives until the process ends.
struct Floor {
  platform::Socket listener;
  platform::Ipv4Address address{0, 0};
};

// The design floor writes the agent's two trace records of a MAC request, one
// before the reply and one after it, into szLogDir.
bool bDesignFloor = false;

void FloorConnectionProc(void* arg) {
  const std::unique_ptr<platform::Socket> c(static_cast<platform::Socket*>(arg));
  // The records as long as the agent's: over loopback, both ends are 127.0.0.1.
  platform::Ipv4Address peer{0, 0};
  if (bDesignFloor) c->LocalAddress(&peer);
  for (;;) {
    uint8_t block[AGENT_BLOCK_SIZE];
    if (c->Recv(block, sizeof block) < static_cast<int>(AGENT_MESSAGE_SIZE)) return;
    if (bDesignFloor) Trace("MAC Command Received : IPaddress %x", peer.address);
    uint8_t area[AGENT_BLOCK_SIZE];
    const int size = static_cast<int>(BuildMacResponse(area, nullptr));
    if (c->Send(area, size) != size) return;
    if (bDesignFloor) Trace("Response Data Send : IPaddress %x", peer.address);
  }
}

void FloorAcceptProc(void* arg) {
  Floor& server = *static_cast<Floor*>(arg);
  for (;;) {
    platform::Ipv4Address peer;
    auto* c = new platform::Socket(server.listener.Accept(&peer));
    if (!c->valid()) {
      delete c;
      platform::SleepMs(10);  // out of descriptors: let clients close some
      continue;
    }
    if (!platform::StartDetachedThread(FloorConnectionProc, c)) delete c;
  }
}

// On 127.0.0.1:port (0: any free port).
Floor* StartFloor(unsigned port) {
  auto* server = new Floor;
  server->listener = platform::Socket::Create();
  platform::Ipv4Address loopback{0, Be16(port)};
  std::memcpy(&loopback.address, "\x7f\x00\x00\x01", 4);
  if (!server->listener.Bind(loopback) || !server->listener.Listen(kFloorBacklog) ||
      !server->listener.LocalAddress(&server->address) ||
      !platform::StartDetachedThread(FloorAcceptProc, server)) {
    delete server;
    return nullptr;
  }
  return server;
}

// MAC round trips per second over one connection to each target (port 0:
// not measured), in the median batch; -1 when one failed or not measured.
std::vector<double> RoundTripsPerSecond(const std::vector<platform::Ipv4Address>& targets) {
  std::vector<platform::Socket> s(targets.size());
  std::vector<std::vector<double>> batch_ms(targets.size());
  for (size_t t = 0; t < targets.size(); ++t) {
    if (!targets[t].port) continue;
    s[t] = platform::Socket::Create();
    if (!s[t].Connect(targets[t])) s[t].Close();
  }
  for (int b = 0; b < kRoundTripBatches; ++b) {
    for (size_t t = 0; t < targets.size(); ++t) {
      if (!s[t].valid()) continue;
      const auto start = Clock::now();
      for (int i = 0; i < kRoundTripsPerBatch && s[t].valid(); ++i) {
        if (Exchange(s[t], Clock::now() + kStepLimit) != Outcome::kOk) s[t].Close();
      }
      batch_ms[t].push_back(MsSince(start));
    }
  }
  std::vector<double> per_second(targets.size(), -1);
  for (size_t t = 0; t < targets.size(); ++t) {
    if (!s[t].valid()) continue;
    std::sort(batch_ms[t].begin(), batch_ms[t].end());
    per_second[t] = kRoundTripsPerBatch / (batch_ms[t][batch_ms[t].size() / 2] / 1000);
  }
  return per_second;
}

// q-quantile of the first-reply times; -1 when there are none.
double Quantile(const Phase& p, double q) {
  std::vector<double> ms;
  for (const Session& s : p.sessions) {
    if (s.first_reply_ms >= 0) ms.push_back(s.first_reply_ms);
  }
  if (ms.empty()) return -1;
  std::sort(ms.begin(), ms.end());
  const auto rank = static_cast<size_t>(std::ceil(q * static_cast<double>(ms.size())));
  return ms[std::min(ms.size(), std::max<size_t>(rank, 1)) - 1];
}

// Requests not answered, in total and by why their connection stopped.
struct Failures {
  long total = 0;
  long by[static_cast<int>(Outcome::kCount)] = {};
};

Failures CountFailures(const Phase& p, int requests) {
  Failures f;
  for (const Session& s : p.sessions) {
    const long failed = requests - s.answered;
    f.total += failed;
    f.by[static_cast<int>(s.end)] += failed;
  }
  return f;
}

std::string Cause(const Failures& f) {
  std::string out;
  for (int i = 1; i < static_cast<int>(Outcome::kCount); ++i) {
    if (!f.by[i]) continue;
    out += (out.empty() ? "" : ", ") + std::to_string(f.by[i]) + " " + kOutcomeNames[i];
  }
  return out;
}

// One line: the agent's figure, the floor's, and their ratio; a negative
// figure was not measured.
void Row(const char* label, double agent, double base, int decimals) {
  char a[32] = "-", b[32] = "-", ratio[32] = "-";
  if (agent >= 0) std::snprintf(a, sizeof a, "%.*f", decimals, agent);
  if (base >= 0) std::snprintf(b, sizeof b, "%.*f", decimals, base);
  if (agent >= 0 && base > 0) std::snprintf(ratio, sizeof ratio, "%.2f", agent / base);
  std::printf("%-46s %12s %12s %9s\n", label, a, b, ratio);
}

struct Options {
  platform::Ipv4Address agent{0, 0};
  platform::Ipv4Address floor{0, 0};  // port 0: the floor runs in this process
  platform::Ipv4Address design{0, 0};  // port 0: not measured
  int flood_connections = 1000, flood_requests = 5;
  unsigned serve_port = 0;  // --serve-floor: only serve the floor
  unsigned serve_s = 600;
  const char* serve_log_dir = nullptr;  // --serve-floor: the design floor's
};

bool ParseNumber(const char* text, unsigned low, unsigned high, unsigned* value) {
  char* end = nullptr;
  const unsigned long n = std::strtoul(text, &end, 10);
  if (end == text || *end || n < low || n > high) return false;
  *value = static_cast<unsigned>(n);
  return true;
}

// HOST:PORT, where HOST must be a loopback address: the flood is never aimed
// at another machine.
bool ParseTarget(const char* text, platform::Ipv4Address* target) {
  std::string host = text;
  const size_t colon = host.rfind(':');
  unsigned port = 0;
  if (colon == std::string::npos || !ParseNumber(text + colon + 1, 1, 65535, &port)) return false;
  host.resize(colon);
  uint8_t first = 0;
  if (!platform::ResolveHost(host.c_str(), &target->address)) return false;
  std::memcpy(&first, &target->address, 1);
  target->port = Be16(port);
  return first == 127;
}

bool ParseFlood(const char* text, int* connections, int* requests) {
  char x = 0;
  char rest = 0;
  return std::sscanf(text, "%d%c%d%c", connections, &x, requests, &rest) == 3 && x == 'x' &&
         *connections > 0 && *connections <= 20000 && *requests > 0 && *requests <= 1000;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  if (argc >= 3 && std::strcmp(argv[1], "--serve-floor") == 0) {
    o->serve_log_dir = argc == 5 ? argv[4] : nullptr;
    return argc <= 5 && ParseNumber(argv[2], 1, 65535, &o->serve_port) &&
           (argc == 3 || ParseNumber(argv[3], 1, 86400, &o->serve_s));
  }
  if (argc < 2 || !ParseTarget(argv[1], &o->agent)) return false;
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 >= argc) return false;
    const bool ok = std::strcmp(argv[i], "--floor") == 0 ? ParseTarget(argv[i + 1], &o->floor)
                    : std::strcmp(argv[i], "--design-floor") == 0
                        ? ParseTarget(argv[i + 1], &o->design)
                    : std::strcmp(argv[i], "--flood") == 0
                        ? ParseFlood(argv[i + 1], &o->flood_connections, &o->flood_requests)
                        : false;
    if (!ok) return false;
  }
  return true;
}

// Serves the floor for a while, for agent_bench --floor in another process
// (under Wine, beside the agent as a service).
int ServeFloor(const Options& o) {
  if (o.serve_log_dir) {
    bDesignFloor = true;
    std::snprintf(szLogDir, sizeof szLogDir, "%s%c", o.serve_log_dir,
                  static_cast<char>(std::filesystem::path::preferred_separator));
  }
  if (!StartFloor(o.serve_port)) {
    std::fprintf(stderr, "agent_bench: cannot serve the floor on 127.0.0.1:%u\n", o.serve_port);
    return 1;
  }
  std::printf("%s serving on 127.0.0.1:%u for %u s\n", bDesignFloor ? "design floor" : "floor",
              o.serve_port, o.serve_s);
  std::fflush(stdout);
  const auto end = Clock::now() + std::chrono::seconds(o.serve_s);
  while (Clock::now() < end) platform::SleepMs(1000);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::SocketsStartup();
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: agent_bench HOST:PORT [--floor HOST:PORT] [--design-floor HOST:PORT]\n"
                 "                   [--flood NxM]\n"
                 "       agent_bench --serve-floor PORT [SECONDS [LOGDIR]]\n"
                 "HOST is a loopback address; the agent runs, --floor names a floor\n"
                 "served by another agent_bench, else this one serves it; with LOGDIR\n"
                 "the floor served is the design floor, which logs there\n");
    return 2;
  }
  if (o.serve_port) return ServeFloor(o);
  if (!o.floor.port) {
    const Floor* own = StartFloor(0);
    if (!own) {
      std::fprintf(stderr, "agent_bench: cannot open the floor server\n");
      return 1;
    }
    o.floor = own->address;
  }
  const int flood_connections = o.flood_connections, flood_requests = o.flood_requests;
  const platform::Ipv4Address agent = o.agent, base = o.floor;
  std::printf("agent %s, floor %s", Text(agent).c_str(), Text(base).c_str());
  if (o.design.port) std::printf(", design floor %s", Text(o.design).c_str());
  std::printf("\n");
  std::fflush(stdout);

  const std::vector<double> trips = RoundTripsPerSecond({agent, base, o.design});
  const double trips_agent = trips[0], trips_floor = trips[1], trips_design = trips[2];
  const auto ms_of = [](double per_second) { return per_second > 0 ? 1000 / per_second : -1; };

  // The same random arrival times for both.
  std::mt19937 random(20261207);
  std::uniform_real_distribution<double> spread(0, kArrivalSpreadS / kArrivalRounds);
  Phase arrive_floor, arrive_agent;
  for (int round = 0; round < kArrivalRounds; ++round) {
    std::vector<double> arrivals(kArrivals / kArrivalRounds);
    for (double& t : arrivals) t = spread(random);
    for (Phase* p : {&arrive_floor, &arrive_agent}) {
      const Phase r = RunClients(p == &arrive_floor ? base : agent, arrivals, 1);
      p->sessions.insert(p->sessions.end(), r.sessions.begin(), r.sessions.end());
      p->left_behind += r.left_behind;
    }
  }

  const std::vector<double> at_once(static_cast<size_t>(flood_connections), 0.0);
  const Phase flood_floor = RunClients(base, at_once, flood_requests);
  const Phase flood_agent = RunClients(agent, at_once, flood_requests);

  std::printf("%-46s %12s %12s %9s\n", "", "agent", "floor", "ratio");
  Row("MAC round trips per second, one connection", trips_agent, trips_floor, 0);
  Row("  one round trip, ms", ms_of(trips_agent), ms_of(trips_floor), 3);
  Row("  beside the design floor (+2 log records), ms", ms_of(trips_agent), ms_of(trips_design),
      3);
  char label[96];
  std::snprintf(label, sizeof label, "%d arrivals over %.0f s: first reply, median ms",
                kArrivals, kArrivalSpreadS);
  Row(label, Quantile(arrive_agent, 0.5), Quantile(arrive_floor, 0.5), 3);
  Row("  first reply, p99 ms", Quantile(arrive_agent, 0.99), Quantile(arrive_floor, 0.99), 3);
  const Failures af = CountFailures(arrive_agent, 1), ff = CountFailures(arrive_floor, 1);
  Row("  failed requests", static_cast<double>(af.total), static_cast<double>(ff.total), 0);
  std::snprintf(label, sizeof label, "%dx%d at once: failed requests of %ld", flood_connections,
                flood_requests, static_cast<long>(flood_connections) * flood_requests);
  const Failures fa = CountFailures(flood_agent, flood_requests);
  const Failures fb = CountFailures(flood_floor, flood_requests);
  Row(label, static_cast<double>(fa.total), static_cast<double>(fb.total), 0);
  Row("  first reply, median ms", Quantile(flood_agent, 0.5), Quantile(flood_floor, 0.5), 3);
  Row("  first reply, p99 ms", Quantile(flood_agent, 0.99), Quantile(flood_floor, 0.99), 3);
  Row("  all done, ms", flood_agent.elapsed_ms, flood_floor.elapsed_ms, 0);
  const struct {
    const char* who;
    const Failures& f;
  } causes[] = {{"agent, arrivals", af}, {"floor, arrivals", ff},
                {"agent, at once", fa},  {"floor, at once", fb}};
  for (const auto& c : causes) {
    if (c.f.total) std::printf("failed requests, %s: %s\n", c.who, Cause(c.f).c_str());
  }
  const int left = arrive_floor.left_behind + arrive_agent.left_behind +
                   flood_floor.left_behind + flood_agent.left_behind;
  if (left) std::printf("%d connects still retried by the kernel at their deadline\n", left);
  std::fflush(stdout);
  // Client threads still in a connect end with the process, not with a join.
  std::_Exit(0);
}
