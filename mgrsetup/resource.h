// Resource ids of CONSETUP, shared by the resource script and the code.
#pragma once

#define IDD_CONSETUP_DIALOG 102
#define IDR_MAINFRAME 128
#define IDS_APP_TITLE 57344  // the framework's application-title string
