// Resource ids of AGTREMOV, shared by the resource script and the code.
#pragma once

#define IDD_AGTREMOV_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_REMOVE_HELP 129
#define IDD_REMOVE_DONE 130
#define IDS_APP_TITLE 57344  // the framework's application-title string
#define IDC_HELP_BUTTON 57670  // the framework's Help command
