// CONSETUP's application object.
#pragma once

#include "dialog/app.h"

class CManagerSetupApp : public CWinApp {
 public:
  BOOL InitInstance() override;
};
