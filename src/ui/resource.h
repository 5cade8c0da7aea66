// Resource and control identifiers of the kelm window (dialog 101). Shared by the resource
// script and the program; the numbers are fixed.
#pragma once

#define IDD_MAIN 101
#define IDI_APP 105
#define IDB_LOGO 109
#define IDR_MANIFEST 1

// Commands that no control of the dialog sends.
#define IDC_EXIT 1000         // ends the program
#define IDC_PANEL_RESET 1021  // board reset from the engineering panel

#define IDC_CONNECT 1001      // "&Connect \nto kelm"
#define IDC_INPUT_STATE 1002  // monitor text; no control in the dialog
#define IDC_STATUS 1005       // the status line

// Engineering panel: eight buttons and their fields that dialog 101 does not contain. Kept on
// purpose, with the code behind them (src/ui/engineering_panel.cpp), so that nobody "fixes" it
// away:
// - the commands still arrive as WM_COMMAND with these identifiers (a tool that sends them, and
//   the tests), and each must do what the board's engineers rely on;
// - the fields (data, address, count, bank, radio pair) are read through GetDlgItem, which finds
//   nothing in dialog 101, so the panel falls back to its defaults (bank 0, its fixed counts);
// - texts set on controls the dialog lacks go nowhere, which is harmless by design.
#define IDC_PANEL_READ 1003    // "&Read"
#define IDC_PANEL_WRITE 1004   // "&Write" (no command)
#define IDC_PANEL_ERASE 1008   // "&Erase"
#define IDC_BLANK_CHECK 1009   // "&Blank Check"
#define IDC_PROGRAM 1010       // "&Program..."
#define IDC_UPLOAD 1011        // "&Upload..."
#define IDC_STOP_MONITOR 1012  // "Reset"
#define IDC_VERIFY 1013        // "&Verify..."
#define IDC_PANEL_DATA 1014
#define IDC_PANEL_ADDRESS 1015
#define IDC_PANEL_COUNT 1017
#define IDC_PANEL_BANK 1020
#define IDC_PANEL_RADIO_A 1006
#define IDC_PANEL_RADIO_B 1007

// Flash menu.
#define IDC_READ 1055    // "Read"
#define IDC_FORMAT 1056  // "Format" (hidden, no command)
#define IDC_WRITE 1057   // "Write"
#define IDC_ERASE 1058   // "Erase"
#define IDC_ABORT 1059   // "Abort"

// Hidden radio buttons, only ever unchecked.
#define IDC_RADIO_1 1049
#define IDC_RADIO_2 1050
#define IDC_RADIO_3 1051
#define IDC_RADIO_4 1052
#define IDC_RADIO_5 1053
#define IDC_RADIO_6 1054

// Hidden check boxes that nothing addresses.
#define IDC_BOOT_X 1061
#define IDC_BOOT_Y 1064
#define IDC_BOOT_GAME 1065
#define IDC_BOOT_AUTO 1066

// Slot buttons, in slot order. The numbering has gaps (1026, 1030-1032 are no slot):
// address them through SlotButtonIds, never by arithmetic.
#define IDC_SLOT_0 1022
#define IDC_SLOT_1 1023
#define IDC_SLOT_2 1024
#define IDC_SLOT_3 1025
#define IDC_SLOT_4 1027
#define IDC_SLOT_5 1028
#define IDC_SLOT_6 1029
#define IDC_SLOT_7 1033
#define IDC_SLOT_8 1034
#define IDC_SLOT_9 1035
#define IDC_SLOT_10 1036
#define IDC_SLOT_11 1037
#define IDC_SLOT_12 1038
#define IDC_SLOT_13 1039
#define IDC_SLOT_14 1040
#define IDC_SLOT_15 1041
#define IDC_SLOT_16 1089
#define IDC_SLOT_17 1090
#define IDC_SLOT_18 1091
#define IDC_SLOT_19 1092
#define IDC_SLOT_20 1093
#define IDC_SLOT_21 1094
#define IDC_SLOT_22 1095
#define IDC_SLOT_23 1096
#define IDC_SLOT_24 1097
#define IDC_SLOT_25 1098
#define IDC_SLOT_26 1099
#define IDC_SLOT_27 1100
#define IDC_SLOT_28 1101
#define IDC_SLOT_29 1102
#define IDC_SLOT_30 1103
#define IDC_SLOT_31 1104
