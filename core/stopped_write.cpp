// What the flash holds after a write of an image stopped part of the way.
#include "core/stopped_write.h"

#include "core/flash_layout.h"

std::string SlotRange(int first, int count) {
    if (count == 1) return "slot " + std::to_string(first);
    return "slots " + std::to_string(first) + "-" + std::to_string(first + count - 1);
}

std::string DescribeStoppedWrite(const std::string& name, int start, int slots,
                                 const ImageWriteStage& stage) {
    const std::string range = SlotRange(start, slots);
    if (stage.written) return range + " hold " + name + ", written but not verified";
    if (stage.erased == 0) return "nothing was changed";
    if (stage.erased < slots) {
        return SlotRange(start, stage.erased) + " of " + range +
               " were erased (they were free); nothing else was changed";
    }
    // Only the first slot's header is held back, so the slots after it hold their data from
    // offset 0 and read as whatever those bytes look like.
    const std::string rest = slots == 1 ? ""
                                        : ", " + SlotRange(start + 1, slots - 1) +
                                              " may read as ??? until they are written or erased";
    return range + " hold part of " + name + " without its header: slot " + std::to_string(start) +
           " reads as free" + rest + "; nothing else was changed";
}

std::string DescribeStoppedRestore(const std::string& name, const ImageWriteStage& stage) {
    if (stage.written) return "the flash holds " + name + ", written but not verified";
    if (stage.erased == 0) return "nothing was changed";
    if (stage.erased < kSlotCount) {
        return SlotRange(0, stage.erased) + " were erased; the rest of the flash is as it was";
    }
    return "the flash was erased and holds part of " + name +
           " without the slots' headers: every slot reads as free";
}

std::string DescribeStoppedErase(int first, int count, int erased) {
    return SlotRange(first, erased) + " of " + SlotRange(first, count) + " were erased; " +
           SlotRange(first + erased, count - erased) +
           " still hold the rest of the image and may read as ???; erase them to finish";
}
