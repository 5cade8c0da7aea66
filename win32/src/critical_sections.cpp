// Critical sections: recursive per thread, like Windows. The stand-in owns each section's record
// and keeps it until the process ends, so that a section that is initialised and never deleted
// (as the program's DeviceLock is) is no leak, and a stale one is never freed memory. Using a
// section that was never initialised, or leaving one the thread does not hold, aborts at once:
// on Windows it corrupts the process quietly.
#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

namespace standin {
namespace detail {

namespace {

struct SectionRecord {
    const CRITICAL_SECTION* home = nullptr;  // the block that was initialised with it
    std::mutex mutex;
    std::condition_variable released;
    std::thread::id owner;
    int depth = 0;
};

struct SectionRegistry {
    std::mutex mutex;
    std::vector<std::unique_ptr<SectionRecord>> all;  // every record ever made
    std::unordered_set<SectionRecord*> live;          // initialised and not deleted
};

// Never destroyed: a detached thread may still leave a section while the process exits.
// Written by any thread, under its own mutex.
SectionRegistry& Registry() {
    static SectionRegistry* registry = new SectionRegistry();
    return *registry;
}

[[noreturn]] void Abort(const char* call, const char* what) {
    std::fprintf(stderr, "%s: %s\n", call, what);
    std::fflush(stderr);
    std::abort();
}

SectionRecord* LiveRecord(LPCRITICAL_SECTION section, const char* call) {
    if (section == nullptr) {
        Abort(call, "null critical section");
    }
    SectionRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    SectionRecord* record = static_cast<SectionRecord*>(section->impl);
    if (registry.live.count(record) == 0 || record->home != section) {
        Abort(call, "critical section not initialised (or already deleted)");
    }
    return record;
}

}  // namespace

}  // namespace detail
}  // namespace standin

extern "C" {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
    using namespace standin::detail;
    if (section == nullptr) {
        Abort("InitializeCriticalSection", "null critical section");
    }
    SectionRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    // A block initialised again without being deleted (the program's DeviceLock, once per test
    // run of its start-up) drops its old record rather than keeping it live for ever.
    SectionRecord* old = static_cast<SectionRecord*>(section->impl);
    if (registry.live.count(old) != 0 && old->home == section) {
        registry.live.erase(old);
    }
    registry.all.push_back(std::make_unique<SectionRecord>());
    SectionRecord* record = registry.all.back().get();
    record->home = section;
    registry.live.insert(record);
    *section = CRITICAL_SECTION{};
    section->impl = record;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
    using namespace standin::detail;
    SectionRecord* record = LiveRecord(section, "EnterCriticalSection");
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(record->mutex);
    if (record->depth > 0 && record->owner == self) {
        ++record->depth;
        return;
    }
    record->released.wait(lock, [record] { return record->depth == 0; });
    record->owner = self;
    record->depth = 1;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
    using namespace standin::detail;
    SectionRecord* record = LiveRecord(section, "LeaveCriticalSection");
    std::lock_guard<std::mutex> lock(record->mutex);
    if (record->depth == 0 || record->owner != std::this_thread::get_id()) {
        Abort("LeaveCriticalSection", "the calling thread does not hold the critical section");
    }
    if (--record->depth == 0) {
        record->owner = std::thread::id();
        record->released.notify_one();
    }
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
    using namespace standin::detail;
    SectionRecord* record = LiveRecord(section, "DeleteCriticalSection");
    SectionRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.live.erase(record);
    section->impl = nullptr;
}

}  // extern "C"
