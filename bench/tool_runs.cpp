#include "tool_runs.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "board_catalogue.h"
#include "board_session.h"
#include "core/flash_layout.h"
#include "core/image_place.h"
#include "core/write_plan.h"
#include "flash_image.h"
#include "flash_io.h"
#include "image_file.h"
#include "output_file.h"
#include "progress.h"
#include "tool_link.h"

namespace {

using Clock = std::chrono::steady_clock;

// kelmtool's default --timeout; the simulated board never keeps a poll waiting.
constexpr std::chrono::milliseconds kPollLimit(30000);
constexpr double kReportMs = 1.0;

struct Tool {
    BenchToolLink& link;
    BoardSession& session;
    Progress& progress;
    ToolRun& run;
};

// Runs body against the board under the link model and fills run's traffic and times.
ToolRun Measured(sim::Board& board, const std::function<Outcome(Tool&)>& body,
                 Pace pace = Pace::Charged) {
    ToolRun run;
    BenchToolLink link(board);
    BoardSession session(link, kPollLimit);
    Progress progress(stderr, false);
    Tool tool{link, session, progress, run};
    double charged = 0;
    double erasing = 0;
    if (pace == Pace::Charged) {
        board.SetReportTime(kReportMs, [&charged, &erasing, &link](double ms) {
            charged += ms;
            if (link.Erasing()) erasing += ms;
        });
    }
    const Clock::time_point started = Clock::now();
    const Outcome outcome = body(tool);
    run.hostMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    if (pace == Pace::Charged) board.SetReportTime(0, nullptr);
    run.linkMs = charged;
    run.eraseMs = erasing;
    run.whole = link.traffic();
    run.write = link.writeTraffic();
    run.erase = link.eraseTraffic();
    run.done = outcome.ok();
    run.fault = outcome.message();
    return run;
}

Outcome Refused(const std::string& why) { return Outcome::Fail(ExitCode::BadInput, why); }

Outcome SaveRange(Tool& tool, uint32_t address, uint64_t length, const std::string& output) {
    OutputFile file;
    KELM_TRY(file.Open(output, /*force=*/true));
    KELM_TRY(tool.session.TakeBus());
    const ByteSink sink = [&file](const uint8_t* bytes, uint32_t count) {
        return file.Append(bytes, count);
    };
    KELM_TRY(ReadBytes(tool.session, address, length, sink, tool.progress));
    KELM_TRY(tool.session.ReleaseBus());
    return file.Commit();
}

Outcome ReadDump(std::FILE* file, uint64_t offset, uint8_t* out, uint32_t count) {
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
        std::fread(out, 1, count, file) == count) {
        return {};
    }
    return Outcome::Fail(ExitCode::Failed, "the dump could not be read");
}

// The counts of PlanFigures over one piece.
void CountPiece(const uint8_t* piece, uint32_t count, PlanFigures& plan) {
    plan.imageBytes += count;
    plan.spans += PlanSpans(piece, count).size();
    uint32_t at = 0;
    bool seenData = false;
    while (at < count) {
        if (piece[at] != kErasedByte) {
            ++plan.nonErased;
            ++plan.mustSend;
            seenData = true;
            ++at;
            continue;
        }
        uint32_t end = at;
        while (end < count && piece[end] == kErasedByte) ++end;
        if (seenData && end < count && end - at < kSkippedRunLength) plan.mustSend += end - at;
        at = end;
    }
}

// address is the start of a slot, so the multiples of 64 KB in done are the slots' first bytes.
PlanFigures PlanOf(uint32_t address, uint64_t length, HeldBack heldBack, const ByteSource& source) {
    PlanFigures plan;
    plan.slots = (length + kSlotSize - 1) / kSlotSize;
    std::vector<uint8_t> piece(kChunkSize);
    for (uint64_t done = 0; done < length;) {
        const uint32_t at = static_cast<uint32_t>(address + done);
        uint64_t count = std::min<uint64_t>(length - done, kChunkSize - at % kChunkSize);
        const bool heldBackHere =
            done % kSlotSize == 0 && (done == 0 || heldBack == HeldBack::EverySlot);
        if (heldBackHere) count = std::min<uint64_t>(count, kHeaderSize);
        const uint32_t n = static_cast<uint32_t>(count);
        if (!source(done, piece.data(), n).ok()) return plan;
        CountPiece(piece.data(), n, plan);
        done += n;
    }
    plan.done = true;
    return plan;
}

}  // namespace

