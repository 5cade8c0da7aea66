// The protocol engine driven directly, with no link: its reports carried to the simulated board
// by a test loop whose clock moves 10 ms a step, and faults put at any exchange.
#include "core/engine.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/operations.h"
#include "sim/board.h"
#include "testworld/world.h"

namespace {

constexpr uint32_t kLimitMs = 50;
constexpr uint64_t kStepMs = 10;
constexpr uint64_t kNoFault = ~uint64_t{0};

class Bytes : public core::ByteSource {
  public:
    explicit Bytes(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    bool Fill(uint64_t offset, uint8_t* out, uint32_t count) override {
        std::copy(bytes_.begin() + static_cast<long>(offset),
                  bytes_.begin() + static_cast<long>(offset + count), out);
        return true;
    }

  private:
    std::vector<uint8_t> bytes_;
};

struct Driven {
    bool done = false;
    core::Failure failure;
    uint64_t exchanges = 0;
};

// Runs operation on board; the exchange numbered faultAt (from 0) fails, and a stop is asked
// before the exchange numbered stopAt.
Driven Drive(core::Engine& engine, core::Operation& operation, sim::Board& board,
             uint64_t faultAt = kNoFault, uint64_t stopAt = kNoFault) {
    engine.Start(operation);
    uint64_t now = 0;
    for (uint64_t exchange = 0;; ++exchange, now += kStepMs) {
        if (exchange == stopAt) engine.AskStop();
        const core::LinkStep step = engine.Next(now);
        if (step.kind == core::StepKind::Send) {
            engine.Sent(exchange != faultAt && board.WriteOutputReport(step.report, kReportSize));
        } else if (step.kind == core::StepKind::Fetch) {
            uint8_t answer[kReportSize] = {};
            const bool fetched = exchange != faultAt && board.GetFeatureReport(answer, kReportSize);
            engine.Fetched(fetched ? answer : nullptr);
        } else {
            return {step.kind == core::StepKind::Done, engine.failure(), exchange};
        }
    }
}

struct ShortOperation {
    const char* name;
    std::function<std::unique_ptr<core::Operation>()> make;
    bool holdsBus;  // taken before the operation runs
};

// Every exchange of a short operation failed in turn: the operation fails at once, naming what
// failed and where, and sends nothing more.
TEST(EngineTest, AFaultAtAnyExchangeEndsTheOperationThere) {
    std::vector<uint8_t> data(100, 0x5A);
    Bytes source(data);
    uint8_t header[kHeaderSize];
    core::Catalogue catalogue;
    const std::vector<ShortOperation> operations = {
        {"bus request",
         [] { return std::make_unique<core::SingleTransfer>(core::SingleTransfer::BusRequest()); },
         false},
        {"erase",
         [] { return std::make_unique<core::SingleTransfer>(core::SingleTransfer::Erase(7)); },
         true},
        {"header read",
         [&] { return std::make_unique<core::ReadInto>(3 * kSlotSize, header, kHeaderSize); },
         true},
        {"write",
         [&] {
             return std::make_unique<core::WriteFromSource>(kSlotSize, data.size(), source,
                                                            core::HeldBack::None);
         },
         true},
        {"catalogue", [&] { return std::make_unique<core::ReadCatalogue>(catalogue); }, false},
    };
    for (const ShortOperation& entry : operations) {
        sim::Board board;
        board.SetFlash(0, testworld::SlotHeaderBytes("ELF", "app", 2 * kSlotSize));
        core::Engine engine(kLimitMs);
        if (entry.holdsBus) {
            core::SingleTransfer request = core::SingleTransfer::BusRequest();
            ASSERT_TRUE(Drive(engine, request, board).done);
        }
        std::unique_ptr<core::Operation> clean = entry.make();
        const Driven ok = Drive(engine, *clean, board);
        ASSERT_TRUE(ok.done) << entry.name << ": " << core::Describe(ok.failure);
        for (uint64_t at = 0; at < ok.exchanges; ++at) {
            SCOPED_TRACE(std::string(entry.name) + ", fault at exchange " + std::to_string(at));
            core::Engine faulty(kLimitMs);
            if (entry.holdsBus) {
                core::SingleTransfer request = core::SingleTransfer::BusRequest();
                ASSERT_TRUE(Drive(faulty, request, board).done);
            }
            const uint64_t before = faulty.exchanges();
            std::unique_ptr<core::Operation> operation = entry.make();
            const Driven failed = Drive(faulty, *operation, board, at);
            EXPECT_FALSE(failed.done);
            EXPECT_EQ(failed.exchanges, at + 1) << "sent on after the fault";
            EXPECT_EQ(failed.failure.report, before + at + 1);
            EXPECT_NE(core::Describe(failed.failure).find("the board did not"), std::string::npos)
                << core::Describe(failed.failure);
            if (faulty.busHeld()) {
                core::SingleTransfer release = core::SingleTransfer::BusRelease();
                Drive(faulty, release, board);
            }
        }
    }
}

// A poll spends the budget on the driver's clock; a bus held by the other side is refused at
// once; a difference names its place; a stop gives the bus back but never splits a whole
// transfer.
TEST(EngineTest, PollsDifferencesAndStops) {
    sim::Board board;
    core::Engine engine(kLimitMs);
    core::SingleTransfer request = core::SingleTransfer::BusRequest();
    ASSERT_TRUE(Drive(engine, request, board).done);
    board.SetEraseBusyPolls(1000000);
    core::SingleTransfer erase = core::SingleTransfer::Erase(7);
    const Driven timedOut = Drive(engine, erase, board);
    EXPECT_EQ(core::Describe(timedOut.failure),
              "the board did not finish the erase of slot 7 within 50 ms");
    // Command, then status query and answer every 20 ms of the driver's clock until 50 ms.
    EXPECT_EQ(timedOut.exchanges, 1u + 2u * 3u);
    board.SetEraseBusyPolls(0);

    std::vector<uint8_t> image(kSlotSize, 0x11);
    Bytes source(image);
    core::WriteFromSource write(2 * kSlotSize, image.size(), source, core::HeldBack::FirstSlot);
    ASSERT_TRUE(Drive(engine, write, board).done);
    std::vector<uint8_t> flash = board.Flash();
    flash[2 * kSlotSize + 5000] ^= 0x40;
    board.SetFlash(0, flash);
    core::VerifyAgainstSource verify(2 * kSlotSize, image.size(), source);
    const Driven differs = Drive(engine, verify, board);
    EXPECT_EQ(differs.failure.kind, core::FailureKind::Mismatch);
    EXPECT_EQ(core::Describe(differs.failure),
              "verify failed: first difference at slot 2 offset 0x1388: flash holds 0x51, "
              "expected 0x11");

    // A stop asked during the body: the next body transfer is not begun, the bus goes back.
    core::WriteFromSource stopped(4 * kSlotSize, image.size(), source, core::HeldBack::FirstSlot);
    const Driven stop = Drive(engine, stopped, board, kNoFault, 3);
    EXPECT_EQ(stop.failure.kind, core::FailureKind::Stopped);
    EXPECT_FALSE(engine.busHeld());
    EXPECT_EQ(board.Flash()[4 * kSlotSize], 0xFF) << "the header went before the body";
    // Asked while only the held-back header is left: it is written whole all the same.
    ASSERT_TRUE(Drive(engine, request, board).done);
    std::vector<uint8_t> header(kHeaderSize, 0x22);
    Bytes headerOnly(header);
    core::WriteFromSource last(6 * kSlotSize, header.size(), headerOnly, core::HeldBack::FirstSlot);
    EXPECT_TRUE(Drive(engine, last, board, kNoFault, 0).done);
    EXPECT_EQ(board.Flash()[6 * kSlotSize + kHeaderSize - 1], 0x22);

    sim::Board held;
    held.SetBusHeldByOther(true);
    core::Engine refused(kLimitMs);
    core::SingleTransfer again = core::SingleTransfer::BusRequest();
    EXPECT_EQ(Drive(refused, again, held).failure.kind, core::FailureKind::BusBusy);
    EXPECT_TRUE(board.Violations().empty());
}

}  // namespace
