#include "library.h"

std::string Library::FileVersion(const std::string&) {
    return {};
}
std::string Library::ProductVersion(const std::string&) {
    return {};
}
