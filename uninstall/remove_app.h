// AGTREMOV's application object.
#pragma once

#include "dialog/app.h"

class CAgentRemoveApp : public CWinApp {
 public:
  BOOL InitInstance() override;
};
