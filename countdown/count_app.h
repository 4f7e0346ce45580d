// PWRCOUNT's application object.
#pragma once

#include "dialog/app.h"

class CCountdownApp : public CWinApp {
 public:
  BOOL InitInstance() override;
};
