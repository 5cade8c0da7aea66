// The operations the programs run on a board, as sequences of transfers.
#include "core/operations.h"

#include <algorithm>
#include <cstring>

#include "core/write_plan.h"

namespace core {

namespace {

// The verify's piece: a 4 KB read at a time is compared before the next is asked for.
constexpr uint32_t kVerifyPiece = 4096;

// The bytes of a chunk at offset done of a range starting at address: up to the end of the
// chunk on the flash's grid, and no further than left.
uint32_t ChunkLength(uint32_t address, uint64_t left) {
    return static_cast<uint32_t>(std::min<uint64_t>(left, kChunkSize - address % kChunkSize));
}

}  // namespace

SingleTransfer SingleTransfer::BusRequest() {
    TransferOrder order;
    order.kind = TransferKind::BusRequest;
    return SingleTransfer(order);
}

SingleTransfer SingleTransfer::BusRelease() {
    TransferOrder order;
    order.kind = TransferKind::BusRelease;
    return SingleTransfer(order);
}

SingleTransfer SingleTransfer::Erase(int slot) {
    TransferOrder order;
    order.kind = TransferKind::Erase;
    order.address = static_cast<uint32_t>(slot) * kSlotSize;
    return SingleTransfer(order);
}

Operation::Next SingleTransfer::NextTransfer(TransferOrder& order, Failure&) {
    if (given_) return Next::Complete;
    given_ = true;
    order = order_;
    return Next::Transfer;
}

Operation::Next ReadInto::NextTransfer(TransferOrder& order, Failure&) {
    done_ = asked_;
    if (asked_ >= length_) return Next::Complete;
    const uint32_t at = address_ + asked_;
    // A transfer stays inside its bank and within one chunk.
    const uint32_t piece = std::min({length_ - asked_, kSlotSize - at % kSlotSize, kChunkSize});
    order.kind = TransferKind::Read;
    order.address = at;
    order.length = piece;
    order.into = out_ + asked_;
    asked_ += piece;
    return Next::Transfer;
}

ReadToSink::ReadToSink(uint32_t address, uint64_t length, ByteSink& sink)
    : address_(address), length_(length), sink_(sink), chunk_(new uint8_t[kChunkSize]) {}

Operation::Next ReadToSink::NextTransfer(TransferOrder& order, Failure& failure) {
    if (pending_ > 0) {
        if (!sink_.Take(chunk_.get(), pending_)) {
            failure.kind = FailureKind::Sink;
            return Next::Failed;
        }
        done_ += pending_;
        pending_ = 0;
    }
    if (done_ >= length_) return Next::Complete;
    const uint32_t at = static_cast<uint32_t>(address_ + done_);
    pending_ = ChunkLength(at, length_ - done_);
    order.kind = TransferKind::Read;
    order.address = at;
    order.length = pending_;
    order.into = chunk_.get();
    return Next::Transfer;
}

WriteFromSource::WriteFromSource(uint32_t address, uint64_t length, ByteSource& source,
                                 HeldBack held)
    : address_(address), source_(source), chunk_(new uint8_t[kChunkSize]) {
    if (held == HeldBack::None) {
        ranges_.push_back({0, length, false});
        at_ = 0;
        return;
    }
    const uint64_t heads = held == HeldBack::FirstSlot ? 1 : (length + kSlotSize - 1) / kSlotSize;
    for (uint64_t slot = 0; slot < heads; ++slot) {
        const uint64_t end = held == HeldBack::FirstSlot
                                 ? length
                                 : std::min<uint64_t>(length, (slot + 1) * kSlotSize);
        ranges_.push_back({slot * kSlotSize + kHeaderSize, end, false});
    }
    for (uint64_t slot = 0; slot < heads; ++slot) {
        const uint64_t begin = slot * kSlotSize;
        ranges_.push_back({begin, std::min<uint64_t>(length, begin + kHeaderSize), true});
    }
    at_ = ranges_.front().from;
}

Operation::Next WriteFromSource::NextTransfer(TransferOrder& order, Failure& failure) {
    for (;;) {
        if (span_ < spans_.size()) {
            order.kind = TransferKind::Write;
            order.address = chunkAddress_ + spans_[span_].first;
            order.length = spans_[span_].second;
            order.from = chunk_.get() + spans_[span_].first;
            order.whole = ranges_[range_].whole;
            ++span_;
            return Next::Transfer;
        }
        if (chunkLength_ > 0) {
            // The chunk's spans are all sent.
            done_ += chunkLength_;
            at_ += chunkLength_;
            chunkLength_ = 0;
        }
        while (range_ < ranges_.size() && at_ >= ranges_[range_].to) {
            ++range_;
            if (range_ < ranges_.size()) at_ = ranges_[range_].from;
        }
        if (range_ >= ranges_.size()) return Next::Complete;
        chunkAddress_ = static_cast<uint32_t>(address_ + at_);
        chunkLength_ = ChunkLength(chunkAddress_, ranges_[range_].to - at_);
        if (!source_.Fill(at_, chunk_.get(), chunkLength_)) {
            failure.kind = FailureKind::Source;
            return Next::Failed;
        }
        spans_.clear();
        span_ = 0;
        for (const WriteSpan& span : PlanSpans(chunk_.get(), chunkLength_)) {
            spans_.emplace_back(span.offset, span.length);
        }
    }
}

VerifyAgainstSource::VerifyAgainstSource(uint32_t address, uint64_t length, ByteSource& source)
    : address_(address), length_(length), source_(source), expected_(new uint8_t[kChunkSize]) {}

Operation::Next VerifyAgainstSource::NextTransfer(TransferOrder& order, Failure& failure) {
    if (pieceLength_ > 0) {
        // The piece just read, against what was expected there.
        const uint8_t* expected = expected_.get() + piece_;
        const auto differs = std::mismatch(actual_, actual_ + pieceLength_, expected);
        if (differs.first != actual_ + pieceLength_) {
            failure.kind = FailureKind::Mismatch;
            failure.address = static_cast<uint32_t>(address_ + chunkAt_ + piece_ +
                                                    static_cast<uint32_t>(differs.first - actual_));
            failure.found = *differs.first;
            failure.expected = *differs.second;
            return Next::Failed;
        }
        piece_ += pieceLength_;
        pieceLength_ = 0;
        if (piece_ >= chunkLength_) {
            done_ += chunkLength_;
            chunkAt_ += chunkLength_;
            chunkLength_ = 0;
        }
    }
    if (chunkLength_ == 0) {
        if (chunkAt_ >= length_) return Next::Complete;
        chunkLength_ = ChunkLength(static_cast<uint32_t>(address_ + chunkAt_), length_ - chunkAt_);
        piece_ = 0;
        if (!source_.Fill(chunkAt_, expected_.get(), chunkLength_)) {
            failure.kind = FailureKind::Source;
            return Next::Failed;
        }
    }
    pieceLength_ = std::min(kVerifyPiece, chunkLength_ - piece_);
    order.kind = TransferKind::Read;
    order.address = static_cast<uint32_t>(address_ + chunkAt_ + piece_);
    order.length = pieceLength_;
    order.into = actual_;
    return Next::Transfer;
}

Operation::Next EraseSlots::NextTransfer(TransferOrder& order, Failure&) {
    completed_ = asked_;
    if (asked_ >= count_) return Next::Complete;
    order.kind = TransferKind::Erase;
    order.address = static_cast<uint32_t>(first_ + asked_) * kSlotSize;
    ++asked_;
    return Next::Transfer;
}

Operation::Next ReadCatalogue::NextTransfer(TransferOrder& order, Failure&) {
    switch (step_) {
        case Step::Request:
            order.kind = TransferKind::BusRequest;
            step_ = Step::Header;
            return Next::Transfer;
        case Step::Header:
            if (reading_) {
                SlotHeader& header = catalogue_.headers[slot_];
                HeaderToHostOrder(header);
                catalogue_.storedSize[slot_] = header.size;
                slot_ += ClassifySlot(header, slot_, catalogue_.map, catalogue_.labels);
                reading_ = false;
            }
            if (slot_ < kSlotCount) {
                order.kind = TransferKind::Read;
                order.address = static_cast<uint32_t>(slot_) * kSlotSize;
                order.length = kHeaderSize;
                order.into = reinterpret_cast<uint8_t*>(&catalogue_.headers[slot_]);
                reading_ = true;
                return Next::Transfer;
            }
            step_ = Step::Release;
            order.kind = TransferKind::BusRelease;
            return Next::Transfer;
        case Step::Release:
            step_ = Step::Complete;
            return Next::Complete;
        case Step::Complete:
        default:
            return Next::Complete;
    }
}

bool BiosInSlotZero(const Catalogue& catalogue) {
    return catalogue.map[0].state == SlotState::Used && catalogue.map[0].owner == 0 &&
           MagicIs(catalogue.headers[0], kMagicBios);
}

}  // namespace core
