// Stopping and deleting one of the agent's services.
#pragma once

#include <windows.h>

// The system error code of the last failed service operation.
extern DWORD dwLastError;

// Stops the service, waits for it to stop, and deletes it. 1 on success,
// also when there is no such service; 0 on failure with dwLastError set.
int RemoveService(const char* serviceName);
