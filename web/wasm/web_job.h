// What the web page asks of a board, each one job for the engine: the parts of one action (bus
// request, erase, write, read-back, bus release) chained as one operation, so that the page's
// asynchronous loop drives a single Start ... Done and a Cancel is the engine's stop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/image_check.h"
#include "core/operations.h"

namespace web {

class Job : public core::Operation {
  public:
    // A part shown as stage, total bytes long on the bar; after, if given, runs when it is
    // complete, before the next part starts.
    void Add(std::unique_ptr<core::Operation> part, std::string stage, uint64_t total,
             std::function<void()> after = {});
    Next NextTransfer(core::TransferOrder& order, core::Failure& failure) override;
    uint64_t done() const override;

    const std::string& stage() const;
    uint64_t stageDone() const;
    uint64_t stageTotal() const;
    // Parts complete so far.
    size_t completed() const { return current_; }

  private:
    struct Part {
        std::unique_ptr<core::Operation> operation;
        std::string stage;
        uint64_t total;
        std::function<void()> after;
    };
    std::vector<Part> parts_;
    size_t current_ = 0;
    uint64_t doneBefore_ = 0;
};

// An image held whole in memory (a page has the file's bytes), with its header part in front.
class ImageSource : public core::ByteSource {
  public:
    ImageSource(const ImageLayout& layout, const std::vector<uint8_t>& file)
        : layout_(layout), file_(file) {}
    bool Fill(uint64_t offset, uint8_t* out, uint32_t count) override;

  private:
    const ImageLayout& layout_;
    const std::vector<uint8_t>& file_;
};

// Bytes held in memory: a dump to restore.
class BufferSource : public core::ByteSource {
  public:
    explicit BufferSource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Fill(uint64_t offset, uint8_t* out, uint32_t count) override;

  private:
    const std::vector<uint8_t>& bytes_;
};

// Bytes read from the flash, kept for a download.
class BufferSink : public core::ByteSink {
  public:
    explicit BufferSink(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Take(const uint8_t* bytes, uint32_t count) override;

  private:
    std::vector<uint8_t>& bytes_;
};

}  // namespace web
