// The web page's jobs: parts of one action chained as one operation.
#include "web/wasm/web_job.h"

#include <cstring>

#include "core/flash_layout.h"

namespace web {

void Job::Add(std::unique_ptr<core::Operation> part, std::string stage, uint64_t total,
              std::function<void()> after) {
    parts_.push_back({std::move(part), std::move(stage), total, std::move(after)});
}

core::Operation::Next Job::NextTransfer(core::TransferOrder& order, core::Failure& failure) {
    while (current_ < parts_.size()) {
        Part& part = parts_[current_];
        const Next next = part.operation->NextTransfer(order, failure);
        if (next != Next::Complete) return next;
        doneBefore_ += part.operation->done();
        if (part.after) part.after();
        ++current_;
    }
    return Next::Complete;
}

uint64_t Job::done() const {
    return doneBefore_ + (current_ < parts_.size() ? parts_[current_].operation->done() : 0);
}

const std::string& Job::stage() const {
    static const std::string none;
    return current_ < parts_.size() ? parts_[current_].stage : none;
}

uint64_t Job::stageDone() const {
    return current_ < parts_.size() ? parts_[current_].operation->done() : 0;
}

uint64_t Job::stageTotal() const { return current_ < parts_.size() ? parts_[current_].total : 0; }

bool ImageSource::Fill(uint64_t offset, uint8_t* out, uint32_t count) {
    std::memset(out, kErasedByte, count);
    const uint64_t end = std::min<uint64_t>(offset + count, layout_.imageLength);
    const uint64_t at = offset + CopyHeaderPart(layout_, offset, out, count);
    if (at >= end) return true;
    const uint64_t from = FileOffset(layout_, at);
    if (from + (end - at) > file_.size()) return false;
    std::memcpy(out + (at - offset), file_.data() + from, static_cast<size_t>(end - at));
    return true;
}

bool BufferSource::Fill(uint64_t offset, uint8_t* out, uint32_t count) {
    if (offset + count > bytes_.size()) return false;
    std::memcpy(out, bytes_.data() + offset, count);
    return true;
}

bool BufferSink::Take(const uint8_t* bytes, uint32_t count) {
    bytes_.insert(bytes_.end(), bytes, bytes + count);
    return true;
}

}  // namespace web
