#include "util/printf_format.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

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

constexpr std::size_t kNoLimit = static_cast<std::size_t>(-1);

// One parsed conversion: "%[flags][width][.precision][length]conversion".
struct Directive {
    std::string flags;
    int width = -1;      // -1: none
    int precision = -1;  // -1: none
    std::string_view length;
    char conversion = 0;
};

template <class Char>
class Formatter {
  public:
    Formatter(std::basic_string<Char>& out, std::basic_string_view<Char> format,
              std::span<const PrintfArg> args)
        : out_(out), format_(format), args_(args) {}

    bool Run() {
        out_.clear();
        while (pos_ < format_.size()) {
            const Char c = format_[pos_++];
            if (c != Char('%')) {
                out_.push_back(c);
                continue;
            }
            if (!Conversion()) {
                return false;
            }
        }
        return true;
    }

  private:
    bool Peek(char c) const { return pos_ < format_.size() && format_[pos_] == Char(c); }

    static unsigned Unit(Char c) { return static_cast<std::make_unsigned_t<Char>>(c); }

    // Reads a width or precision: digits, or '*' taking an int argument. `value` keeps its
    // default when neither is present; `starNegative` tells a negative '*' argument.
    bool ReadNumberOrStar(int& value, bool& starNegative) {
        starNegative = false;
        if (Peek('*')) {
            ++pos_;
            const PrintfArg* arg = Next();
            if (arg == nullptr || !IsIntegral(*arg)) {
                return false;
            }
            const long long n = static_cast<int>(arg->AsSigned());
            starNegative = n < 0;
            value = static_cast<int>(n < 0 ? -n : n);
            return value <= kMaxField;
        }
        long long n = 0;
        bool any = false;
        while (pos_ < format_.size() && Unit(format_[pos_]) >= '0' && Unit(format_[pos_]) <= '9') {
            n = n * 10 + (Unit(format_[pos_++]) - '0');
            if (n > kMaxField) {
                return false;  // no sane format asks for this; refuse rather than allocate
            }
            any = true;
        }
        if (any) {
            value = static_cast<int>(n);
        }
        return true;
    }

    static constexpr int kMaxField = 100000;

    const PrintfArg* Next() { return next_ < args_.size() ? &args_[next_++] : nullptr; }

    bool Conversion() {
        if (Peek('%')) {
            ++pos_;
            out_.push_back(Char('%'));
            return true;
        }
        Directive directive;
        while (pos_ < format_.size() && Unit(format_[pos_]) != 0 && Unit(format_[pos_]) < 128 &&
               std::strchr("-+ #0", static_cast<int>(Unit(format_[pos_]))) != nullptr) {
            directive.flags.push_back(static_cast<char>(Unit(format_[pos_++])));
        }
        bool negative = false;
        if (!ReadNumberOrStar(directive.width, negative)) {
            return false;
        }
        if (negative) {
            directive.flags.push_back('-');  // a negative '*' width means left-justified
        }
        if (Peek('.')) {
            ++pos_;
            directive.precision = 0;
            if (!ReadNumberOrStar(directive.precision, negative)) {
                return false;
            }
            if (negative) {
                directive.precision = -1;  // a negative '*' precision counts as none
            }
        }
        static constexpr std::string_view kLengths[] = {"hh", "ll", "h", "l", "j", "z", "t", "L"};
        for (std::string_view candidate : kLengths) {
            if (Matches(candidate)) {
                directive.length = candidate;
                pos_ += candidate.size();
                break;
            }
        }
        if (pos_ >= format_.size() || Unit(format_[pos_]) >= 128) {
            return false;
        }
        directive.conversion = static_cast<char>(Unit(format_[pos_++]));
        return Convert(directive);
    }

    bool Matches(std::string_view text) const {
        if (format_.size() - pos_ < text.size()) {
            return false;
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (Unit(format_[pos_ + i]) != static_cast<unsigned char>(text[i])) {
                return false;
            }
        }
        return true;
    }

