// Moving whole images and dumps through one chunk buffer.
#include "flash_io.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "catalogue/flash_layout.h"
#include "write_plan.h"

namespace {

// Verification compares the expected chunk with the flash a piece at a time, so that two whole
// chunks are never held at once.
constexpr uint32_t kVerifyPiece = 4096;

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

}  // namespace

std::string DescribeAddress(uint32_t address) {
    return "slot " + std::to_string(address / kSlotSize) + " offset " + Hex(address % kSlotSize, 4);
}

namespace {

// Writes the bytes [from, to) of what source gives for the range starting at address.
Outcome WriteRange(BoardSession& session, uint32_t address, uint64_t from, uint64_t to,
                   const ByteSource& source, Progress& progress, uint8_t* chunk) {
    for (uint64_t done = from; done < to;) {
        // Chunks follow the flash's 32 KB grid, so that none crosses a bank's end.
        const uint32_t at = static_cast<uint32_t>(address + done);
        const uint32_t count =
            static_cast<uint32_t>(std::min<uint64_t>(to - done, kChunkSize - at % kChunkSize));
        KELM_TRY(source(done, chunk, count));
        for (const WriteSpan& span : PlanSpans(chunk, count)) {
            KELM_TRY(session.WriteSpan(at + span.offset, chunk + span.offset, span.length));
        }
        done += count;
        progress.Advance(count);
    }
    return {};
}

}  // namespace

Outcome WriteBytes(BoardSession& session, uint32_t address, uint64_t length,
                   const ByteSource& source, Progress& progress) {
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunkSize]);
    return WriteRange(session, address, 0, length, source, progress, chunk.get());
}

Outcome WriteHeadersLast(BoardSession& session, uint32_t address, uint64_t length,
                         const ByteSource& source, Progress& progress, HeldBack heldBack) {
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunkSize]);
    const uint64_t heads =
        heldBack == HeldBack::FirstSlot ? 1 : (length + kSlotSize - 1) / kSlotSize;
    for (uint64_t slot = 0; slot < heads; ++slot) {
        const uint64_t end = std::min<uint64_t>(
            length, heldBack == HeldBack::FirstSlot ? length : (slot + 1) * kSlotSize);
        KELM_TRY(WriteRange(session, address, slot * kSlotSize + kHeaderSize, end, source, progress,
                            chunk.get()));
    }
    const BoardSession::Uninterrupted whole(session);
    for (uint64_t slot = 0; slot < heads; ++slot) {
        const uint64_t begin = slot * kSlotSize;
        KELM_TRY(WriteRange(session, address, begin,
                            std::min<uint64_t>(length, begin + kHeaderSize), source, progress,
                            chunk.get()));
    }
    return {};
}

Outcome EraseSlots(BoardSession& session, int first, int count, Progress& progress, int& erased) {
    erased = 0;
    for (int slot = first; slot < first + count; ++slot) {
        KELM_TRY(session.EraseBank(slot));
        ++erased;
        progress.Advance(kSlotSize);
    }
    return {};
}

Outcome VerifyBytes(BoardSession& session, uint32_t address, uint64_t length,
                    const ByteSource& source, Progress& progress) {
    std::unique_ptr<uint8_t[]> expected(new uint8_t[kChunkSize]);
    uint8_t actual[kVerifyPiece];
    for (uint64_t done = 0; done < length;) {
        const uint32_t at = static_cast<uint32_t>(address + done);
        const uint32_t count =
            static_cast<uint32_t>(std::min<uint64_t>(length - done, kChunkSize - at % kChunkSize));
        KELM_TRY(source(done, expected.get(), count));
        for (uint32_t piece = 0; piece < count; piece += kVerifyPiece) {
            const uint32_t n = std::min(kVerifyPiece, count - piece);
            KELM_TRY(session.Read(at + piece, actual, n));
            const auto differs = std::mismatch(actual, actual + n, expected.get() + piece);
            if (differs.first != actual + n) {
                const uint32_t where = at + piece + static_cast<uint32_t>(differs.first - actual);
                return Outcome::Fail(ExitCode::Mismatch,
                                     "verify failed: first difference at " +
                                         DescribeAddress(where) + ": flash holds " +
                                         Hex(*differs.first, 2) + ", expected " +
                                         Hex(*differs.second, 2));
            }
        }
        done += count;
        progress.Advance(count);
    }
    return {};
}

Outcome ReadBytes(BoardSession& session, uint32_t address, uint64_t length, const ByteSink& sink,
                  Progress& progress) {
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunkSize]);
    for (uint64_t done = 0; done < length;) {
        const uint32_t at = static_cast<uint32_t>(address + done);
        const uint32_t count =
            static_cast<uint32_t>(std::min<uint64_t>(length - done, kChunkSize - at % kChunkSize));
        KELM_TRY(session.Read(at, chunk.get(), count));
        KELM_TRY(sink(chunk.get(), count));
        done += count;
        progress.Advance(count);
    }
    return {};
}
