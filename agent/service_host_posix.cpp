// The agent as a Linux daemon: SIGTERM or SIGINT takes the place of the stop
// control and runs the same stop sequence. Settings come from the file
// named by $ORVEL_AGENT_CONF, the port from the services database.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "agent/agent_options.h"
#include "agent/agent_start.h"
#include "platform/thread.h"

namespace {

const char kHelp[] =
    "usage: pwragent [--help | --version]\n"
    "\n"
    "The ORVEL Nimbrel agent as a Linux daemon: answers the manager console's\n"
    "MAC queries and power-offs on its TCP port until SIGTERM or SIGINT, and\n"
    "reports its start, stop, power-offs, refused connections and failed\n"
    "start-ups on standard error. Settings are Name=Value lines in the file\n"
    "named by $ORVEL_AGENT_CONF (default /etc/orvel-agent.conf); the port is its\n"
    "Port= line, else the services entry QX_WOL_AGT/tcp (/etc/services, or the\n"
    "file named by $ORVEL_SERVICES_FILE).\n"
    "  --help     prints this text\n"
    "  --version  prints the version\n"
    "\n"
    "exit codes:\n"
    "  0  stopped by SIGTERM or SIGINT\n"
    "  1  the start-up thread cannot start\n"
    "  2  usage error\n";

void AgentServiceMain(void* /*unused*/) { AgentStart(); }

}  // namespace

int main(int argc, char** argv) {
  const int rc = AgentOptions(argc, argv, "pwragent", kHelp);
  if (rc >= 0) return rc;
  // Blocked before any thread starts, so that every thread inherits the mask
  // and the signals wait for sigwait below.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  SetLogDir('/');
  if (!platform::StartDetachedThread(AgentServiceMain, nullptr)) {
    std::fprintf(stderr, "pwragent: cannot start the start-up thread\n");
    return 1;
  }
  int signal_number = 0;
  while (sigwait(&stop_signals, &signal_number) != 0) {
  }
  AgentStop();
  // Threads that outlived the stop sequence may still run; end without
  // destroying anything under them.
  std::fflush(nullptr);
  std::_Exit(0);
}
