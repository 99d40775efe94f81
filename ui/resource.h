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
#define IDM_UNLOCK 0x0020
#define IDM_LOCK 0x0030

// The station window: one template for each number of positions, 1 to 16
// (IDD_STATION + n), its setup dialog, and the supervisor's password.
#define IDD_STATION 200
#define IDD_STATION_SETUP 230
#define IDD_STATION_PASSWORD 231

#define IDC_ST_TYPE 1100
#define IDC_ST_IMAGE 1101
#define IDC_ST_FILE 1102
#define IDC_ST_TOTALS 1103
#define IDC_ST_START 1104
#define IDC_ST_STOP 1105
#define IDC_ST_SETTINGS 1106
#define IDC_ST_EXIT 1107
#define IDC_ST_RECORD 1108
#define IDC_ST_SCAN 1109
#define IDC_ST_SCAN_NOTE 1110

// Each position's panel: IDC_PANEL + 16 * index + one of the fields.
#define IDC_PANEL 2000
#define PANEL_BOX 0
#define PANEL_PORT 1
#define PANEL_STATE 2
#define PANEL_PROGRESS 3
#define PANEL_PERCENT 4
#define PANEL_RESULT 5
#define PANEL_REASON 6
#define PANEL_COUNTS 7

#define IDC_SU_TYPE 1200
#define IDC_SU_IMAGE 1201
#define IDC_SU_IMAGE_BROWSE 1202
#define IDC_SU_SHA 1203
#define IDC_SU_PORTS 1204
#define IDC_SU_RECORD 1205
#define IDC_SU_RECORD_BROWSE 1206
#define IDC_SU_TIMEOUT 1207
#define IDC_SU_SAVE_AS 1208

#define IDC_PW_PASSWORD 1300

#define IDC_STATIC (-1)
