// The catalogue scan: slot headers read from the board, turned into the slot map and labels.
#include "catalogue/catalogue_scan.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/flash_layout.h"
#include "core/slot_header.h"
#include "core/slot_map.h"
#include "device/flash_transfer.h"
#include "ui/resource.h"
#include "ui/status_line.h"

// Written by the dialog thread only (ScanCatalogue). All zero (Free, owner 0) before the first
// scan.
SlotEntry SlotMap[kSlotCount];
// Written by the dialog thread only (ScanCatalogue). Continuation slots keep what an earlier
// scan left there.
SlotHeader HeaderDirectory[kSlotCount];

const int SlotButtonIds[kSlotCount] = {
    IDC_SLOT_0,  IDC_SLOT_1,  IDC_SLOT_2,  IDC_SLOT_3,  IDC_SLOT_4,  IDC_SLOT_5,  IDC_SLOT_6,
    IDC_SLOT_7,  IDC_SLOT_8,  IDC_SLOT_9,  IDC_SLOT_10, IDC_SLOT_11, IDC_SLOT_12, IDC_SLOT_13,
    IDC_SLOT_14, IDC_SLOT_15, IDC_SLOT_16, IDC_SLOT_17, IDC_SLOT_18, IDC_SLOT_19, IDC_SLOT_20,
    IDC_SLOT_21, IDC_SLOT_22, IDC_SLOT_23, IDC_SLOT_24, IDC_SLOT_25, IDC_SLOT_26, IDC_SLOT_27,
    IDC_SLOT_28, IDC_SLOT_29, IDC_SLOT_30, IDC_SLOT_31,
};

namespace {

constexpr char kDiagnosticFormat[] = "%02x %02x %02x %02x %08x\n";
constexpr uint32_t kScanBytes = kSlotCount * kHeaderSize;  // 8,192: every header read

void SetSlotLabel(HWND window, int slot, const char* label) {
    HWND button = GetDlgItem(window, SlotButtonIds[slot]);
    if (button == nullptr) return;  // a window without slot buttons has nothing to label
    // A refused text leaves the old label; the slot map, not the labels, is what later
    // operations read, so the scan goes on.
    static_cast<void>(SetWindowTextA(button, label));
}

// kelm.exe is a GUI program with no console of its own: the line reaches nobody unless standard
// output is redirected, which is how a board's headers are looked at when something is wrong
// with them, and how the tests read them.
void PrintDiagnostic(const SlotHeader& header) {
    const uint8_t* magic = reinterpret_cast<const uint8_t*>(header.magic);
    std::printf(kDiagnosticFormat, magic[0], magic[1], magic[2], magic[3],
                static_cast<unsigned>(header.size));
    std::fflush(stdout);
}

}  // namespace

int SlotForButtonId(int id) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (SlotButtonIds[slot] == id) return slot;
    }
    return -1;
}

void ScanCatalogue(HWND window) {
    StartProgress(kScanBytes);
    int i = 0;
    while (i < kSlotCount) {
        SlotHeader& header = HeaderDirectory[i];
        // A failed read has shown its own message; the entry is classified from whatever the
        // read left in it, and the scan goes on. The entry is cleared first: left over from an
        // earlier scan it is already in host order, and converting it again would give a wrong
        // size, and so a wrong run, to a slot that holds an image.
        std::memset(&header, 0, sizeof header);
        static_cast<void>(ReadRange(reinterpret_cast<uint8_t*>(&header),
                                    static_cast<int32_t>(i * kSlotSize),
                                    static_cast<int32_t>(kHeaderSize)));
        HeaderToHostOrder(header);
        PrintDiagnostic(header);
        const char* labels[kSlotCount] = {};
        const int settled = ClassifySlot(header, i, SlotMap, labels);
        for (int k = i; k < i + settled; ++k) SetSlotLabel(window, k, labels[k]);
        i += settled;
    }
    SetStatusLine(kScanDoneText);
}
