// The agent as a Linux daemon: SIGTERM or SIGINT takes the place of the stop
// control and runs the same stop sequence. Settings come from the file
// named by $ORVEL_AGENT_CONF, the port from the services database.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "agent/agent_start.h"
#include "platform/thread.h"

namespace {

void AgentServiceMain(void* /*unused*/) { AgentStart(); }

}  // namespace

int main() {
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
