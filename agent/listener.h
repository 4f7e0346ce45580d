// The agent's TCP listener and its chain of accept threads: one thread waits
// for a connection; the thread that gets one starts its successor and then
// serves that connection until it ends.
#pragma once

#include "platform/socket.h"

// Opens the agent's port (GetAgentPort) and starts the first accept thread.
// Failures are logged; the service then runs without a port.
void StartListen();

// 1 when the port was found: address 0 (INADDR_ANY), the port in network
// byte order. The Port value of the agent key names it when it is valid; a
// present but invalid one is traced as "Error Port : "VALUE"". Otherwise the
// services entry QX_WOL_AGT/tcp names it. 0 when neither does.
int GetAgentPort(platform::Ipv4Address* address);

// The Port value: decimal digits only (leading zeros allowed, as Windows
// Installer reads a number), 1 to 65535. The port in host byte order.
bool ParseAgentPort(const char* text, uint16_t* port);

// The stop: after dwAgentEnd is 1, wakes the waiting accept thread (and any
// started later) to see it. Called after StartListen has returned, if at all.
void WakeAcceptThreads();

// The procedure of every accept thread; the argument is not used.
void AcceptThreadProc(void* unused);
