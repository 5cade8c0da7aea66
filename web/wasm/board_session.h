// The web page's session with one board: the engine, the catalogue it last read, the image or
// dump chosen, and the job running. The page's JavaScript carries the reports; everything it
// decides about the flash is decided here, with the code kelmtool uses.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/image_check.h"
#include "core/input_text.h"
#include "core/operations.h"
#include "core/stopped_write.h"
#include "web/wasm/web_job.h"

namespace web {

class BoardSession {
  public:
    explicit BoardSession(uint32_t pollLimitMs) : engine_(pollLimitMs) {}

    // ---- the file chosen for Write and Verify
    // The buffer the page copies the file's bytes into, length bytes long.
    uint8_t* FileBuffer(uint32_t length);
    // Checks a file of fileLength bytes, whose bytes are in the buffer, as kelmtool checks a file
    // of that name: "" when it may be written, else the refusal. Its name goes into the header's
    // name field. Of a file longer than the flash the buffer may hold only the first
    // kImageHeadSize bytes, all that the checks read: such a file is refused.
    std::string PrepareImage(const std::string& fileName, uint64_t fileLength);
    const ImageLayout& image() const { return image_; }
    bool CanPlaceImage(int start) const;

    // ---- the dump chosen for Restore
    uint8_t* DumpBuffer(uint32_t length);
    // A file of another length than the flash is refused from its length alone, unread.
    std::string CheckDump(const std::string& fileName, uint64_t fileLength);

    // ---- jobs; each returns "" when started, else why it cannot be. A job reads its own copy
    // of the file chosen, so that a file chosen while it runs changes nothing of it.
    std::string StartCatalogue();
    std::string StartRelease();
    // At wanted, or when it is negative the first free run that can take the image.
    std::string StartWrite(int wanted, bool verify);
    std::string StartBackup(int slot);
    std::string StartDump();
    std::string StartErase(int slot);
    std::string StartVerify(int slot);
    std::string StartRestore(bool verify);

    // ---- the engine's loop, for the page's driver
    int Next(double nowMs);
    const uint8_t* report() const { return report_; }
    uint8_t* answer() { return answer_; }
    void Sent(bool written) { engine_.Sent(written); }
    void Fetched(bool answered) { engine_.Fetched(answered ? answer_ : nullptr); }
    void AskStop() { engine_.AskStop(); }
    bool busHeld() const { return engine_.busHeld(); }
    const core::Failure& failure() const { return engine_.failure(); }
    std::string FailureText() const;
    const Job* job() const { return job_.get(); }

    // What the flash holds after the last job stopped part of the way (asked before the next
    // job starts).
    std::string StoppedText() const;
    // Whether the last verify found the name field alone differing (a file written under another
    // name), which is no mismatch.
    bool nameDiffers() const { return nameDiffers_; }
    // The bytes the last backup or dump read.
    const std::vector<uint8_t>& read() const { return read_; }
    int jobFirst() const { return first_; }
    int jobCount() const { return count_; }

    // ---- the catalogue
    const core::Catalogue& catalogue() const { return catalogue_; }
    std::string NameOf(int slot) const;
    std::string MagicHex(int slot) const;

    // ---- the board's two-line text
    void ApplyInput(const uint8_t* report);
    std::string InputText() const;

  private:
    std::string RunOfSlot(int slot);
    // What a job changes on the flash, for StoppedText.
    enum class Changes { Nothing, Image, Run, Everything };
    void Begin(std::unique_ptr<Job> job, Changes changes, const core::EraseSlots* erasing);
    // Takes the image chosen, or the dump, as the job's own.
    void TakeImage();
    void TakeDump();

    core::Engine engine_;
    std::unique_ptr<Job> job_;
    const uint8_t* report_ = nullptr;
    uint8_t answer_[kReportSize] = {};
    core::Catalogue catalogue_;
    core::Catalogue reading_;  // the catalogue being read; catalogue_ once complete
    std::vector<uint8_t> file_;
    std::string fileName_;
    ImageLayout image_;
    bool imageReady_ = false;
    std::vector<uint8_t> dump_;
    std::string dumpName_;
    // The running (or last) job's own copy of the file it writes or compares.
    struct JobFile {
        std::string name;
        ImageLayout image;
        std::vector<uint8_t> bytes;
    };
    JobFile jobFile_;
    std::unique_ptr<ImageSource> imageSource_;
    std::unique_ptr<BufferSource> dumpSource_;
    std::vector<uint8_t> read_;
    std::unique_ptr<BufferSink> readSink_;
    uint8_t storedHead_[kHeaderSize] = {};
    bool nameDiffers_ = false;
    bool slotsDiffer_ = false;  // the image verified and the run on the board, in slots
    int first_ = 0;
    int count_ = 0;
    ImageWriteStage stage_;
    Changes changes_ = Changes::Nothing;
    const core::EraseSlots* erasing_ = nullptr;  // of the job, if it erases
    char inputState_[kInputStateSize] = {};
};

}  // namespace web
