// The page's view of the WebAssembly module: the board session (engine, catalogue, jobs) and the
// simulated board, bound with embind. Buffers are handed out as views of the module's memory,
// to be used at once: a growing memory moves them.
#include <emscripten/bind.h>

#include <array>
#include <string>

#include "core/disconnect_notice.h"
#include "core/flash_layout.h"
#include "core/printable.h"
#include "sim/board.h"
#include "web/wasm/board_session.h"

namespace {

using emscripten::typed_memory_view;
using emscripten::val;

val View(const uint8_t* bytes, size_t length) { return val(typed_memory_view(length, bytes)); }

// The session as the page sees it.
class Session {
  public:
    explicit Session(double pollLimitMs) : session_(static_cast<uint32_t>(pollLimitMs)) {}

    val fileBuffer(uint32_t length) { return View(session_.FileBuffer(length), length); }
    // Lengths come as JavaScript numbers: a file's size may pass 4 GB.
    std::string prepareImage(const std::string& name, double length) {
        return session_.PrepareImage(name, static_cast<uint64_t>(length));
    }
    int imageSlots() const { return session_.image().slots; }
    std::string imageKind() const { return KindName(session_.image().kind); }
    double imageLength() const { return static_cast<double>(session_.image().imageLength); }
    bool canPlace(int start) const { return session_.CanPlaceImage(start); }

    val dumpBuffer(uint32_t length) { return View(session_.DumpBuffer(length), length); }
    std::string checkDump(const std::string& name, double length) {
        return session_.CheckDump(name, static_cast<uint64_t>(length));
    }

    std::string startCatalogue() { return session_.StartCatalogue(); }
    std::string startRelease() { return session_.StartRelease(); }
    std::string startWrite(int start, bool verify) { return session_.StartWrite(start, verify); }
    std::string startBackup(int slot) { return session_.StartBackup(slot); }
    std::string startDump() { return session_.StartDump(); }
    std::string startErase(int slot) { return session_.StartErase(slot); }
    std::string startVerify(int slot) { return session_.StartVerify(slot); }
    std::string startRestore(bool verify) { return session_.StartRestore(verify); }

    int next(double nowMs) { return session_.Next(nowMs); }
    val report() const { return View(session_.report(), kReportSize); }
    val answer() { return View(session_.answer(), kReportSize); }
    void sent(bool written) { session_.Sent(written); }
    void fetched(bool answered) { session_.Fetched(answered); }
    void askStop() { session_.AskStop(); }
    bool busHeld() const { return session_.busHeld(); }

    std::string failureKind() const { return FailureName(session_.failure().kind); }
    std::string failureText() const { return session_.FailureText(); }
    std::string stoppedText() const { return session_.StoppedText(); }
    bool releaseFailed() const { return session_.failure().releaseFailed; }
    std::string stage() const { return session_.job() ? session_.job()->stage() : ""; }
    double stageDone() const {
        return session_.job() ? static_cast<double>(session_.job()->stageDone()) : 0;
    }
    double stageTotal() const {
        return session_.job() ? static_cast<double>(session_.job()->stageTotal()) : 0;
    }
    bool nameDiffers() const { return session_.nameDiffers(); }
    val readBytes() const { return View(session_.read().data(), session_.read().size()); }
    int jobFirst() const { return session_.jobFirst(); }
    int jobCount() const { return session_.jobCount(); }

    // "" until a catalogue has been read.
    std::string label(int slot) const {
        const char* label = Slot(slot) ? session_.catalogue().labels[slot] : nullptr;
        return label != nullptr ? label : "";
    }
    int state(int slot) const {
        return Slot(slot) ? static_cast<int>(session_.catalogue().map[slot].state) : 0;
    }
    int owner(int slot) const { return Slot(slot) ? session_.catalogue().map[slot].owner : -1; }
    int runOf(int slot) const { return Slot(slot) ? RunOf(session_.catalogue().map, slot) : 0; }
    // Escaped as kelmtool shows it: a name field may hold any bytes.
    std::string name(int slot) const { return Slot(slot) ? Printable(session_.NameOf(slot)) : ""; }
    std::string magic(int slot) const { return Slot(slot) ? session_.MagicHex(slot) : ""; }
    double size(int slot) const {
        return Slot(slot) ? static_cast<double>(session_.catalogue().storedSize[slot]) : 0;
    }
    bool biosInSlotZero() const { return core::BiosInSlotZero(session_.catalogue()); }

