// Identifiers of the stand-in's test dialogs (test_dialog.rc), shared by the resource script and
// the tests. Plain #defines: the resource compiler reads this file too.
#pragma once

#define IDD_EXTENDED 200
#define IDD_CLASSIC 201
#define IDD_EMPTY 202
#define IDD_NAMED_TEXT "NAMED"  // the script writes the name itself
#define IDR_CUSTOM_DATA 1
#define IDR_RAW_DATA 7
#define IDB_PICTURE 109
#define IDM_MENU 300

// Controls of IDD_EXTENDED, in template order.
#define IDC_GO 10
#define IDC_HIDDEN 11
#define IDC_OFF 12
#define IDC_CHECK 13
#define IDC_TRISTATE 14
#define IDC_PLAIN_CHECK 15
#define IDC_RADIO_A 20
#define IDC_RADIO_B 21
#define IDC_RADIO_C 22
#define IDC_RADIO_D 23
#define IDC_FIELD 30
#define IDC_CHOICE 31
#define IDC_STATUS 40
#define IDC_LATIN 41
#define IDC_CUSTOM 42
#define IDC_WIDE 43
#define IDC_FRAME 44
#define IDC_ANONYMOUS -1

#ifndef RC_INVOKED
#include <cstddef>
#include <cstdint>

// The compiled test_dialog.rc, embedded by the host build.
extern const uint8_t kTestDialogRes[];
extern const size_t kTestDialogResSize;
#endif
