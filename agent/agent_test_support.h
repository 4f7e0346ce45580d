// Shared by the agent's unit tests: the trace and operation-log texts written
// into a scratch log directory, and a pause that costs no real time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_sleep.h"
#include "agent/agent_state.h"
#include "log/log_test_support.h"
#include "log/ring_reader.h"

namespace agenttest {

// The record texts of one log, oldest first, without their timestamps
// ("2001/10/05 01:39:14.007 ").
inline std::vector<std::string> LogTexts(const logtest::ScratchLogDir& dir, const char* file) {
  std::vector<std::string> records, texts;
  std::string error;
  const std::string bytes = logtest::ReadAll(dir.Path(file));
  if (bytes.empty() || !ReadRingLog(bytes, &records, &error)) return texts;
  for (const std::string& r : records) texts.push_back(r.size() > 24 ? r.substr(24) : "");
  return texts;
}

inline std::vector<std::string> TraceTexts(const logtest::ScratchLogDir& dir) {
  return LogTexts(dir, "QX_WOL_A.LOG");
}

inline std::vector<std::string> OperationTexts(const logtest::ScratchLogDir& dir) {
  return LogTexts(dir, "TAVANLOG.TXT");
}

// Counts the pauses instead of waiting them out (real_ms_per_pause lets a
// child process run meanwhile); sets dwServiceStop after stop_after pauses.
struct FakeSleep {
  static inline uint32_t pauses = 0;
  static inline uint64_t total_ms = 0;
  static inline uint32_t stop_after = 0;  // 0: never
  static inline uint32_t real_ms_per_pause = 0;

  static void Sleep(uint32_t ms) {
    ++pauses;
    total_ms += ms;
    if (real_ms_per_pause) {
      std::this_thread::sleep_for(std::chrono::milliseconds(real_ms_per_pause));
    }
    if (stop_after && pauses >= stop_after) dwServiceStop = 1;
  }
  static void Install() {
    pauses = 0;
    total_ms = 0;
    stop_after = 0;
    real_ms_per_pause = 0;
    AgentSleep = Sleep;
  }
};

}  // namespace agenttest
