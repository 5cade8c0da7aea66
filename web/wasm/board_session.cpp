// The web page's session with one board: its jobs built from the operations kelmtool runs, in the
// same order, so that the page and kelmtool send the same reports for the same act.
#include "web/wasm/board_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/flash_layout.h"
#include "core/image_place.h"

namespace web {

namespace {

const char kErasing[] = "erasing";
const char kWriting[] = "writing";
const char kVerifying[] = "verifying";
const char kReading[] = "reading";
// A job asked for while another runs: the page's buttons prevent it, and the running job's
// buffers must not change under it.
const char kJobRunning[] = "another operation is running: wait for it to end";

std::unique_ptr<core::Operation> Single(core::SingleTransfer transfer) {
    return std::make_unique<core::SingleTransfer>(transfer);
}

}  // namespace

uint8_t* BoardSession::FileBuffer(uint32_t length) {
    imageReady_ = false;
    file_.assign(length, 0);
    return file_.data();
}

std::string BoardSession::PrepareImage(const std::string& fileName, uint64_t fileLength) {
    imageReady_ = false;
    const size_t dot = fileName.rfind('.');
    const auto kind =
        dot == std::string::npos ? std::nullopt : KindFromName(fileName.substr(dot + 1));
    if (!kind) {
        return "cannot tell the kind of " + fileName +
               " from its name: choose a .gcb, .dol, .elf or .vgc file";
    }
    uint8_t head[kImageHeadSize] = {};
    std::memcpy(head, file_.data(), std::min<size_t>(file_.size(), kImageHeadSize));
    if (const auto refusal = RefusalOf(*kind, fileLength, head, fileName)) return *refusal;
    LayOutImage(*kind, fileLength, head, fileName, image_);
    if (const auto refusal = SizeRefusal(image_, fileName)) return *refusal;
    // Every file that fits the flash is handed over whole.
    if (file_.size() != fileLength) return "the page did not read all of " + fileName;
    fileName_ = fileName;
    imageReady_ = true;
    return "";
}

bool BoardSession::CanPlaceImage(int start) const {
    return imageReady_ && CanPlaceOn(catalogue_.map, start, image_.slots, image_.alignMask);
}

uint8_t* BoardSession::DumpBuffer(uint32_t length) {
    dump_.assign(length, 0);
    return dump_.data();
}

std::string BoardSession::CheckDump(const std::string& fileName, uint64_t fileLength) {
    dumpName_ = fileName;
    if (fileLength != kFlashSize) {
        dump_.clear();
        return fileName + " is " + std::to_string(fileLength) + " bytes long, not a dump of " +
               std::to_string(kFlashSize);
    }
    if (dump_.size() != kFlashSize) return "the page did not read all of " + fileName;
    return "";
}

void BoardSession::Begin(std::unique_ptr<Job> job, Changes changes,
                         const core::EraseSlots* erasing) {
    changes_ = changes;
    erasing_ = erasing;
    slotsDiffer_ = false;
    job_ = std::move(job);
    report_ = nullptr;
    // A Cancel pressed as the last job gave the bus back was of that job, not of this one.
    engine_.ForgetStop();
    engine_.Start(*job_);
}

void BoardSession::TakeImage() {
    jobFile_ = {fileName_, image_, file_};
    imageSource_ = std::make_unique<ImageSource>(jobFile_.image, jobFile_.bytes);
}

void BoardSession::TakeDump() {
    jobFile_ = {dumpName_, ImageLayout(), dump_};
    dumpSource_ = std::make_unique<BufferSource>(jobFile_.bytes);
}

std::string BoardSession::StartCatalogue() {
    if (engine_.running()) return kJobRunning;
    reading_ = core::Catalogue();
    auto job = std::make_unique<Job>();
    job->Add(std::make_unique<core::ReadCatalogue>(reading_), kReading, 0,
             [this] { catalogue_ = reading_; });
    Begin(std::move(job), Changes::Nothing, nullptr);
    return "";
}

std::string BoardSession::StartRelease() {
    if (engine_.running()) return kJobRunning;
    auto job = std::make_unique<Job>();
    job->Add(Single(core::SingleTransfer::BusRelease()), "", 0);
    Begin(std::move(job), Changes::Nothing, nullptr);
    return "";
}

std::string BoardSession::StartWrite(int wanted, bool verify) {
    if (engine_.running()) return kJobRunning;
    if (!imageReady_) return "choose an image file first";
    if (const auto refusal = PlaceImage(catalogue_.map, image_, fileName_, wanted, 0, first_)) {
        return *refusal;
    }
    count_ = image_.slots;
    stage_ = ImageWriteStage();
    TakeImage();
    const uint32_t address = static_cast<uint32_t>(first_) * kSlotSize;
    auto job = std::make_unique<Job>();
    job->Add(Single(core::SingleTransfer::BusRequest()), "", 0);
    auto erase = std::make_unique<core::EraseSlots>(first_, image_.slots);
    const core::EraseSlots* erasing = erase.get();
    job->Add(std::move(erase), kErasing, static_cast<uint64_t>(image_.slots) * kSlotSize);
    job->Add(std::make_unique<core::WriteFromSource>(address, image_.imageLength, *imageSource_,
                                                     core::HeldBack::FirstSlot),
             kWriting, image_.imageLength, [this] { stage_.written = true; });
    if (verify) {
        const uint64_t covered = ReadBackLength(image_);
        job->Add(std::make_unique<core::VerifyAgainstSource>(address, covered, *imageSource_),
                 kVerifying, covered);
    }
    job->Add(Single(core::SingleTransfer::BusRelease()), "", 0);
    Begin(std::move(job), Changes::Image, erasing);
    return "";
}

std::string BoardSession::RunOfSlot(int slot) {
    if (slot < 0 || slot >= kSlotCount) {
        return "slot " + std::to_string(slot) + " does not exist (0 to 31)";
    }
    if (catalogue_.map[slot].state == SlotState::Free) {
        return "slot " + std::to_string(slot) + " is free";
    }
    first_ = catalogue_.map[slot].owner;
    count_ = RunOf(catalogue_.map, first_);
    return "";
}

std::string BoardSession::StartBackup(int slot) {
    if (engine_.running()) return kJobRunning;
    const std::string refused = RunOfSlot(slot);
    if (!refused.empty()) return refused;
    const uint64_t bytes = static_cast<uint64_t>(count_) * kSlotSize;
    read_.clear();
    read_.reserve(static_cast<size_t>(bytes));
    readSink_ = std::make_unique<BufferSink>(read_);
    auto job = std::make_unique<Job>();
    job->Add(Single(core::SingleTransfer::BusRequest()), "", 0);
    job->Add(std::make_unique<core::ReadToSink>(static_cast<uint32_t>(first_) * kSlotSize, bytes,
                                                *readSink_),
             kReading, bytes);
    job->Add(Single(core::SingleTransfer::BusRelease()), "", 0);
    Begin(std::move(job), Changes::Nothing, nullptr);
    return "";
}

std::string BoardSession::StartDump() {
    if (engine_.running()) return kJobRunning;
    first_ = 0;
    count_ = kSlotCount;
    read_.clear();
    read_.reserve(kFlashSize);
    readSink_ = std::make_unique<BufferSink>(read_);
    auto job = std::make_unique<Job>();
    job->Add(Single(core::SingleTransfer::BusRequest()), "", 0);
    job->Add(std::make_unique<core::ReadToSink>(0, kFlashSize, *readSink_), kReading, kFlashSize);
    job->Add(Single(core::SingleTransfer::BusRelease()), "", 0);
    Begin(std::move(job), Changes::Nothing, nullptr);
    return "";
}

std::string BoardSession::StartErase(int slot) {
    if (engine_.running()) return kJobRunning;
    const std::string refused = RunOfSlot(slot);
    if (!refused.empty()) return refused;
    stage_ = ImageWriteStage();
    auto job = std::make_unique<Job>();
    job->Add(Single(core::SingleTransfer::BusRequest()), "", 0);
    auto erase = std::make_unique<core::EraseSlots>(first_, count_);
    const core::EraseSlots* erasing = erase.get();
    job->Add(std::move(erase), kErasing, static_cast<uint64_t>(count_) * kSlotSize);
    job->Add(Single(core::SingleTransfer::BusRelease()), "", 0);
    Begin(std::move(job), Changes::Run, erasing);
    return "";
}

std::string BoardSession::StartVerify(int slot) {
    if (engine_.running()) return kJobRunning;
    if (!imageReady_) return "choose an image file first";
    const std::string refused = RunOfSlot(slot);
    if (!refused.empty()) return refused;
    // An image that runs past the flash's end was never written there, however well its first
    // slots compare.
    if (first_ + image_.slots > kSlotCount) {
        return "verify failed: " + DescribeSlotsNeeded(fileName_, image_.slots, first_, count_);
    }
    nameDiffers_ = false;
    TakeImage();
    const uint32_t address = static_cast<uint32_t>(first_) * kSlotSize;
    const uint64_t length = VerifyLength(first_, count_, image_.slots);
    auto job = std::make_unique<Job>();
    job->Add(Single(core::SingleTransfer::BusRequest()), "", 0);
    job->Add(std::make_unique<core::ReadInto>(address, storedHead_, kHeaderSize), kReading,
             kHeaderSize, [this] { nameDiffers_ = TakeStoredName(jobFile_.image, storedHead_); });
    job->Add(std::make_unique<core::VerifyAgainstSource>(address, length, *imageSource_),
             kVerifying, length);
    job->Add(Single(core::SingleTransfer::BusRelease()), "", 0);
    Begin(std::move(job), Changes::Nothing, nullptr);
    slotsDiffer_ = image_.slots != count_;
    return "";
}

std::string BoardSession::StartRestore(bool verify) {
    if (engine_.running()) return kJobRunning;
    if (dump_.size() != kFlashSize) return "choose a dump file first";
    first_ = 0;
    count_ = kSlotCount;
    stage_ = ImageWriteStage();
    TakeDump();
    auto job = std::make_unique<Job>();
    job->Add(Single(core::SingleTransfer::BusRequest()), "", 0);
    auto erase = std::make_unique<core::EraseSlots>(0, kSlotCount);
    const core::EraseSlots* erasing = erase.get();
    job->Add(std::move(erase), kErasing, kFlashSize);
    job->Add(std::make_unique<core::WriteFromSource>(0, kFlashSize, *dumpSource_,
                                                     core::HeldBack::EverySlot),
             kWriting, kFlashSize, [this] { stage_.written = true; });
    if (verify) {
        job->Add(std::make_unique<core::VerifyAgainstSource>(0, kFlashSize, *dumpSource_),
                 kVerifying, kFlashSize);
    }
    job->Add(Single(core::SingleTransfer::BusRelease()), "", 0);
    Begin(std::move(job), Changes::Everything, erasing);
    return "";
}

int BoardSession::Next(double nowMs) {
    const core::LinkStep step = engine_.Next(static_cast<uint64_t>(nowMs));
    report_ = step.report;
    return static_cast<int>(step.kind);
}

std::string BoardSession::FailureText() const {
    // Images of different lengths differ first in the size field, whose byte says little.
    if (slotsDiffer_ && engine_.failure().kind == core::FailureKind::Mismatch) {
        return "verify failed: " +
               DescribeSlotsNeeded(jobFile_.name, jobFile_.image.slots, first_, count_);
    }
    return core::Describe(engine_.failure());
}

std::string BoardSession::StoppedText() const {
    ImageWriteStage stage = stage_;
    if (erasing_ != nullptr) stage.erased = erasing_->erased();
    switch (changes_) {
        case Changes::Image:
            return DescribeStoppedWrite(jobFile_.name, first_, count_, stage);
        case Changes::Run:
            if (stage.erased > 0) return DescribeStoppedErase(first_, count_, stage.erased);
            // A stop comes between two erases; a failure may come in the middle of the first.
            return engine_.failure().kind == core::FailureKind::Stopped
                       ? "nothing was changed"
                       : "slot " + std::to_string(first_) +
                             " may be erased in part, the rest of its image is as it was; erase "
                             "it again";
        case Changes::Everything:
            return DescribeStoppedRestore(jobFile_.name, stage);
        case Changes::Nothing:
        default:
            return "nothing was changed";
    }
}

std::string BoardSession::NameOf(int slot) const {
    const SlotHeader& header = catalogue_.headers[slot];
    return std::string(header.name, strnlen(header.name, kNameSize));
}

std::string BoardSession::MagicHex(int slot) const {
    char text[9];
    const uint8_t* magic = reinterpret_cast<const uint8_t*>(catalogue_.headers[slot].magic);
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x", magic[0], magic[1], magic[2], magic[3]);
    return text;
}

void BoardSession::ApplyInput(const uint8_t* report) {
    static_cast<void>(ApplyInputReport(inputState_, report));
}

std::string BoardSession::InputText() const {
    char text[kInputTextSize];
    RenderInputState(inputState_, text);
    return std::string(text, strnlen(text, sizeof text));
}

}  // namespace web
