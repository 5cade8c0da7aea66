// The unplug matrix: every operation run as a whole program with the board unplugged at each of
// its report exchanges, and again with a refused feature fetch and with a failing report write
// there. Each case checks the error boxes (which, in what order, how many), the program's mode
// and window afterwards, the flash byte for byte, and the file an operation writes.
//
// What the matrix shows is deliberate:
// - status polls have no bound of their own; a failing query ends them, which is what ends
//   every case here that fails in a poll;
// - a failing status query ends a poll as if the board had finished, so the operation goes on
//   (a write after a failed bus poll still writes; an erase whose poll failed counts as done);
// - a backup that fails keeps the whole 32 KB pieces saved so far, and leaves Read mode;
// - a write whose chunk fails stays in Write mode without a rescan;
// - an unplugged board ends the program through the monitor, after the running operation has
//   shown its own boxes (up to three per slot of a catalogue scan).
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "reliability/fault_runs.h"

namespace reliability {
namespace {

// Long transfers between the first and the last of an operation are alike report by report:
// they are sampled (their command report, the first and last two data reports, and every 97th).
// Every other report of an operation is a case.
constexpr size_t kSampleStride = 97;
constexpr size_t kEdgeReports = 2;

// A fault in the program shows in most cases of its operation: the first few say enough.
constexpr size_t kFailingCasesShown = 5;

struct MatrixCase {
    Op op;
    sim::Fault fault;
};

std::string FaultName(sim::Fault fault) {
    switch (fault) {
        case sim::Fault::Unplug:
            return "unplug";
        case sim::Fault::RefuseFeature:
            return "refused_fetch";
        case sim::Fault::FailWrite:
            return "failed_write";
    }
    return "";
}

void PrintTo(const MatrixCase& c, std::ostream* out) {
    *out << OpName(c.op) << " " << FaultName(c.fault);
}

bool Applies(sim::Fault fault, const Exchange& exchange) {
    if (fault == sim::Fault::RefuseFeature) return !exchange.out;
    if (fault == sim::Fault::FailWrite) return exchange.out;
    return true;
}

std::vector<size_t> Sample(const std::vector<Exchange>& plan) {
    std::vector<size_t> callEnd;  // index of each call's last exchange
    for (size_t k = 0; k < plan.size(); ++k) {
        callEnd.resize(plan[k].call + 1);
        callEnd[plan[k].call] = k;
    }
    auto isLong = [&](const Exchange& exchange) {
        return (exchange.kind == Call::Read || exchange.kind == Call::Write) &&
               callEnd[exchange.call] - exchange.headIndex >= kSampleStride;
    };
    int firstLong = -1;
    int lastLong = -1;
    for (const Exchange& exchange : plan) {
        if (!isLong(exchange)) continue;
        if (firstLong < 0) firstLong = exchange.call;
        lastLong = exchange.call;
    }
    std::vector<size_t> indices;
    for (size_t k = 0; k < plan.size(); ++k) {
        const Exchange& exchange = plan[k];
        const bool sampled =
            isLong(exchange) && exchange.call != firstLong && exchange.call != lastLong;
        if (!sampled || k - exchange.headIndex <= kEdgeReports ||
            callEnd[exchange.call] - k < kEdgeReports || k % kSampleStride == 0) {
            indices.push_back(k);
        }
    }
    return indices;
}

// What the program must do after a fault at exchange k of the operation's clean run.
struct Expectation {
    std::vector<std::string> errors;  // the first error boxes, in order (single faults: all)
    MenuMode mode = MenuMode::Idle;
    std::vector<Patch> flash;  // where the flash differs from before the operation
    long file = -1;            // length of the operation's output file; -1: no file
    std::string status;        // status line afterwards, single faults only; "" unchecked
};

size_t LandedBytes(const std::vector<Exchange>& plan, size_t k) {
    int writes = 0;
    for (size_t i = 0; i < plan[k].headIndex; ++i) {
        writes += plan[i].head && plan[i].kind == Call::Write;
    }
    const size_t reports = plan[k].head ? 0 : k - plan[k].headIndex - 1;
    return writes * kPiece + reports * kPayload;
}

// Read calls completed before the one that exchange k belongs to.
int ReadsBefore(const std::vector<Exchange>& plan, size_t k) {
    int reads = 0;
    for (size_t i = 0; i < plan[k].headIndex; ++i) {
        reads += plan[i].head && plan[i].kind == Call::Read;
    }
    return reads;
}

Expectation Model(Op op, const std::vector<Exchange>& plan, size_t k, bool sticky,
                  const World& clean) {
    const Exchange& at = plan[k];
    Expectation expect;
    expect.errors = {FailureText(at)};
    switch (op) {
        case Op::Connect:
            expect.status = "KELM OK!";
            break;
        case Op::Write: {
            // A refused bus is no write at all; a failed bus poll lets the write go on. Bus
            // requests after the first belong to the rescan.
            const bool ownBus = at.kind == Call::GetBus && at.call == 0;
            const bool busRefused = ownBus && at.head;
            const bool chunkFails = at.kind == Call::Write || (sticky && ownBus && !at.head);
            if (chunkFails) {
                if (at.kind != Call::Write) {
                    expect.errors.push_back("Error sending CMD_WRITE command.");
                }
                expect.errors.push_back(kFlashFailed);
                expect.mode = MenuMode::Write;
                const size_t landed = at.kind == Call::Write ? LandedBytes(plan, k) : 0;
                expect.flash = {{kWriteStart * kSlot, kWriteStart * kSlot + landed, Source::Clean}};
            } else {
                expect.status = "KELM OK!";
                const size_t run = kImageSlots * kSlot;
                if (!busRefused) {
                    expect.flash = {
                        {kWriteStart * kSlot, kWriteStart * kSlot + run, Source::Clean}};
                }
            }
            break;
        }
        case Op::Backup: {
            const long full = static_cast<long>(clean.file.size());
            if (at.kind == Call::GetBus && at.head) {
                expect.file = 0;
            } else if (at.kind == Call::Read || (sticky && at.kind == Call::GetBus)) {
                if (at.kind != Call::Read) {
                    expect.errors.push_back("Error sending CMD_READ command.");
                }
                expect.mode = MenuMode::Read;
                expect.file = static_cast<long>(ReadsBefore(plan, k) * kPiece);
            } else {
                expect.file = full;
                expect.status = "Done!";
            }
            break;
        }
        case Op::Erase:
        case Op::EraseBlock0:
            // A slot is erased once its CMD_ERASE went out; under a single fault only the
            // failing request or erase command keeps its slot.
            for (size_t i = 0; i < plan.size(); ++i) {
                if (!plan[i].head || plan[i].kind != Call::Erase) continue;
                const size_t busRequest =
                    i > 0 && plan[i - 1].kind == Call::GetBus ? plan[i - 1].headIndex : plan.size();
                const bool erased = sticky ? i < k : (k != i && k != busRequest);
                if (erased) {
                    expect.flash.push_back(
                        {plan[i].bank * kSlot, (plan[i].bank + 1) * kSlot, Source::Erased});
                }
            }
            if (op == Op::Erase) expect.status = "KELM OK!";
            break;
        case Op::Program:
            expect.flash = {{0, LandedBytes(plan, k), Source::Clean}};
            break;
        case Op::Verify:
        case Op::BlankCheck:
        case Op::Upload:
            break;
    }
    return expect;
}

void CheckWindow(const World& world, const Expectation& expect) {
    const bool idle = world.mode == MenuMode::Idle;
    EXPECT_EQ(world.actions[0], idle) << "Write";
    EXPECT_EQ(world.actions[1], idle) << "Read";
    EXPECT_EQ(world.actions[2], idle) << "Erase";
    EXPECT_EQ(world.actions[3], !idle) << "Abort";
    switch (world.mode) {
        case MenuMode::Idle: {
            std::vector<int> occupied;
            for (int slot = 0; slot < kSlotCount; ++slot) {
                if (world.mapAfter[slot].state != SlotState::Free) occupied.push_back(slot);
            }
            EXPECT_EQ(world.enabledSlots, occupied);
            break;
        }
        case MenuMode::Write:
            EXPECT_EQ(world.enabledSlots, world.enabledBefore) << "the same feasible starts";
            break;
        case MenuMode::Read:
            EXPECT_EQ(world.checkedSlots, (std::vector<int>{kAppSlot, kAppSlot + 1}));
            break;
        default:
            break;
    }
    if (!expect.status.empty()) {
        EXPECT_EQ(world.status, expect.status);
    }
}

class UnplugMatrixTest : public FaultRunTest, public ::testing::WithParamInterface<MatrixCase> {
  protected:
    void Check(Op op, const std::vector<Exchange>& plan, size_t k, bool sticky,
               const std::vector<uint8_t>& before, const World& clean, const World& world) {
        const Expectation expect = Model(op, plan, k, sticky, clean);
        EXPECT_EQ(world.result, 0);

        // Error boxes: the monitor's at most once (exactly once when the board went away).
        std::vector<std::string> errors;
        int monitorBoxes = 0;
        for (const std::string& text : world.ErrorTexts()) {
            if (IsMonitorText(text)) {
                ++monitorBoxes;
            } else {
                errors.push_back(text);
            }
        }
        EXPECT_EQ(monitorBoxes, sticky ? 1 : 0);
        if (sticky) {
            ASSERT_GE(errors.size(), expect.errors.size());
            EXPECT_EQ(
                std::vector<std::string>(errors.begin(), errors.begin() + expect.errors.size()),
                expect.errors);
            const bool scans = op == Op::Connect || op == Op::Write || op == Op::Erase;
            EXPECT_LE(errors.size(), scans ? 3u * kSlotCount + 4u : 4u) << "boxes unbounded";
            for (const std::string& text : errors) {
                EXPECT_TRUE(DeviceFailureTexts().count(text) != 0 || text == kFlashFailed)
                    << "unexpected box: " << text;
            }
            // Unplugging ends the program; the window does not go back to not connected.
            EXPECT_TRUE(world.ended);
            EXPECT_FALSE(world.connected);
            EXPECT_EQ(MonitorThreadHandle, nullptr);
        } else {
            EXPECT_EQ(errors, expect.errors);
            EXPECT_FALSE(world.ended);
            EXPECT_TRUE(world.connected);
            CheckWindow(world, expect);
        }
        EXPECT_EQ(world.mode, expect.mode);

        // Boxes that are not errors: the erase question, the verdicts (none after a failed
        // read).
        std::vector<std::string> others;
        for (const auto& box : world.boxes) {
            if (box.caption != "Error") others.push_back(box.text);
        }
        if (op == Op::Erase) {
            EXPECT_EQ(others.size(), 1u) << "the erase question only";
        } else {
            EXPECT_TRUE(others.empty()) << "a verdict after a failed read: " << others.front();
        }

        // Flash: nothing outside what the operation was given, and inside it what reached it.
        const long diff = FirstUnexpected(world.flash, before, clean.flash, expect.flash);
        EXPECT_EQ(diff, -1) << "flash differs from the expected at " << diff << " (bank "
                            << diff / static_cast<long>(kSlot) << ")";

        if (op == Op::Backup) {
            ASSERT_TRUE(world.fileExists);
            EXPECT_EQ(static_cast<long>(world.file.size()), expect.file);
            EXPECT_EQ(world.file.size() % kPiece, 0u) << "a backup holds whole pieces only";
            const size_t from = kAppSlot * kSlot;
            EXPECT_TRUE(std::equal(world.file.begin(), world.file.end(), before.begin() + from))
                << "the saved pieces are the application's flash";
        }
        if (op == Op::Upload) {
            EXPECT_FALSE(world.fileExists) << "no file after a failed read";
            EXPECT_EQ(world.saveDialogs, 0u) << "no dialog after a failed read";
        }
    }
};

TEST_P(UnplugMatrixTest, EveryReportOfTheOperation) {
    const Op op = GetParam().op;
    const sim::Fault fault = GetParam().fault;

    // The clean run gives the operation's reports and what it leaves.
    const std::vector<uint8_t> before = board.Flash();
    World clean;
    RunOperation(op, clean);
    ASSERT_TRUE(clean.ErrorTexts().empty()) << clean.ErrorTexts().front();
    const std::vector<Exchange> plan = Segment(clean.log, clean.firstExchange);
    ASSERT_FALSE(plan.empty());
    Fresh();

    board.SetHistoryKept(false);  // the faulted runs are judged by what they leave
    World world;
    size_t cases = 0;
    std::vector<size_t> failing;
    for (size_t k : Sample(plan)) {
        if (!Applies(fault, plan[k])) continue;
        std::ostringstream where;
        where << OpName(op) << ", " << FaultName(fault) << " at report " << k << " of "
              << plan.size() << " (" << FailureText(plan[k]) << ")";
        SCOPED_TRACE(where.str());
        RunOperation(op, world, [&](uint64_t first) { board.InjectFault(first + k, fault); });
        const int partsBefore = FailureParts();
        Check(op, plan, k, fault == sim::Fault::Unplug, before, clean, world);
        Fresh();
        ++cases;
        if (FailureParts() != partsBefore) failing.push_back(k);
        if (HasFatalFailure() || failing.size() >= kFailingCasesShown) {
            FAIL() << "stopped after the cases at reports " << ::testing::PrintToString(failing);
        }
    }
    EXPECT_GT(cases, 0u);
    RecordProperty("cases", static_cast<int>(cases));
}

std::vector<MatrixCase> AllCases() {
    std::vector<MatrixCase> cases;
    for (Op op : {Op::Connect, Op::Write, Op::Backup, Op::Erase, Op::Program, Op::Verify,
                  Op::BlankCheck, Op::Upload, Op::EraseBlock0}) {
        for (sim::Fault fault :
             {sim::Fault::Unplug, sim::Fault::RefuseFeature, sim::Fault::FailWrite}) {
            // Programming a sector fetches no feature report.
            if (op == Op::Program && fault == sim::Fault::RefuseFeature) continue;
            cases.push_back({op, fault});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Matrix, UnplugMatrixTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<MatrixCase>& info) {
                             return std::string(OpName(info.param.op)) + "_" +
                                    FaultName(info.param.fault);
                         });

}  // namespace
}  // namespace reliability