    static bool IsIntegral(const PrintfArg& arg) {
        return arg.kind() == PrintfArg::Kind::Signed || arg.kind() == PrintfArg::Kind::Unsigned;
    }

    bool Convert(const Directive& directive) {
        switch (directive.conversion) {
            case 'd':
            case 'i':
                return Signed(directive);
            case 'o':
            case 'u':
            case 'x':
            case 'X':
                return Unsigned(directive);
            case 'c':
                return Character(directive);
            case 's':
                return String(directive);
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                return Floating(directive);
            case 'p':
                return Pointer(directive);
            default:
                return false;  // includes %n: nothing is ever written through an argument
        }
    }

    // The argument cut to the width its length modifier names, as printf would read it.
    static long long Narrowed(long long v, std::string_view length) {
        if (length == "hh")
            return static_cast<signed char>(v);
        if (length == "h")
            return static_cast<short>(v);
        if (length == "l")
            return static_cast<long>(v);
        if (length == "ll" || length == "j")
            return v;
        if (length == "z" || length == "t")
            return static_cast<std::ptrdiff_t>(v);
        return static_cast<int>(v);
    }
    static unsigned long long Narrowed(unsigned long long v, std::string_view length) {
        if (length == "hh")
            return static_cast<unsigned char>(v);
        if (length == "h")
            return static_cast<unsigned short>(v);
        if (length == "l")
            return static_cast<unsigned long>(v);
        if (length == "ll" || length == "j")
            return v;
        if (length == "z" || length == "t")
            return static_cast<std::size_t>(v);
        return static_cast<unsigned int>(v);
    }

    std::string CDirective(const Directive& directive, std::string_view length,
                           char conversion) const {
        std::string s = "%" + directive.flags;
        if (directive.width >= 0) {
            s += std::to_string(directive.width);
        }
        if (directive.precision >= 0) {
            s += "." + std::to_string(directive.precision);
        }
        s.append(length);
        s.push_back(conversion);
        return s;
    }

    template <class T>
    bool AppendC(const std::string& cdirective, T value) {
        char small[64];
        const int n = std::snprintf(small, sizeof small, cdirective.c_str(), value);
        if (n < 0) {
            return false;
        }
        if (static_cast<std::size_t>(n) < sizeof small) {
            AppendAscii(std::string_view(small, static_cast<std::size_t>(n)));
            return true;
        }
        std::string big(static_cast<std::size_t>(n) + 1, '\0');
        if (std::snprintf(big.data(), big.size(), cdirective.c_str(), value) != n) {
            return false;
        }
        big.resize(static_cast<std::size_t>(n));
        AppendAscii(big);
        return true;
    }

    void AppendAscii(std::string_view text) {
        for (char c : text) {
            out_.push_back(static_cast<Char>(static_cast<unsigned char>(c)));
        }
    }

    bool Signed(const Directive& directive) {
        const PrintfArg* arg = Next();
        if (arg == nullptr || !IsIntegral(*arg)) {
            return false;
        }
        return AppendC(CDirective(directive, "ll", directive.conversion),
                       Narrowed(arg->AsSigned(), directive.length));
    }

    bool Unsigned(const Directive& directive) {
        const PrintfArg* arg = Next();
        if (arg == nullptr || !IsIntegral(*arg)) {
            return false;
        }
        return AppendC(CDirective(directive, "ll", directive.conversion),
                       Narrowed(arg->AsUnsigned(), directive.length));
    }

    bool Floating(const Directive& directive) {
        const PrintfArg* arg = Next();
        if (arg == nullptr || arg->kind() != PrintfArg::Kind::Floating) {
            return false;
        }
        return AppendC(CDirective(directive, "", directive.conversion), arg->AsFloating());
    }

