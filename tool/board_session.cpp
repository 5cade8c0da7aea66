// kelmtool's blocking driver of the protocol engine.
#include "board_session.h"

#include "core/operations.h"
#include "interrupt.h"

namespace {

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

std::string Words(core::FailureKind kind, const std::string& described) {
    return kind == core::FailureKind::PollTimedOut ? described + " (--timeout)" : described;
}

BoardSession::BoardSession(BoardLink& link, std::chrono::milliseconds pollLimit, StopSignal stop)
    : link_(link), stop_(std::move(stop)), engine_(static_cast<uint32_t>(pollLimit.count())) {}

Outcome BoardSession::Run(core::Operation& operation, Progress* progress) {
    engine_.Start(operation);
    uint64_t shown = 0;
    for (;;) {
        if (signal_ == 0 && stop_) {
            signal_ = stop_();
            if (signal_ != 0) engine_.AskStop();
        }
        const core::LinkStep step = engine_.Next(NowMs());
        switch (step.kind) {
            case core::StepKind::Send:
                engine_.Sent(link_.WriteReport(step.report));
                break;
            case core::StepKind::Fetch: {
                uint8_t answer[kReportSize] = {};
                engine_.Fetched(link_.GetFeature(answer) ? answer : nullptr);
                break;
            }
            case core::StepKind::Done:
            case core::StepKind::Failed:
            default:
                if (progress != nullptr) progress->Advance(operation.done() - shown);
                return step.kind == core::StepKind::Done ? Outcome() : Ended();
        }
        if (progress != nullptr && operation.done() != shown) {
            progress->Advance(operation.done() - shown);
            shown = operation.done();
        }
    }
}

Outcome BoardSession::Ended() {
    const core::Failure& failure = engine_.failure();
    switch (failure.kind) {
        case core::FailureKind::Stopped:
            return Outcome::Fail(InterruptCode(signal_),
                                 failure.releaseFailed
                                     ? "interrupted: nothing was changed, but " +
                                           Words(failure.releaseKind, failure.releaseWhat)
                                     : "interrupted: nothing was changed");
        case core::FailureKind::Mismatch:
            return Outcome::Fail(ExitCode::Mismatch, core::Describe(failure))
                .At(static_cast<int>(failure.address / kSlotSize), failure.address % kSlotSize);
        case core::FailureKind::Source:
        case core::FailureKind::Sink:
            return Outcome::Fail(ExitCode::Failed, "");
        default:
            return Outcome::Fail(ExitCode::Failed, Words(failure.kind, core::Describe(failure)));
    }
}

Outcome BoardSession::TakeBus() {
    core::SingleTransfer request = core::SingleTransfer::BusRequest();
    return Run(request);
}

Outcome BoardSession::ReleaseBus() {
    core::SingleTransfer release = core::SingleTransfer::BusRelease();
    return Run(release);
}

Outcome BoardSession::EraseBank(int bank) {
    core::SingleTransfer erase = core::SingleTransfer::Erase(bank);
    return Run(erase);
}

Outcome BoardSession::Read(uint32_t address, uint8_t* out, uint32_t length) {
    core::ReadInto read(address, out, length);
    return Run(read);
}

Outcome BoardSession::WriteSpan(uint32_t address, const uint8_t* data, uint32_t length) {
    core::TransferOrder order;
    order.kind = core::TransferKind::Write;
    order.address = address;
    order.length = length;
    order.from = data;
    core::SingleTransfer write(order);
    return Run(write);
}
