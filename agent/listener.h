// The agent's TCP listener and its chain of accept threads: one thread waits
// for a connection; the thread that gets one starts its successor and then
// serves that connection until it ends.
#pragma once

#include "platform/socket.h"

// Opens the port of the services entry QX_WOL_AGT/tcp and starts the first
// accept thread. Failures are logged; the service then runs without a port.
void StartListen();

// 1 when the services entry was found: address 0 (INADDR_ANY), the entry's
// port in network byte order. 0 otherwise.
int GetAgentPort(platform::Ipv4Address* address);

// The stop: after dwAgentEnd is 1, wakes the waiting accept thread (and any
// started later) to see it. Called after StartListen has returned, if at all.
void WakeAcceptThreads();

// The procedure of every accept thread; the argument is not used.
void AcceptThreadProc(void* unused);
