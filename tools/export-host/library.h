#pragma once

#include <memory>
#include <string>

// A dynamic library loaded by path, unloaded when the object goes away.
class Library {
  public:
    // Loads `path` (UTF-8); throws std::runtime_error with the system's reason on failure.
    explicit Library(const std::string& path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // The address of an exported function, or null.
    void* Find(const char* name) const;

    template <class Function>
    Function* Get(const char* name) const {
        return reinterpret_cast<Function*>(Find(name));
    }

    // "1.16.5.0" from the file's version resource, where the platform has one; empty otherwise.
    static std::string FileVersion(const std::string& path);
    static std::string ProductVersion(const std::string& path);

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

// UTF-16 <-> UTF-8 for the host's own printing; the library's conversions are not ours to borrow.
std::u16string WidenUtf8(const std::string& text);
std::string NarrowUtf16(const char16_t* text);
