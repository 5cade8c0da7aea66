// Moving whole images and dumps: the engine's operations over the command's files.
#include "flash_io.h"

namespace {

// The command's byte source as the engine's, keeping why it failed.
class SourceOfOutcomes : public core::ByteSource {
  public:
    explicit SourceOfOutcomes(const ::ByteSource& source) : source_(source) {}
    bool Fill(uint64_t offset, uint8_t* out, uint32_t count) override {
        failed_ = source_(offset, out, count);
        return failed_.ok();
    }
    // The run's outcome, or the source's own when the source was what failed.
    Outcome Explain(const Outcome& run) const { return run.ok() || failed_.ok() ? run : failed_; }

  private:
    const ::ByteSource& source_;
    Outcome failed_;
};

class SinkOfOutcomes : public core::ByteSink {
  public:
    explicit SinkOfOutcomes(const ::ByteSink& sink) : sink_(sink) {}
    bool Take(const uint8_t* bytes, uint32_t count) override {
        failed_ = sink_(bytes, count);
        return failed_.ok();
    }
    Outcome Explain(const Outcome& run) const { return run.ok() || failed_.ok() ? run : failed_; }

  private:
    const ::ByteSink& sink_;
    Outcome failed_;
};

}  // namespace

Outcome WriteBytes(BoardSession& session, uint32_t address, uint64_t length,
                   const ByteSource& source, Progress& progress) {
    return WriteHeadersLast(session, address, length, source, progress, HeldBack::None);
}

Outcome WriteHeadersLast(BoardSession& session, uint32_t address, uint64_t length,
                         const ByteSource& source, Progress& progress, HeldBack heldBack) {
    SourceOfOutcomes bytes(source);
    core::WriteFromSource write(address, length, bytes, heldBack);
    return bytes.Explain(session.Run(write, &progress));
}

Outcome EraseSlots(BoardSession& session, int first, int count, Progress& progress, int& erased) {
    core::EraseSlots erase(first, count);
    const Outcome outcome = session.Run(erase, &progress);
    erased = erase.erased();
    return outcome;
}

Outcome VerifyBytes(BoardSession& session, uint32_t address, uint64_t length,
                    const ByteSource& source, Progress& progress) {
    SourceOfOutcomes bytes(source);
    core::VerifyAgainstSource verify(address, length, bytes);
    return bytes.Explain(session.Run(verify, &progress));
}

Outcome ReadBytes(BoardSession& session, uint32_t address, uint64_t length, const ByteSink& sink,
                  Progress& progress) {
    SinkOfOutcomes bytes(sink);
    core::ReadToSink read(address, length, bytes);
    return bytes.Explain(session.Run(read, &progress));
}
