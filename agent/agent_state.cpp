#include "agent/agent_state.h"

const char AGENT_KEY[] = "SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Agent";

std::atomic<uint32_t> dwServiceStop{0};
std::atomic<uint32_t> dwAgentEnd{0};
std::atomic<uint32_t> dwThreadEnd{1};
std::atomic<long> ThreadCnt{0};
platform::NamedMutex hShutdownMutex;
AdapterEntry* AdapterList = nullptr;
