#pragma once

#include <string>

#include "base/native_library.h"

// A dynamic library loaded by path, unloaded when the object goes away.
class Library {
  public:
    // Loads `path` (UTF-8; a relative one from the current folder); throws std::runtime_error
    // "cannot load PATH: REASON" on failure.
    explicit Library(const std::string& path);

    // The address of an exported function, or null.
    void* Find(const char* name) const;

    template <class Function>
    Function* Get(const char* name) const {
        return library_.Symbol<Function>(name);
    }

    // "1.16.5.0" from the file's version resource, where the platform has one; empty otherwise.
    static std::string FileVersion(const std::string& path);
    static std::string ProductVersion(const std::string& path);

  private:
    morva::NativeLibrary library_;
};

// UTF-16 <-> UTF-8 for the host's own printing; the library's conversions are not ours to borrow.
std::u16string WidenUtf8(const std::string& text);
std::string NarrowUtf16(const char16_t* text);