    bool Pointer(const Directive& directive) {
        const PrintfArg* arg = Next();
        if (arg == nullptr || arg->kind() != PrintfArg::Kind::Pointer) {
            return false;
        }
        return AppendC(CDirective(directive, "", 'p'), arg->AsPointer());
    }

    bool Character(const Directive& directive) {
        const PrintfArg* arg = Next();
        if (arg == nullptr || !IsIntegral(*arg)) {
            return false;
        }
        const bool wide = directive.length == "l";
        const auto unit = static_cast<unsigned long long>(arg->AsUnsigned());
        std::basic_string<Char> text;
        if (!Append(text, unit, wide)) {
            return false;
        }
        Pad(text, directive);
        return true;
    }

    bool String(const Directive& directive) {
        const PrintfArg* arg = Next();
        if (arg == nullptr) {
            return false;
        }
        const bool wide = directive.length == "l";
        if (!directive.length.empty() && !wide) {
            return false;
        }
        const std::size_t limit =
            directive.precision >= 0 ? static_cast<std::size_t>(directive.precision) : kNoLimit;
        std::basic_string<Char> text;
        if (wide) {
            if (arg->kind() != PrintfArg::Kind::Wide) {
                return false;
            }
            if (arg->wide() == nullptr) {
                AppendNull(text, limit);
            } else {
                for (std::size_t i = 0; i < arg->length() && text.size() < limit; ++i) {
                    if (!Append(text, arg->wide()[i], true)) {
                        return false;
                    }
                }
            }
        } else {
            if (arg->kind() != PrintfArg::Kind::Narrow) {
                return false;
            }
            if (arg->narrow() == nullptr) {
                AppendNull(text, limit);
            } else {
                const std::size_t n = std::min(arg->length(), limit);
                for (std::size_t i = 0; i < n; ++i) {
                    text.push_back(static_cast<Char>(static_cast<unsigned char>(arg->narrow()[i])));
                }
            }
        }
        Pad(text, directive);
        return true;
    }

    static void AppendNull(std::basic_string<Char>& text, std::size_t limit) {
        constexpr std::string_view kNull = "(null)";
        for (std::size_t i = 0; i < kNull.size() && i < limit; ++i) {
            text.push_back(static_cast<Char>(kNull[i]));
        }
    }

    // A wide unit in a narrow format: only U+0000..U+00FF have a byte in the default locale.
    static bool Append(std::basic_string<Char>& text, unsigned long long unit, bool wide) {
        if constexpr (sizeof(Char) == 1) {
            if (wide && unit > 0xFF) {
                return false;
            }
            text.push_back(static_cast<Char>(static_cast<unsigned char>(unit)));
        } else {
            text.push_back(static_cast<Char>(wide ? (unit & 0xFFFF) : (unit & 0xFF)));
        }
        return true;
    }

    void Pad(std::basic_string<Char>& text, const Directive& directive) {
        const bool left = directive.flags.find('-') != std::string::npos;
        const std::size_t width =
            directive.width > 0 ? static_cast<std::size_t>(directive.width) : 0;
        const std::size_t fill = width > text.size() ? width - text.size() : 0;
        if (!left) {
            out_.append(fill, Char(' '));
        }
        out_ += text;
        if (left) {
            out_.append(fill, Char(' '));
        }
    }

    std::basic_string<Char>& out_;
    std::basic_string_view<Char> format_;
    std::span<const PrintfArg> args_;
    std::size_t pos_ = 0;
    std::size_t next_ = 0;
};

template <class Char>
bool Run(std::basic_string<Char>& out, std::basic_string_view<Char> format,
         std::span<const PrintfArg> args) noexcept {
    try {
        return Formatter<Char>(out, format, args).Run();
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

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
    return Run(out, format, args);
}

bool FormatPrintf(std::u16string& out, std::u16string_view format,
                  std::span<const PrintfArg> args) noexcept {
    return Run(out, format, args);
}

}  // namespace morva
