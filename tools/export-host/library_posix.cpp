#include <dlfcn.h>

#include <stdexcept>

#include "library.h"

struct Library::Handle {
    void* module = nullptr;
    ~Handle() {
        if (module != nullptr) {
            dlclose(module);
        }
    }
};

Library::Library(const std::string& path) : handle_(std::make_unique<Handle>()) {
    handle_->module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_->module == nullptr) {
        const char* reason = dlerror();
        throw std::runtime_error("cannot load " + path + ": " + (reason ? reason : "unknown"));
    }
}

Library::~Library() = default;

void* Library::Find(const char* name) const {
    return dlsym(handle_->module, name);
}

std::string Library::FileVersion(const std::string&) {
    return {};
}
std::string Library::ProductVersion(const std::string&) {
    return {};
}