ToolRun ToolInfo(sim::Board& board) {
    return Measured(board, [](Tool& tool) {
        BoardCatalogue catalogue;
        return ReadCatalogue(tool.session, catalogue);
    });
}

ToolRun ToolWrite(sim::Board& board, const std::string& path, Pace pace) {
    return Measured(
        board,
        [&path](Tool& tool) {
            ImageFile image;
            KELM_TRY(OpenImage(path, std::nullopt, image));
            if (image.slots > kSlotCount) return Refused(path + " needs more than 32 slots");
            BoardCatalogue catalogue;
            KELM_TRY(ReadCatalogue(tool.session, catalogue));
            const int start = FirstPlaceOn(catalogue.map, image.slots, image.alignMask);
            if (start < 0) return Refused("no room for " + path);
            tool.run.start = start;
            KELM_TRY(tool.session.TakeBus());
            ImageWriteStage stage;
            KELM_TRY(FlashImage(tool.session, image, start, false, tool.progress, stage));
            return tool.session.ReleaseBus();
        },
        pace);
}

ToolRun ToolVerify(sim::Board& board, const std::string& path, int start) {
    return Measured(board, [&path, start](Tool& tool) {
        ImageFile image;
        KELM_TRY(OpenImage(path, std::nullopt, image));
        const ByteSource source = [&image](uint64_t offset, uint8_t* out, uint32_t count) {
            return ReadImage(image, offset, out, count);
        };
        const uint64_t covered = ReadBackLength(image);
        KELM_TRY(tool.session.TakeBus());
        KELM_TRY(VerifyBytes(tool.session, static_cast<uint32_t>(start) * kSlotSize, covered,
                             source, tool.progress));
        return tool.session.ReleaseBus();
    });
}

ToolRun ToolBackup(sim::Board& board, int slot, const std::string& output) {
    return Measured(board, [slot, &output](Tool& tool) {
        BoardCatalogue catalogue;
        KELM_TRY(ReadCatalogue(tool.session, catalogue));
        int first = 0;
        int count = 0;
        KELM_TRY(RunOfSlot(catalogue, slot, first, count));
        return SaveRange(tool, static_cast<uint32_t>(first) * kSlotSize,
                         static_cast<uint64_t>(count) * kSlotSize, output);
    });
}

ToolRun ToolDump(sim::Board& board, const std::string& output) {
    return Measured(board,
                    [&output](Tool& tool) { return SaveRange(tool, 0, kFlashSize, output); });
}

ToolRun ToolRestore(sim::Board& board, const std::string& dump) {
    return Measured(board, [&dump](Tool& tool) {
        ReadOnlyFile file(std::fopen(dump.c_str(), "rb"));
        if (!file) return Refused("cannot open " + dump);
        const ByteSource source = [&file](uint64_t offset, uint8_t* out, uint32_t count) {
            return ReadDump(file.get(), offset, out, count);
        };
        KELM_TRY(tool.session.TakeBus());
        int erased = 0;
        KELM_TRY(EraseSlots(tool.session, 0, kSlotCount, tool.progress, erased));
        KELM_TRY(WriteHeadersLast(tool.session, 0, kFlashSize, source, tool.progress,
                                  HeldBack::EverySlot));
        return tool.session.ReleaseBus();
    });
}

PlanFigures PlanOfImage(const std::string& path, int start) {
    ImageFile image;
    if (!OpenImage(path, std::nullopt, image).ok()) return {};
    return PlanOf(static_cast<uint32_t>(start) * kSlotSize, image.imageLength, HeldBack::FirstSlot,
                  [&image](uint64_t offset, uint8_t* out, uint32_t count) {
                      return ReadImage(image, offset, out, count);
                  });
}

PlanFigures PlanOfDump(const std::string& dump) {
    ReadOnlyFile file(std::fopen(dump.c_str(), "rb"));
    if (!file) return {};
    return PlanOf(0, kFlashSize, HeldBack::EverySlot,
                  [&file](uint64_t offset, uint8_t* out, uint32_t count) {
                      return ReadDump(file.get(), offset, out, count);
                  });
}
