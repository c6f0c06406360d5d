#include "util/printf_format.h"

#include <fmt/args.h>
#include <fmt/printf.h>

#include <algorithm>
#include <cstring>
#include <exception>

namespace morva {

namespace {

template <class Char>
std::size_t LengthUpToNull(const Char* text, std::size_t limit) noexcept {
    std::size_t n = 0;
    while (n < limit && text[n] != Char{}) {
        ++n;
    }
    return n;
}

// Not the library's converters: their own errors are formatted here, with this text in them.
std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00U);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        constexpr char32_t kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out.push_back(static_cast<char>(kLead[extra] | (c >> (6 * extra))));
        for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6) {
            out.push_back(static_cast<char>(0x80 | ((c >> shift) & 0x3F)));
        }
    }
    return out;
}

// fmt refuses most mismatches itself, but cannot tell "%s" from "%ls" once wide text is UTF-8,
// takes a field of any size, and formats a plain "%d" at its argument's own width where printf
// reads an int. So the format is walked here first, each conversion checked against the argument
// it takes and that argument handed to fmt as the conversion reads it.
class Arguments {
  public:
    Arguments(std::string_view format, std::span<const PrintfArg> args)
        : format_(format), args_(args) {}

    bool Collect() {
        while ((pos_ = format_.find('%', pos_)) != std::string_view::npos) {
            ++pos_;
            if (Skip("%")) {
                continue;
            }
            pos_ = std::min(format_.find_first_not_of("-+ #0", pos_), format_.size());
            if (!Field(-kMaxField) || (Skip(".") && !Field(0))) {
                return false;
            }
            std::string_view length;
            for (std::string_view candidate : {"hh", "ll", "h", "l", "j", "z", "t", "L"}) {
                if (Skip(candidate)) {
                    length = candidate;
                    break;
                }
            }
            if (pos_ == format_.size() || !Convert(format_[pos_++], length)) {
                return false;
            }
        }
        return true;
    }

    const fmt::dynamic_format_arg_store<fmt::printf_context>& store() const { return store_; }

  private:
    static constexpr int kMaxField = 100000;

    bool Skip(std::string_view text) {
        if (format_.substr(pos_).starts_with(text)) {
            pos_ += text.size();
            return true;
        }
        return false;
    }

    const PrintfArg* Next() { return next_ < args_.size() ? &args_[next_++] : nullptr; }

    static bool IsIntegral(const PrintfArg* arg) {
        return arg != nullptr &&
               (arg->kind() == PrintfArg::Kind::Signed || arg->kind() == PrintfArg::Kind::Unsigned);
    }

    // A width or precision: digits, or '*' taking an int argument. A negative '*' width means
    // left-justified; a negative precision, which printf would ignore, is refused.
    bool Field(int least) {
        if (Skip("*")) {
            const PrintfArg* arg = Next();
            if (!IsIntegral(arg)) {
                return false;
            }
            const auto value = static_cast<int>(arg->AsSigned());
            store_.push_back(value);
            return value >= least && value <= kMaxField;
        }
        long long value = 0;
        for (; pos_ < format_.size() && format_[pos_] >= '0' && format_[pos_] <= '9'; ++pos_) {
            value = value * 10 + (format_[pos_] - '0');
            if (value > kMaxField) {
                return false;
            }
        }
        return true;
    }

    bool Convert(char conversion, std::string_view length) {
        const PrintfArg* arg = Next();
        const auto among = [conversion](std::string_view set) {
            return set.find(conversion) != std::string_view::npos;
        };
        if (arg == nullptr) {
            return false;
        }
        if (conversion == 's') {
            return Text(*arg, length);
        }
        if ((among("diouxX") || (conversion == 'c' && length.empty())) && IsIntegral(arg) &&
            length != "L") {
            // fmt narrows to a length modifier's type itself, but leaves a plain conversion's
            // argument as wide as it came.
            if (length.empty()) {
                store_.push_back(static_cast<int>(arg->AsSigned()));
            } else {
                store_.push_back(arg->AsSigned());
            }
            return true;
        }
        if (among("fFeEgGaA") && arg->kind() == PrintfArg::Kind::Floating) {
            store_.push_back(arg->AsFloating());
            return true;
        }
        if (conversion == 'p' && arg->kind() == PrintfArg::Kind::Pointer) {
            store_.push_back(arg->AsPointer());
            return true;
        }
        return false;  // includes %n: nothing is ever written through an argument
    }

