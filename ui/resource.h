// Resource and control identifiers, shared by the code, the dialog layouts
// (ui/resources.cpp) and the Windows resource script.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDR_MAINFRAME 128

#define IDC_MACHINE_TYPE 1000
#define IDC_LOAD_FILE 1001
#define IDC_PROGRAM 1002
#define IDC_EXIT 1003
#define IDC_LENGTH 1004
#define IDC_SEND_LENGTH 1005
#define IDC_PROGRESS 1006
#define IDC_STATUS 1007

#define IDM_ABOUTBOX 0x0010

#define IDC_STATIC (-1)