    void applyInput(const std::string& nineBytes) {
        if (nineBytes.size() != kInputReportSize) return;
        session_.ApplyInput(reinterpret_cast<const uint8_t*>(nineBytes.data()));
    }
    // The two lines, each escaped, one "\n" between them.
    std::string inputText() const {
        const std::string text = session_.InputText();
        const size_t end = text.find("\r\n");
        if (end == std::string::npos) return Printable(text);
        return Printable(text.substr(0, end)) + "\n" + Printable(text.substr(end + 2));
    }

  private:
    static bool Slot(int slot) { return slot >= 0 && slot < kSlotCount; }
    static const char* FailureName(core::FailureKind kind) {
        switch (kind) {
            case core::FailureKind::NotTaken:
                return "NotTaken";
            case core::FailureKind::NoStatus:
                return "NoStatus";
            case core::FailureKind::PollTimedOut:
                return "PollTimedOut";
            case core::FailureKind::BusBusy:
                return "BusBusy";
            case core::FailureKind::NoReadAnswer:
                return "NoReadAnswer";
            case core::FailureKind::DataNotTaken:
                return "DataNotTaken";
            case core::FailureKind::Mismatch:
                return "Mismatch";
            case core::FailureKind::Source:
                return "Source";
            case core::FailureKind::Sink:
                return "Sink";
            case core::FailureKind::Stopped:
            default:
                return "Stopped";
        }
    }

    web::BoardSession session_;
};

// The simulated board, in the page for "Try without a board" and for the tests' stand-in.
class SimBoard {
  public:
    SimBoard() {
        board_.SetHistoryKept(false);
        board_.SetFlashListener([this](size_t, size_t) { ++changes_; });
    }

    val flash() {
        board_.ViewFlash(
            [this](const uint8_t* flash, size_t size) { copy_.assign(flash, flash + size); });
        return View(copy_.data(), copy_.size());
    }
    val flashBuffer() {
        copy_.assign(sim::kFlashSize, 0xFF);
        return View(copy_.data(), copy_.size());
    }
    // The bytes put into flashBuffer() become the flash.
    void loadFlash() { board_.SetFlash(0, copy_); }
    double changes() const { return static_cast<double>(changes_); }

    bool writeOutput(const std::string& report) {
        return board_.WriteOutputReport(reinterpret_cast<const uint8_t*>(report.data()),
                                        report.size());
    }
    // 65 bytes, or an empty view when the fetch failed.
    val getFeature() {
        const bool answered = board_.GetFeatureReport(feature_.data(), feature_.size());
        return View(feature_.data(), answered ? feature_.size() : 0);
    }
    // 9 bytes, or an empty view when none is queued (or the board is gone).
    val takeInput() {
        const bool taken =
            board_.TakeInputReport(input_.data(), input_.size()) == sim::InputResult::Report;
        return View(input_.data(), taken ? input_.size() : 0);
    }
    void greet() { board_.QueueSimGreeting(); }

    bool present() const { return board_.IsPresent(); }
    void unplug() { board_.Unplug(); }
    double exchangeCount() const { return static_cast<double>(board_.ExchangeCount()); }
    // "unplug", "refuse" or "failwrite" at an exchange, as kelmtool's KELMTOOL_SIM_FAULTS names
    // them.
    bool injectFault(const std::string& kind, double exchange) {
        const auto at = static_cast<uint64_t>(exchange);
        if (kind == "unplug") {
            board_.InjectFault(at, sim::Fault::Unplug);
        } else if (kind == "refuse") {
            board_.InjectFault(at, sim::Fault::RefuseFeature);
        } else if (kind == "failwrite") {
            board_.InjectFault(at, sim::Fault::FailWrite);
        } else {
            return false;
        }
        return true;
    }
    void setEraseBusyPolls(int polls) { board_.SetEraseBusyPolls(polls); }
    void setBusHeldByOther(bool held) { board_.SetBusHeldByOther(held); }
    std::string violations() const {
        std::string all;
        for (const std::string& line : board_.Violations()) all += line + "\n";
        return all;
    }

