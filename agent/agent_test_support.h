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

namespace agenttest {

// The record texts of one log in the scratch directory, oldest first.
inline std::vector<std::string> LogTexts(const logtest::ScratchLogDir& dir, const char* file) {
  return logtest::LogTexts(dir.dir() / file);
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
