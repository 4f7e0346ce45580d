// DRVFIXUP's application object.
#pragma once

#include "dialog/app.h"

class CFixupApp : public CWinApp {
 public:
  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};
