// Resource ids of PWRCOUNT, shared by the resource script and the code.
#pragma once

#define IDD_PWRCOUNT_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_SECONDS_LEFT 1000
#define IDC_TIME_BAR 1001
#define IDS_APP_TITLE 57344  // the framework's application-title string
