#include <windows.h>

#include <stdexcept>
#include <vector>

#include "library.h"

namespace {

std::wstring Wide(const std::string& utf8) {
    const std::u16string text = WidenUtf8(utf8);
    return std::wstring(text.begin(), text.end());
}

// "a.b.c.d" from the fixed part of the version resource; `product` picks the product version.
std::string ResourceVersion(const std::string& path, bool product) {
    const std::wstring file = Wide(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) {
        return {};
    }
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) {
        return {};
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr) {
        return {};
    }
    const DWORD ms = product ? info->dwProductVersionMS : info->dwFileVersionMS;
    const DWORD ls = product ? info->dwProductVersionLS : info->dwFileVersionLS;
    return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." +
           std::to_string(HIWORD(ls)) + "." + std::to_string(LOWORD(ls));
}

}  // namespace

struct Library::Handle {
    HMODULE module = nullptr;
    ~Handle() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
};

Library::Library(const std::string& path) : handle_(std::make_unique<Handle>()) {
    handle_->module = LoadLibraryW(Wide(path).c_str());
    if (handle_->module == nullptr) {
        throw std::runtime_error("cannot load " + path + ": error " +
                                 std::to_string(GetLastError()));
    }
}

Library::~Library() = default;

void* Library::Find(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(handle_->module, name));
}

std::string Library::FileVersion(const std::string& path) {
    return ResourceVersion(path, false);
}
std::string Library::ProductVersion(const std::string& path) {
    return ResourceVersion(path, true);
}
