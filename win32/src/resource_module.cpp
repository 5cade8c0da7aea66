// Modules that carry resources: the bytes of compiled .res files that tests register.
#include <windows.h>

#include <memory>

#include "win32/src/standin_internal.h"
#include "win32/src/user_internal.h"

namespace standin {
namespace detail {
namespace {

struct Module {
    std::vector<uint8_t> bytes;
    std::vector<ResourceEntry> entries;  // point into bytes
};

// Registered since the last reset, the program's own first. Main thread.
std::vector<std::unique_ptr<Module>> gModules;

Module* FindModule(HINSTANCE instance) {
    for (const std::unique_ptr<Module>& module : gModules) {
        if (reinterpret_cast<HINSTANCE>(module.get()) == instance) return module.get();
    }
    return nullptr;
}

}  // namespace

DWORD LoadDialogTemplate(HINSTANCE instance, LPCSTR name, DialogTemplate* dialog) {
    Module* module = FindModule(instance != nullptr ? instance : MainModule());
    if (module == nullptr) return ERROR_RESOURCE_DATA_NOT_FOUND;
    bool anyDialog = false;
    for (const ResourceEntry& entry : module->entries) {
        if (!MatchesResource(entry.type, RT_DIALOG)) continue;
        anyDialog = true;
        if (!MatchesResource(entry.name, name)) continue;
        return ParseDialogTemplate(entry.data, entry.size, dialog)
                   ? static_cast<DWORD>(ERROR_SUCCESS)
                   : static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND);
    }
    return anyDialog ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
}

void ResetModules() { gModules.clear(); }

}  // namespace detail

HINSTANCE RegisterModule(const uint8_t* resBytes, size_t size) {
    auto module = std::make_unique<detail::Module>();
    if (size > 0) {
        if (resBytes == nullptr) return nullptr;
        module->bytes.assign(resBytes, resBytes + size);
    }
    if (!detail::ReadResourceFile(module->bytes.data(), module->bytes.size(), &module->entries)) {
        return nullptr;
    }
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(module.get());
    bool programModule = detail::gModules.empty();
    detail::gModules.push_back(std::move(module));
    if (programModule) detail::SetMainModule(instance);
    return instance;
}

}  // namespace standin
