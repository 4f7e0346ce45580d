#include "agent/agent_sleep.h"

#include <chrono>
#include <thread>

namespace {

void RealSleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

void (*AgentSleep)(uint32_t ms) = RealSleep;
