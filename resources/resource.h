// Resource identifiers of Morvane.exe.
#pragma once

#define IDR_MAINFRAME      128
#define IDD_MORVANE_DIALOG 102

#define IDC_NO_BTN   1000
#define IDC_YES_BTN  1001
#define IDC_CAN_BTN  1002
#define IDC_UPD_MES  1003
#define IDC_PICTURE  1004
#define IDC_PROGRESS 1005
#define IDC_REASON   1006
#define IDC_PKG_SIZE 1007
#define IDC_DL_LINE  1008
