#include <windows.h>

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

std::string Library::FileVersion(const std::string& path) {
    return ResourceVersion(path, false);
}
std::string Library::ProductVersion(const std::string& path) {
    return ResourceVersion(path, true);
}
