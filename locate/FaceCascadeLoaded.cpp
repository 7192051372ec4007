// vetra-batch's locator module: the cascade's own module, beside this one, is loaded the
// first time a page needs it, so that the pages that never do (most) do not pay for the
// OpenCV libraries it brings.
#include "locate/FaceCascade.h"
#include "locate/LocatorModule.h"

#include <dlfcn.h>
#include <mutex>
#include <stdexcept>
#include <string_view>

static_assert(std::string_view(FaceCascade::kModuleFile) == LocatorModule::kCascadeFileName,
              "the loader checks the cascade's module under the name it is loaded by");

namespace {

// The cascade module's entry named entry, the module loaded on the first call; null with
// the reason in *failure when it cannot be.
struct Loaded {
    void* handle = nullptr;
    std::string failure;
};

const Loaded& module() {
    static std::once_flag once;
    static Loaded loaded;
    std::call_once(once, [] {
        Dl_info self{};
        if (!::dladdr(reinterpret_cast<void*>(&FaceCascade::finder), &self) || !self.dli_fname) {
            loaded.failure = "the locator module does not know its own path";
            return;
        }
        std::string path = self.dli_fname;
        path = path.substr(0, path.find_last_of('/') + 1) + FaceCascade::kModuleFile;
        // Bound now: a symbol missing from a library it needs is a failure here, with a
        // message, not the end of the process at the first call.
        // Never closed: OpenCV's static objects live to the end of the process.
        loaded.handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!loaded.handle) {
            const char* error = ::dlerror();
            loaded.failure = error ? error : path;
        }
    });
    return loaded;
}

FaceCascade::Finder entryOf(const char* name, std::string* failure) {
    const Loaded& loaded = module();
    if (!loaded.handle) {
        *failure = loaded.failure;
        return nullptr;
    }
    using Entry = FaceCascade::Finder (*)();
    const auto entry = reinterpret_cast<Entry>(::dlsym(loaded.handle, name));
    const FaceCascade::Finder found = entry ? entry() : nullptr;
    if (!found)
        *failure = std::string(FaceCascade::kModuleFile) + ": no entry " + name;
    return found;
}

} // namespace

FaceCascade::Finder FaceCascade::finder(std::string* why) {
    static std::once_flag once;
    static Finder loaded = nullptr;
    static std::string failure;
    std::call_once(once, [] { loaded = entryOf(kModuleEntry, &failure); });
    // Without the cascade the locator would read drawn faces as no face at all: a wrong
    // answer. The module's edge (LocatorModule.cpp) turns this into the loader's error.
    if (!loaded) {
        *why = failure;
        throw std::runtime_error("impossibile usare il modulo che trova i volti disegnati: " + failure);
    }
    return loaded;
}

FaceCascade::Finder FaceCascade::eyeFinder(std::string* why) {
    static std::once_flag once;
    static Finder loaded = nullptr;
    static std::string failure;
    std::call_once(once, [] { loaded = entryOf(kEyeEntry, &failure); });
    if (!loaded)
        *why = failure;
    return loaded;
}
