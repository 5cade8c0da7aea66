// The protocol engine: one operation at a time, transfer by transfer.
#include "core/engine.h"

namespace core {

void Engine::Start(Operation& operation) {
    operation_ = &operation;
    phase_ = Phase::Choosing;
    failure_ = Failure();
}

LinkStep Engine::Fail(const Failure& failure) {
    failure_ = failure;
    failure_.report = transfer_.exchanges();
    phase_ = Phase::Failed;
    return {StepKind::Failed, nullptr};
}

LinkStep Engine::Choose(uint64_t nowMs) {
    TransferOrder order;
    Failure failure;
    switch (operation_->NextTransfer(order, failure)) {
        case Operation::Next::Complete:
            phase_ = Phase::Done;
            return {StepKind::Done, nullptr};
        case Operation::Next::Failed:
            return Fail(failure);
        case Operation::Next::Transfer:
        default:
            break;
    }
    if (stopAsked_ && !order.whole && order.kind != TransferKind::BusRelease) {
        // Asked once: the release below runs to its end.
        stopAsked_ = false;
        if (!transfer_.busHeld()) {
            Failure stopped;
            stopped.kind = FailureKind::Stopped;
            return Fail(stopped);
        }
        TransferOrder release;
        release.kind = TransferKind::BusRelease;
        transfer_.Start(release, pollLimitMs_);
        phase_ = Phase::Releasing;
        return transfer_.Next(nowMs);
    }
    transfer_.Start(order, pollLimitMs_);
    phase_ = Phase::Transferring;
    return Next(nowMs);
}

LinkStep Engine::Next(uint64_t nowMs) {
    for (;;) {
        switch (phase_) {
            case Phase::Choosing:
                return Choose(nowMs);
            case Phase::Transferring:
            case Phase::Releasing: {
                const LinkStep step = transfer_.Next(nowMs);
                if (step.kind == StepKind::Send || step.kind == StepKind::Fetch) return step;
                if (phase_ == Phase::Releasing) {
                    Failure stopped;
                    stopped.kind = FailureKind::Stopped;
                    if (step.kind == StepKind::Failed) {
                        stopped.releaseFailed = true;
                        stopped.releaseKind = transfer_.failure().kind;
                        stopped.releaseWhat = Describe(transfer_.failure());
                    }
                    return Fail(stopped);
                }
                if (step.kind == StepKind::Failed) return Fail(transfer_.failure());
                phase_ = Phase::Choosing;
                continue;
            }
            case Phase::Done:
                return {StepKind::Done, nullptr};
            case Phase::Failed:
            default:
                return {StepKind::Failed, nullptr};
        }
    }
}

}  // namespace core
