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
#endif

}  // namespace