    bool Text(const PrintfArg& arg, std::string_view length) {
        const bool wide = length == "l";
        if (arg.kind() != (wide ? PrintfArg::Kind::Wide : PrintfArg::Kind::Narrow) ||
            !(wide || length.empty())) {
            return false;
        }
        if (arg.AsPointer() == nullptr) {
            store_.push_back(std::string_view("(null)"));
        } else if (wide) {
            store_.push_back(ToUtf8({arg.wide(), arg.length()}));
        } else {
            store_.push_back(std::string_view(arg.narrow(), arg.length()));
        }
        return true;
    }

    std::string_view format_;
    std::span<const PrintfArg> args_;
    std::size_t pos_ = 0;
    std::size_t next_ = 0;
    fmt::dynamic_format_arg_store<fmt::printf_context> store_;
};

}  // namespace

PrintfArg::PrintfArg(const char* text) noexcept
    : kind_(Kind::Narrow), pointer_(text), length_(text != nullptr ? std::strlen(text) : 0) {}
PrintfArg::PrintfArg(const std::string& text) noexcept : PrintfArg(text.c_str()) {}
PrintfArg::PrintfArg(std::string_view text) noexcept
    : kind_(Kind::Narrow),
      pointer_(text.data()),
      length_(LengthUpToNull(text.data(), text.size())) {}
PrintfArg::PrintfArg(const char16_t* text) noexcept
    : kind_(Kind::Wide),
      pointer_(text),
      length_(text != nullptr ? std::char_traits<char16_t>::length(text) : 0) {}
PrintfArg::PrintfArg(const std::u16string& text) noexcept : PrintfArg(text.c_str()) {}
PrintfArg::PrintfArg(std::u16string_view text) noexcept
    : kind_(Kind::Wide), pointer_(text.data()), length_(LengthUpToNull(text.data(), text.size())) {}

long long PrintfArg::AsSigned() const noexcept {
    return kind_ == Kind::Unsigned ? static_cast<long long>(unsigned_) : signed_;
}

unsigned long long PrintfArg::AsUnsigned() const noexcept {
    return kind_ == Kind::Signed ? static_cast<unsigned long long>(signed_) : unsigned_;
}

bool FormatPrintf(std::string& out, std::string_view format,
                  std::span<const PrintfArg> args) noexcept {
    try {
        Arguments arguments(format, args);
        if (!arguments.Collect()) {
            return false;
        }
        out = fmt::vsprintf(fmt::string_view(format.data(), format.size()), arguments.store());
        return true;
    } catch (const std::exception&) {  // fmt's refusals, and running out of memory
        return false;
    }
}

void CopyTruncated(char* buffer, std::size_t capacity, std::string_view text) noexcept {
    if (buffer == nullptr || capacity == 0) {
        return;
    }
    const auto continuation = [&](std::size_t i) {
        return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    };
    std::size_t count = std::min(text.size(), capacity - 1);
    // A cut inside a UTF-8 character drops the whole character; three bytes back at most, as
    // further back it is no UTF-8 to keep whole.
    std::size_t lead = count;
    while (lead < text.size() && lead > 0 && count - lead < 3 && continuation(lead)) {
        --lead;
    }
    if (lead < count && static_cast<unsigned char>(text[lead]) >= 0xC0) {
        count = lead;
    }
    std::copy_n(text.data(), count, buffer);
    buffer[count] = '\0';
}

}  // namespace morva
