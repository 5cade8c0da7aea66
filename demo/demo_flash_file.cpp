// The demo board's flash file beside kelm-demo.exe.
#include "demo/demo_flash_file.h"

#include "demo/sample_flash.h"

namespace {

const FlashFileOwner kDemoOwner = {
    "The demo board's flash file", BuildSampleFlash,
    "\n\nThe file was left as it is. Move it away, and the demo starts with a new sample flash."};

}  // namespace

FlashFileOpen OpenFlashFile(const std::string& path, FlashFile& flashFile,
                            std::vector<uint8_t>& flash, std::string& problem) {
    return OpenFlashFile(path, kDemoOwner, flashFile, flash, problem);
}
