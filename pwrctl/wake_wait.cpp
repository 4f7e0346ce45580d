#include "pwrctl/wake_wait.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include "agent/protocol.h"
#include "pwrctl/relay.h"
#include "pwrctl/wake.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// work(i) for every i below n, `workers` at a time.
void ForEach(size_t n, int workers, const std::function<void(size_t)>& work) {
  std::atomic<size_t> next{0};
  const auto run = [&] {
    for (size_t i; (i = next++) < n;) work(i);
  };
  std::vector<std::thread> threads;
  const size_t count = std::min(n, static_cast<size_t>(workers > 0 ? workers : 1));
  for (size_t t = 1; t < count; ++t) threads.emplace_back(run);
  run();
  for (std::thread& t : threads) t.join();
}

// `count` rounds of one packet a target, kPacketPauseMs apart.
void SendPackets(std::vector<WakeTarget*>& targets, const WakeSettings& s) {
  for (int round = 0; round < s.count; ++round) {
    if (round > 0) std::this_thread::sleep_for(std::chrono::milliseconds(kPacketPauseMs));
    for (WakeTarget* t : targets) {
      uint8_t packet[kMagicPacketSize];
      BuildMagicPacket(t->mac, packet);
      if (!platform::SendDatagram(s.broadcast, packet, static_cast<int>(sizeof packet))) {
        t->sent = "send failed: code " + std::to_string(platform::SocketError());
        t->sent_ok = false;
      }
    }
  }
}

// Each target with relays asks them in turn; a first failure is kept when a
// later round fails again.
void Relay(std::vector<WakeTarget*>& targets, const WakeSettings& s) {
  std::vector<WakeTarget*> relaying;
  for (WakeTarget* t : targets) {
    if (!t->relays.empty() && t->sent.rfind("send failed", 0) != 0) relaying.push_back(t);
  }
  DeadRelays dead;
  ForEach(relaying.size(), s.connections, [&](size_t i) {
    WakeTarget* t = relaying[i];
    TargetHost used{0, 0};
    bool ok = false;
    const std::string how = RelayWakeVia(t->relays, t->mac, s.timeout_ms, t->network, &dead, &used, &ok, s.key);
    if (ok && !t->relayed) {
      // The relay that answered is asked first next time.
      t->relays.insert(t->relays.begin(), used);
      t->sent = how;
      t->sent_ok = t->relayed = true;
    } else if (!t->relayed && t->sent_ok) {
      t->sent = how;
      t->sent_ok = false;
    }
  });
}

void SendAll(std::vector<WakeTarget*>& targets, const WakeSettings& s) {
  SendPackets(targets, s);
  Relay(targets, s);
}

std::string Seconds(double s) { return std::to_string(static_cast<long>(s + 0.5)) + " s"; }

void Wait(std::vector<WakeTarget>* targets, const WakeSettings& s, Clock::time_point first) {
  const auto deadline = first + std::chrono::seconds(s.wait_s);
  auto next_resend = first + std::chrono::milliseconds(kResendIntervalMs);
  size_t asked = 0, up = 0;
  for (WakeTarget& t : *targets) asked += t.has_address;
  for (int round = 1;; ++round) {
    std::vector<WakeTarget*> pending;
    for (WakeTarget& t : *targets) {
      if (t.has_address && !t.awake) pending.push_back(&t);
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (pending.empty() || left <= 0) break;
    const uint32_t poll_ms = static_cast<uint32_t>(std::min<long long>(left, kPollIntervalMs));
    ForEach(pending.size(), s.connections, [&](size_t i) {
      WakeTarget* t = pending[i];
      uint8_t mac[6];
      const Outcome o = AskAgent({HostToNetwork(t->host.address), PortToNetwork(t->host.port)},
                                 CMD_MAC, poll_ms, mac);
      // Any answer from the address is an agent awake there.
      if (o == Outcome::kMac || o == Outcome::kNoMac || o == Outcome::kOtherAnswer) {
        t->outcome = "awake after " + Seconds(SecondsSince(first));
        t->awake = true;
      }
    });
    for (WakeTarget* t : pending) up += t->awake;
    if (s.progress) std::fprintf(stderr, "\rawake %u/%u", unsigned(up), unsigned(asked));
    if (up == asked) break;
    if (Clock::now() >= next_resend && Clock::now() < deadline) {
      std::vector<WakeTarget*> again;
      for (WakeTarget* t : pending) {
        if (!t->awake) again.push_back(t);
      }
      SendAll(again, s);
      next_resend += std::chrono::milliseconds(kResendIntervalMs);
    }
    std::this_thread::sleep_until(
        std::min(deadline, first + std::chrono::milliseconds(kPollIntervalMs) * round));
  }
  if (s.progress) std::fputc('\n', stderr);
  for (WakeTarget& t : *targets) {
    if (!t.has_address) {
      t.outcome = "no address to ask";
    } else if (!t.awake) {
      t.outcome = "no answer after " + std::to_string(s.wait_s) + " s";
    }
  }
}

std::string JsonText(const std::string& text) {
  return text.empty() ? "null" : "\"" + text + "\"";
}

}  // namespace

int RunWake(std::vector<WakeTarget>* targets, const WakeSettings& settings) {
  std::vector<WakeTarget*> all;
  for (WakeTarget& t : *targets) {
    if (t.sent.empty()) {
      t.sent = "broadcast";
      t.sent_ok = true;
    }
    all.push_back(&t);
  }
  const Clock::time_point first = Clock::now();
  SendAll(all, settings);
  if (settings.wait_s > 0) Wait(targets, settings, first);
  for (const WakeTarget& t : *targets) {
    if (!t.sent_ok || (settings.wait_s > 0 && !t.awake)) return 1;
  }
  return 0;
}

std::string FormatWakeTable(const std::vector<WakeTarget>& targets, TableFormat format,
                            uint16_t default_port) {
  std::string out = format == TableFormat::kCsv ? "mac,address,sent,outcome\n"
                    : format == TableFormat::kJson ? "[" : "";
  for (size_t i = 0; i < targets.size(); ++i) {
    const WakeTarget& t = targets[i];
    const std::string mac = FormatMac(t.mac);
    const std::string address = t.has_address ? FormatHost(t.host, default_port) : "";
    if (format == TableFormat::kCsv) {
      out += mac + "," + address + "," + t.sent + "," + t.outcome + "\n";
    } else if (format == TableFormat::kJson) {
      out += std::string(i ? ",\n " : "\n ") + "{\"mac\": \"" + mac + "\", \"address\": " +
             JsonText(address) + ", \"sent\": \"" + t.sent + "\", \"outcome\": " +
             JsonText(t.outcome) + "}";
    } else {
      char line[160];
      std::snprintf(line, sizeof line, "%s  %-15s  %-*s%s\n", mac.c_str(),
                    address.empty() ? "-" : address.c_str(), t.outcome.empty() ? 0 : 24,
                    t.sent.c_str(), t.outcome.empty() ? "" : ("  " + t.outcome).c_str());
      out += line;
    }
  }
  if (format == TableFormat::kJson) out += targets.empty() ? "]\n" : "\n]\n";
  return out;
}
