// The agent's events as the event log gets them; each message of
// agent_events.mc takes its inserts %1, %2, ... once each.
#include "agent/agent_events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

namespace {

using platform::EventType;
using Report = std::tuple<EventType, uint32_t, std::vector<std::string>>;
std::vector<Report> reports;

TEST(AgentEvents, ReachTheEventLogAsTheMessagesOfTheirTable) {
  ReportEventCall = [](EventType type, uint32_t id, const char*, const char* const* s, size_t n) {
    reports.emplace_back(type, id, std::vector<std::string>(s, s + n));
  };
  const ManagerAddress manager(0x0900A8C0);  // 192.168.0.9 as a little-endian host holds it
  ReportAgentEvent(AgentEvent::kStarted);
  ReportAgentEvent(AgentEvent::kStopped);
  ReportAgentEvent(AgentEvent::kPowerOffAccepted, {manager.text, "signed with manager key 2"});
  ReportAgentEvent(AgentEvent::kPowerOffCancelled, {"1"});
  ReportAgentEvent(AgentEvent::kRefused, {manager.text, "not in AllowedManagers"});
  ReportAgentEvent(AgentEvent::kStartFailed, {"no port"});
  const std::vector<Report> expected = {
      {EventType::kInformation, 1, {}}, {EventType::kInformation, 2, {}},
      {EventType::kInformation, 3, {"192.168.0.9", "signed with manager key 2"}}, {EventType::kInformation, 4, {"1"}},
      {EventType::kWarning, 5, {"192.168.0.9", "not in AllowedManagers"}},
      {EventType::kError, 6, {"no port"}}};
  EXPECT_EQ(reports, expected);
  reports.clear();
  for (int i = 0; i < 30; ++i) ReportAgentEvent(AgentEvent::kRefused, {manager.text, "flood"});
  EXPECT_EQ(reports.size(), 19u);  // 20 a minute, the table's one among them
  ReportEventCall = platform::ReportSystemEvent;

  std::ifstream in(ORVEL_EVENTS_MC, std::ios::binary);
  const std::string mc{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  for (const auto& [type, id, strings] : expected) {
    const size_t at = mc.find("MessageId=" + std::to_string(id) + "\n");
    ASSERT_NE(at, std::string::npos) << id;
    const std::string text = mc.substr(at, mc.find("\n.\n", at) - at);
    EXPECT_EQ(std::count(text.begin(), text.end(), '%'), std::ptrdiff_t(strings.size())) << id;
  }
}

}  // namespace
