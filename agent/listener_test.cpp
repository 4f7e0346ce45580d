#include "agent/listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#ifndef _WIN32
#include <arpa/inet.h>
#endif

#include "agent/agent_state.h"
#include "log/log_test_support.h"
#include "platform/process.h"
#include "platform/socket.h"

namespace {

using namespace std::chrono_literals;

// Sockets stay out of child processes: once closed here, their port can be
// bound again and their peer sees the end, though a child started while they
// were open runs on (for 5 s).
TEST(Listener, SocketsStayOutOfChildProcesses) {
  ASSERT_EQ(platform::SocketsStartup(), 0);
  platform::Ipv4Address at{0, 0}, peer{0, 0};
  ASSERT_TRUE(platform::ResolveHost("127.0.0.1", &at.address));
  platform::Socket listener = platform::Socket::Create(), client = platform::Socket::Create();
  ASSERT_TRUE(listener.Bind(at) && listener.Listen(1) && listener.LocalAddress(&at));
  ASSERT_TRUE(client.Connect(at));
  platform::Socket served = listener.Accept(&peer);
  ASSERT_TRUE(served.valid());
#ifdef _WIN32
  platform::Process child = platform::Process::Start("countdown_fixture.exe 0 5 5");
#else
  platform::Process child = platform::Process::Start("sleep 5");
#endif
  ASSERT_TRUE(child.valid());
  listener.Close();
  served.Close();
  uint8_t b = 0;
  EXPECT_TRUE(client.WaitReadable(2000) == 1 && client.Recv(&b, 1) == 0) << "the child holds it";
  EXPECT_TRUE(platform::Socket::Create().Bind(at)) << "the child holds the port";
}

#ifndef _WIN32
// A lasting accept error (the listening socket shut down under the chain,
// without a stop) is logged about every 100 ms, not in a spin of threads; the
// stop flag still ends the chain.
TEST(Listener, AcceptErrorsPauseTheChain) {
  logtest::ScratchLogDir dir;
  platform::Ipv4Address at{0, 0};
  {
    platform::Socket probe = platform::Socket::Create();
    ASSERT_TRUE(probe.Bind(at) && probe.LocalAddress(&at));
  }
  logtest::WriteAll(dir.Path("services"),
                    "QX_WOL_AGT " + std::to_string(ntohs(at.port)) + "/tcp\n");
  setenv("ORVEL_SERVICES_FILE", dir.Path("services").c_str(), 1);
  StartListen();
  ASSERT_TRUE(logtest::WaitFor([] { return ThreadCnt == 1; }));
  platform::SocketsCleanup();
  const auto errors = [&] {
    const std::vector<std::string> t = dir.Texts("QX_WOL_A.LOG");
    return std::count(t.begin(), t.end(), "Error accept() : Code = 22");  // EINVAL
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(logtest::WaitFor([&] { return errors() >= 5; }));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 400ms) << "5 errors in " << waited / 1ms << " ms";
  dwAgentEnd = 1;
  EXPECT_TRUE(logtest::WaitFor([] { return ThreadCnt == 0; }));
  unsetenv("ORVEL_SERVICES_FILE");
}

// The Port value names the port; an invalid one is traced once and the
// services entry (port 4242) names it instead; with neither there is none.
TEST(Listener, PortFromTheSettingElseTheServicesEntry) {
  struct Case {
    std::string line;  // of the settings file; "" for no Port value
    bool entry;        // the services file has QX_WOL_AGT
    int port;          // 0: no port
    const char* trace;
  };
  const Case cases[] = {
      {"", true, 4242, nullptr},
      {"", false, 0, nullptr},  // StartListen traces the lookup's failure
      {"Port=50123", false, 50123, nullptr},
      {"Port=65535", true, 65535, nullptr},
      {"Port=08080", false, 8080, nullptr},  // a number to Windows Installer too
      {"Port=0", true, 4242, "Error Port : \"0\""},
      {"Port=65536", true, 4242, "Error Port : \"65536\""},
      {"Port=4294967376", true, 4242, "Error Port : \"4294967376\""},  // 2^32 + 80
      {"Port=", true, 4242, "Error Port : \"\""},
      {"Port= 80", true, 4242, "Error Port : \" 80\""},
      {"Port=0x50", true, 4242, "Error Port : \"0x50\""},
      {"Port=8O", false, 0, "Error Port : \"8O\""},
      {"Port=" + std::string(64, '1'), true, 4242, "Error Port : over 63 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    logtest::ScratchLogDir dir;
    logtest::WriteAll(dir.Path("agent.conf"), "LogFilePath=x\n" + c.line + "\n");
    logtest::WriteAll(dir.Path("services"), c.entry ? "QX_WOL_AGT 4242/tcp\n" : "");
    setenv("ORVEL_AGENT_CONF", dir.Path("agent.conf").c_str(), 1);
    setenv("ORVEL_SERVICES_FILE", dir.Path("services").c_str(), 1);
    platform::Ipv4Address at{1, 1};
    EXPECT_EQ(GetAgentPort(&at), c.port != 0);
    if (c.port != 0) {
      EXPECT_EQ(ntohs(at.port), c.port);
      EXPECT_EQ(at.address, 0u);
    }
    const std::vector<std::string> trace = dir.Texts("QX_WOL_A.LOG");
    if (c.trace) {
      ASSERT_EQ(trace.size(), 1u);
      EXPECT_EQ(trace[0].rfind(c.trace, 0), 0u) << trace[0];
    } else {
      EXPECT_TRUE(trace.empty()) << trace[0];
    }
  }
  unsetenv("ORVEL_AGENT_CONF");
  unsetenv("ORVEL_SERVICES_FILE");
}
#endif

}  // namespace