  private:
    sim::Board board_;
    std::vector<uint8_t> copy_;
    std::array<uint8_t, sim::kReportSize> feature_{};
    std::array<uint8_t, sim::kInputReportSize> input_{};
    uint64_t changes_ = 0;
};

std::string NoticeText(bool bios) { return bios ? kBiosNoticeText : kNoBiosText; }

}  // namespace

EMSCRIPTEN_BINDINGS(kelm) {
    emscripten::constant("flashSize", kFlashSize);
    emscripten::constant("slotCount", kSlotCount);
    emscripten::constant("imageHeadSize", static_cast<uint32_t>(kImageHeadSize));
    emscripten::constant("vendorId", kBoardVendorId);
    emscripten::constant("productId", kBoardProductId);
    emscripten::function("noticeText", &NoticeText);
    emscripten::class_<Session>("Session")
        .constructor<double>()
        .function("fileBuffer", &Session::fileBuffer)
        .function("prepareImage", &Session::prepareImage)
        .function("imageSlots", &Session::imageSlots)
        .function("imageKind", &Session::imageKind)
        .function("imageLength", &Session::imageLength)
        .function("canPlace", &Session::canPlace)
        .function("dumpBuffer", &Session::dumpBuffer)
        .function("checkDump", &Session::checkDump)
        .function("startCatalogue", &Session::startCatalogue)
        .function("startRelease", &Session::startRelease)
        .function("startWrite", &Session::startWrite)
        .function("startBackup", &Session::startBackup)
        .function("startDump", &Session::startDump)
        .function("startErase", &Session::startErase)
        .function("startVerify", &Session::startVerify)
        .function("startRestore", &Session::startRestore)
        .function("next", &Session::next)
        .function("report", &Session::report)
        .function("answer", &Session::answer)
        .function("sent", &Session::sent)
        .function("fetched", &Session::fetched)
        .function("askStop", &Session::askStop)
        .function("busHeld", &Session::busHeld)
        .function("failureKind", &Session::failureKind)
        .function("failureText", &Session::failureText)
        .function("stoppedText", &Session::stoppedText)
        .function("releaseFailed", &Session::releaseFailed)
        .function("stage", &Session::stage)
        .function("stageDone", &Session::stageDone)
        .function("stageTotal", &Session::stageTotal)
        .function("nameDiffers", &Session::nameDiffers)
        .function("readBytes", &Session::readBytes)
        .function("jobFirst", &Session::jobFirst)
        .function("jobCount", &Session::jobCount)
        .function("label", &Session::label)
        .function("state", &Session::state)
        .function("owner", &Session::owner)
        .function("runOf", &Session::runOf)
        .function("name", &Session::name)
        .function("magic", &Session::magic)
        .function("size", &Session::size)
        .function("biosInSlotZero", &Session::biosInSlotZero)
        .function("applyInput", &Session::applyInput)
        .function("inputText", &Session::inputText);
    emscripten::class_<SimBoard>("SimBoard")
        .constructor<>()
        .function("flash", &SimBoard::flash)
        .function("flashBuffer", &SimBoard::flashBuffer)
        .function("loadFlash", &SimBoard::loadFlash)
        .function("changes", &SimBoard::changes)
        .function("writeOutput", &SimBoard::writeOutput)
        .function("getFeature", &SimBoard::getFeature)
        .function("takeInput", &SimBoard::takeInput)
        .function("greet", &SimBoard::greet)
        .function("present", &SimBoard::present)
        .function("unplug", &SimBoard::unplug)
        .function("exchangeCount", &SimBoard::exchangeCount)
        .function("injectFault", &SimBoard::injectFault)
        .function("setEraseBusyPolls", &SimBoard::setEraseBusyPolls)
        .function("setBusHeldByOther", &SimBoard::setBusHeldByOther)
        .function("violations", &SimBoard::violations);
}
