// The operations the programs run on a board, each a sequence of transfers that the engine
// carries out: a single transfer (the bus taken or given back, one slot erased), reads, writes
// that send only what changes the flash, verification, erasing slots, and the catalogue read.
// The bytes to write come from a ByteSource and the bytes read go to a ByteSink, which the
// driver implements over its files; the operations hold one chunk buffer whatever the size.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/engine.h"
#include "core/flash_layout.h"
#include "core/slot_map.h"

namespace core {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // The bytes [offset, offset + count) of what is to be written; false when they cannot be had.
    virtual bool Fill(uint64_t offset, uint8_t* out, uint32_t count) = 0;
};

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Takes count bytes read from the flash; false when they cannot be kept.
    virtual bool Take(const uint8_t* bytes, uint32_t count) = 0;
};

// One transfer: a bus request or release, or the erase of one slot.
class SingleTransfer : public Operation {
  public:
    explicit SingleTransfer(const TransferOrder& order) : order_(order) {}
    static SingleTransfer BusRequest();
    static SingleTransfer BusRelease();
    static SingleTransfer Erase(int slot);
    Next NextTransfer(TransferOrder& order, Failure& failure) override;

  private:
    TransferOrder order_;
    bool given_ = false;
};

// length bytes from a linear address into out, in CMD_READ transfers that never cross a bank.
class ReadInto : public Operation {
  public:
    ReadInto(uint32_t address, uint8_t* out, uint32_t length)
        : address_(address), out_(out), length_(length) {}
    Next NextTransfer(TransferOrder& order, Failure& failure) override;
    uint64_t done() const override { return done_; }

  private:
    uint32_t address_;
    uint8_t* out_;
    uint32_t length_;
    uint32_t done_ = 0;
    uint32_t asked_ = 0;
};

// length bytes from address into a sink, a chunk of the flash's 32 KB grid at a time.
class ReadToSink : public Operation {
  public:
    ReadToSink(uint32_t address, uint64_t length, ByteSink& sink);
    Next NextTransfer(TransferOrder& order, Failure& failure) override;
    uint64_t done() const override { return done_; }

  private:
    uint32_t address_;
    uint64_t length_;
    ByteSink& sink_;
    std::unique_ptr<uint8_t[]> chunk_;
    uint64_t done_ = 0;
    uint32_t pending_ = 0;  // bytes of the chunk being read
};

// Which slots' first kHeaderSize bytes a write holds back until the rest is on the flash: those
// bytes decide whether the catalogue sees anything there, so an interrupted write leaves its
// first slot reading as free, never a header claiming an image that is not all there.
enum class HeldBack {
    None,       // one pass
    FirstSlot,  // an image: only its own header, at most one CMD_WRITE more than in one pass
    EverySlot,  // a whole-flash restore: every slot's first bytes
};

// length bytes from source written at address (a slot's start unless held is None), chunk by
// chunk on the 32 KB grid so that no CMD_WRITE crosses a bank's end; runs of 0xFF are skipped
// (see write_plan.h). The held-back bytes go last, in transfers no stop splits.
class WriteFromSource : public Operation {
  public:
    WriteFromSource(uint32_t address, uint64_t length, ByteSource& source, HeldBack held);
    Next NextTransfer(TransferOrder& order, Failure& failure) override;
    uint64_t done() const override { return done_; }

  private:
    struct Range {
        uint64_t from;
        uint64_t to;
        bool whole;
    };
    uint32_t address_;
    ByteSource& source_;
    std::vector<Range> ranges_;
    size_t range_ = 0;
    uint64_t at_ = 0;  // the next chunk's offset in the current range
    std::unique_ptr<uint8_t[]> chunk_;
    uint32_t chunkAddress_ = 0;
    uint32_t chunkLength_ = 0;
    std::vector<std::pair<uint32_t, uint32_t>> spans_;  // of the chunk: offset, length
    size_t span_ = 0;
    uint64_t done_ = 0;
};

// The flash from address compared with source over length bytes, a 4 KB piece at a time so that
// two whole chunks are never held; a difference fails as Mismatch.
class VerifyAgainstSource : public Operation {
  public:
    VerifyAgainstSource(uint32_t address, uint64_t length, ByteSource& source);
    Next NextTransfer(TransferOrder& order, Failure& failure) override;
    uint64_t done() const override { return done_; }

  private:
    uint32_t address_;
    uint64_t length_;
    ByteSource& source_;
    std::unique_ptr<uint8_t[]> expected_;
    uint8_t actual_[4096];
    uint64_t chunkAt_ = 0;      // the current chunk's offset
    uint32_t chunkLength_ = 0;  // 0: none loaded
    uint32_t piece_ = 0;        // the next piece's offset in the chunk
    uint32_t pieceLength_ = 0;  // of the piece being read, 0: none
    uint64_t done_ = 0;
};

// Slots [first, first + count) erased one after the other.
class EraseSlots : public Operation {
  public:
    EraseSlots(int first, int count) : first_(first), count_(count) {}
    Next NextTransfer(TransferOrder& order, Failure& failure) override;
    uint64_t done() const override { return static_cast<uint64_t>(completed_) * kSlotSize; }
    // Slots erased so far, from the first.
    int erased() const { return completed_; }

  private:
    int first_;
    int count_;
    int asked_ = 0;
    int completed_ = 0;
};

// The board's catalogue, classified as the window classifies it.
struct Catalogue {
    SlotEntry map[kSlotCount] = {};
    const char* labels[kSlotCount] = {};
    // Headers of run heads and of free and corrupted slots, in host order, size clamped.
    SlotHeader headers[kSlotCount] = {};
    // The size field of each run head as stored, before the clamp.
    uint32_t storedSize[kSlotCount] = {};
};

// Whether slot 0 holds a bootable image: a run head with the "(C) " magic.
bool BiosInSlotZero(const Catalogue& catalogue);

// The catalogue under one bus request: the bus taken, the header of every run head read (the
// slots of a run after its head are skipped), the bus given back.
class ReadCatalogue : public Operation {
  public:
    explicit ReadCatalogue(Catalogue& catalogue) : catalogue_(catalogue) {}
    Next NextTransfer(TransferOrder& order, Failure& failure) override;

  private:
    enum class Step { Request, Header, Release, Complete };
    Catalogue& catalogue_;
    Step step_ = Step::Request;
    int slot_ = 0;
    bool reading_ = false;
};

}  // namespace core
