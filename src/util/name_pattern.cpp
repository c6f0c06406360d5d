#include "util/name_pattern.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/utf.h"

namespace morva {

namespace {

using name_pattern_internal::CharRange;
using name_pattern_internal::Instruction;
using name_pattern_internal::Op;
using name_pattern_internal::Program;

constexpr char32_t kLastCharacter = 0x10FFFF;
// Enough of a long pattern to recognise it in a log line.
constexpr std::size_t kShownPatternLength = 120;
// Repetition counts beyond this are refused by size anyway; the cap keeps the arithmetic small.
constexpr std::uint64_t kCountCap = 1'000'000;
constexpr std::uint32_t kNoHole = std::numeric_limits<std::uint32_t>::max();

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

char32_t ReadCharacter(std::u16string_view text, std::size_t& position) {
    const char32_t unit = text[position++];
    if (IsHighSurrogate(unit) && position < text.size() && IsLowSurrogate(text[position])) {
        const char32_t low = text[position++];
        return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    return unit;
}

bool IsLineTerminator(char32_t c) {
    return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029;
}

bool IsDigit(char32_t c) {
    return c >= u'0' && c <= u'9';
}

bool IsAsciiAlphanumeric(char32_t c) {
    return IsDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

int HexValue(char32_t c) {
    if (IsDigit(c)) {
        return static_cast<int>(c - u'0');
    }
    if (c >= u'a' && c <= u'f') {
        return static_cast<int>(c - u'a') + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return static_cast<int>(c - u'A') + 10;
    }
    return -1;
}

std::string Shown(std::u16string_view pattern) {
    std::u16string shown(pattern.substr(0, kShownPatternLength));
    const bool cut = shown.size() < pattern.size();
    if (cut && IsHighSurrogate(shown.back())) {
        shown.pop_back();
    }
    // The converter stops at a null character; the rest of the pattern still matters.
    std::replace(shown.begin(), shown.end(), u'\0', u'\uFFFD');
    std::string text = Utf16ToUtf8(shown);
    if (cut) {
        text += "...";
    }
    return text;
}

enum class Set : std::uint8_t { None, Digit, Word, Space };

constexpr CharRange kDigits[] = {{u'0', u'9'}};
constexpr CharRange kWordCharacters[] = {{u'0', u'9'}, {u'A', u'Z'}, {u'_', u'_'}, {u'a', u'z'}};
constexpr CharRange kSpaces[] = {
    {0x09, 0x0D},     {0x20, 0x20},     {0xA0, 0xA0},     {0x1680, 0x1680}, {0x2000, 0x200A},
    {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F}, {0x3000, 0x3000}, {0xFEFF, 0xFEFF}};

// Sorts and merges in place; with `negated`, replaces the ranges with what they leave out.
void Normalize(std::vector<CharRange>& ranges, bool negated) {
    std::sort(ranges.begin(), ranges.end(),
              [](const CharRange& a, const CharRange& b) { return a.first < b.first; });
    std::size_t kept = 0;
    for (const CharRange& range : ranges) {
        if (kept > 0 && range.first <= ranges[kept - 1].last + 1) {
            ranges[kept - 1].last = std::max(ranges[kept - 1].last, range.last);
        } else {
            ranges[kept++] = range;
        }
    }
    ranges.resize(kept);
    if (!negated) {
        return;
    }
    std::vector<CharRange> complement;
    char32_t from = 0;
    for (const CharRange& range : ranges) {
        if (range.first > from) {
            complement.push_back({from, range.first - 1});
        }
        from = range.last + 1;
    }
    if (from <= kLastCharacter) {
        complement.push_back({from, kLastCharacter});
    }
    ranges = std::move(complement);
}

void AddSet(Set set, bool negated, std::vector<CharRange>& ranges) {
    std::vector<CharRange> members;
    switch (set) {
        case Set::Digit:
            members.assign(std::begin(kDigits), std::end(kDigits));
            break;
        case Set::Word:
            members.assign(std::begin(kWordCharacters), std::end(kWordCharacters));
            break;
        case Set::Space:
            members.assign(std::begin(kSpaces), std::end(kSpaces));
            break;
        case Set::None:
            break;
    }
    Normalize(members, negated);
    ranges.insert(ranges.end(), members.begin(), members.end());
}

// One character, or one of the sets \d \w \s (negated for \D \W \S).
struct Atom {
    char32_t character = 0;
    Set set = Set::None;
    bool negated = false;
};

enum class Token : std::uint8_t {
    Char,
    Class,
    Any,
    AtStart,
    AtEnd,
    Empty,
    Concat,
    Alternate,
    Star,
    Plus,
    Optional,
};

struct PostfixToken {
    Token token;
    char32_t value = 0;  // Char: the character; Class: the class's index
};

// Turns the pattern into postfix form (operands before their operators) with an explicit stack
// of open groups, so nesting costs heap, not call stack. An operand's tokens end up contiguous,
// which is what lets a counted repetition copy them.
class Parser {
  public:
    Parser(std::u16string_view pattern, Program& program) : pattern_(pattern), program_(program) {}

    std::vector<PostfixToken> Parse() {
        while (position_ < pattern_.size()) {
            const std::size_t at = position_;
            const char32_t c = ReadCharacter(pattern_, position_);
            switch (c) {
                case u'(':
                    OpenGroup(at);
                    break;
                case u'|':
                    CloseAlternative();
                    ++alternatives_;
                    repeatable_ = false;
                    break;
                case u')':
                    CloseGroup(at);
                    break;
                case u'*':
                    Repeat(at, 0, 0, true);
                    break;
                case u'+':
                    Repeat(at, 1, 0, true);
                    break;
                case u'?':
                    Repeat(at, 0, 1, false);
                    break;
                case u'{':
                    ParseCountedRepetition(at);
                    break;
                case u'^':
                    AddAssertion(Token::AtStart);
                    break;
                case u'$':
                    AddAssertion(Token::AtEnd);
                    break;
                case u'.':
                    AddAtom({Token::Any});
                    break;
                case u'[':
                    ParseClass(at);
                    break;
                case u'\\': {
                    const Atom atom = ParseEscape(at, false);
                    if (atom.set == Set::None) {
                        AddAtom({Token::Char, atom.character});
                    } else {
                        std::vector<CharRange> ranges;
                        AddSet(atom.set, atom.negated, ranges);
                        AddAtom({Token::Class, AddClass(ranges)});
                    }
                    break;
                }
                default:
                    AddAtom({Token::Char, c});
                    break;
            }
        }
        if (!open_.empty()) {
            Refuse("Malformed", "unmatched '('", open_.back().openedAt);
        }
        CloseAlternatives();
        // Only copies can outgrow the limit: without them a unit of pattern makes two tokens at
        // most.
        if (tokens_.size() >= NamePattern::kMaxProgramSize) {
            Refuse("Unsupported", "repetition too large", lastRepetitionAt_);
        }
        return std::move(tokens_);
    }

  private:
    struct OpenGroupState {
        std::size_t alternatives;
        std::size_t atoms;
        std::size_t tokensAt;
        std::size_t openedAt;
    };

    [[noreturn]] void Refuse(const char* kind, const std::string& reason, std::size_t at) const {
        throw std::invalid_argument(std::string(kind) + " server name pattern (" + reason +
                                    " at offset " + std::to_string(at) + "): " + Shown(pattern_));
    }

    void Emit(Token token, char32_t value = 0) { tokens_.push_back({token, value}); }

    // Concatenation is emitted one atom late, so the latest atom's tokens stay at the end.
    void BeginAtom() {
        if (atoms_ > 1) {
            Emit(Token::Concat);
            --atoms_;
        }
        atomAt_ = tokens_.size();
    }

    void AddAtom(PostfixToken token) {
        BeginAtom();
        tokens_.push_back(token);
        ++atoms_;
        repeatable_ = true;
    }

    void AddAssertion(Token token) {
        BeginAtom();
        Emit(token);
        ++atoms_;
        repeatable_ = false;
    }

    void OpenGroup(std::size_t at) {
        if (position_ < pattern_.size() && pattern_[position_] == u'?') {
            ++position_;
            const char16_t kind = position_ < pattern_.size() ? pattern_[position_] : u'\0';
            const char16_t after =
                position_ + 1 < pattern_.size() ? pattern_[position_ + 1] : u'\0';
            if (kind == u'=' || kind == u'!') {
                Refuse("Unsupported", "lookahead", at);
            }
            if (kind == u'<' && (after == u'=' || after == u'!')) {
                Refuse("Unsupported", "lookbehind", at);
            }
            if (kind == u'<') {
                Refuse("Unsupported", "named group", at);
            }
            if (kind != u':') {
                Refuse("Unsupported", "unknown group syntax", at);
            }
            ++position_;
        }
        BeginAtom();
        open_.push_back({alternatives_, atoms_, tokens_.size(), at});
        alternatives_ = 0;
        atoms_ = 0;
        repeatable_ = false;
    }

    void CloseAlternative() {
        if (atoms_ == 0) {
            Emit(Token::Empty);
            atoms_ = 1;
        }
        while (--atoms_ > 0) {
            Emit(Token::Concat);
        }
    }

    void CloseAlternatives() {
        CloseAlternative();
        for (; alternatives_ > 0; --alternatives_) {
            Emit(Token::Alternate);
        }
    }

    void CloseGroup(std::size_t at) {
        if (open_.empty()) {
            Refuse("Malformed", "unmatched ')'", at);
        }
        CloseAlternatives();
        const OpenGroupState group = open_.back();
        open_.pop_back();
        alternatives_ = group.alternatives;
        atoms_ = group.atoms + 1;
        atomAt_ = group.tokensAt;
        repeatable_ = true;
    }

    std::uint64_t ReadCount() {
        std::uint64_t count = 0;
        while (position_ < pattern_.size() && IsDigit(pattern_[position_])) {
            count = std::min(count * 10 + (pattern_[position_++] - u'0'), kCountCap);
        }
        return count;
    }

    bool TakeIf(char16_t unit) {
        if (position_ < pattern_.size() && pattern_[position_] == unit) {
            ++position_;
            return true;
        }
        return false;
    }

    void ParseCountedRepetition(std::size_t at) {
        const auto incomplete = [&] { Refuse("Malformed", "incomplete quantifier", at); };
        if (position_ >= pattern_.size() || !IsDigit(pattern_[position_])) {
            incomplete();
        }
        const std::uint64_t least = ReadCount();
        std::uint64_t most = least;
        bool unbounded = false;
        if (TakeIf(u',')) {
            unbounded = position_ >= pattern_.size() || !IsDigit(pattern_[position_]);
            most = ReadCount();
        }
        if (!TakeIf(u'}')) {
            incomplete();
        }
        if (!unbounded && most < least) {
            Refuse("Malformed", "quantifier range out of order", at);
        }
        Repeat(at, least, most, unbounded);
    }

    // Replaces the latest atom X with the pieces X{least,most}: least - 1 plain copies and X+
    // when unbounded (X* for none), else least copies and most - least copies of X?.
    void Repeat(std::size_t at, std::uint64_t least, std::uint64_t most, bool unbounded) {
        if (!repeatable_) {
            Refuse("Malformed", "nothing to repeat", at);
        }
        TakeIf(u'?');  // laziness changes which match is found, not whether there is one
        repeatable_ = false;

        struct Piece {
            std::uint64_t count;
            Token suffix;  // Concat: none
        };
        Piece pieces[2];
        std::size_t pieceKinds = 0;
        if (unbounded) {
            if (least > 1) {
                pieces[pieceKinds++] = {least - 1, Token::Concat};
            }
            pieces[pieceKinds++] = {1, least == 0 ? Token::Star : Token::Plus};
        } else {
            if (least > 0) {
                pieces[pieceKinds++] = {least, Token::Concat};
            }
            if (most > least) {
                pieces[pieceKinds++] = {most - least, Token::Optional};
            }
        }

        const std::vector<PostfixToken> operand(
            tokens_.begin() + static_cast<std::ptrdiff_t>(atomAt_), tokens_.end());
        std::uint64_t copies = 0;
        std::uint64_t size = atomAt_;
        for (std::size_t i = 0; i < pieceKinds; ++i) {
            copies += pieces[i].count;
            size +=
                pieces[i].count * (operand.size() + (pieces[i].suffix == Token::Concat ? 0 : 1));
        }
        size += copies == 0 ? 1 : copies - 1;        // the empty operand, or the concatenations
        if (size >= NamePattern::kMaxProgramSize) {  // one more for the final match
            Refuse("Unsupported", "repetition too large", at);
        }
        lastRepetitionAt_ = at;

        tokens_.resize(atomAt_);
        if (copies == 0) {
            Emit(Token::Empty);
            return;
        }
        bool first = true;
        for (std::size_t i = 0; i < pieceKinds; ++i) {
            for (std::uint64_t n = 0; n < pieces[i].count; ++n) {
                tokens_.insert(tokens_.end(), operand.begin(), operand.end());
                if (pieces[i].suffix != Token::Concat) {
                    Emit(pieces[i].suffix);
                }
                if (!first) {
                    Emit(Token::Concat);
                }
                first = false;
            }
        }
    }

    // What follows a backslash: a set, or one character.
    Atom ParseEscape(std::size_t at, bool inClass) {
        if (position_ >= pattern_.size()) {
            Refuse("Malformed", "backslash at the end", at);
        }
        const char32_t c = ReadCharacter(pattern_, position_);
        switch (c) {
            case u'd':
                return {0, Set::Digit, false};
            case u'D':
                return {0, Set::Digit, true};
            case u'w':
                return {0, Set::Word, false};
            case u'W':
                return {0, Set::Word, true};
            case u's':
                return {0, Set::Space, false};
            case u'S':
                return {0, Set::Space, true};
            case u't':
                return {u'\t'};
            case u'n':
                return {u'\n'};
            case u'v':
                return {u'\v'};
            case u'f':
                return {u'\f'};
            case u'r':
                return {u'\r'};
            case u'b':
                if (inClass) {
                    return {u'\b'};
                }
                Refuse("Unsupported", "word boundary", at);
            case u'B':
                Refuse("Unsupported", inClass ? "unknown escape \\B" : "word boundary", at);
            case u'0':
                if (position_ < pattern_.size() && IsDigit(pattern_[position_])) {
                    Refuse("Unsupported", "octal escape", at);
                }
                return {0};
            case u'x':
                return {ReadHex(at, 2)};
            case u'u':
                return {ReadUnicodeEscape(at)};
            case u'k':
                Refuse("Unsupported", inClass ? "unknown escape \\k" : "backreference", at);
            case u'p':
            case u'P':
                Refuse("Unsupported", "Unicode property", at);
            default:
                break;
        }
        if (IsDigit(c)) {
            Refuse("Unsupported", inClass ? "octal escape" : "backreference", at);
        }
        if (IsAsciiAlphanumeric(c)) {
            Refuse("Unsupported", std::string("unknown escape \\") + static_cast<char>(c), at);
        }
        return {c};
    }

    char32_t ReadHex(std::size_t at, int digits) {
        char32_t value = 0;
        for (int i = 0; i < digits; ++i) {
            const int digit = position_ < pattern_.size() ? HexValue(pattern_[position_]) : -1;
            if (digit < 0) {
                Refuse("Malformed", digits == 2 ? "incomplete \\x escape" : "incomplete \\u escape",
                       at);
            }
            value = value * 16 + static_cast<char32_t>(digit);
            ++position_;
        }
        return value;
    }

    // \uD83D\uDE00 spells one character, as a surrogate pair in the name does.
    char32_t ReadUnicodeEscape(std::size_t at) {
        const char32_t unit = ReadHex(at, 4);
        const std::size_t next = position_;
        if (!IsHighSurrogate(unit) || next + 6 > pattern_.size() || pattern_[next] != u'\\' ||
            pattern_[next + 1] != u'u') {
            return unit;
        }
        position_ += 2;
        const char32_t low = ReadHex(next, 4);
        if (!IsLowSurrogate(low)) {
            position_ = next;
            return unit;
        }
        return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }

    Atom ParseClassAtom() {
        const std::size_t at = position_;
        const char32_t c = ReadCharacter(pattern_, position_);
        return c == u'\\' ? ParseEscape(at, true) : Atom{c};
    }

    void ParseClass(std::size_t at) {
        const bool negated = TakeIf(u'^');
        std::vector<CharRange> ranges;
        while (true) {
            if (position_ >= pattern_.size()) {
                Refuse("Malformed", "unmatched '['", at);
            }
            if (TakeIf(u']')) {
                break;
            }
            const std::size_t atomAt = position_;
            const Atom first = ParseClassAtom();
            const bool range = position_ + 1 < pattern_.size() && pattern_[position_] == u'-' &&
                               pattern_[position_ + 1] != u']';
            if (!range) {
                if (first.set == Set::None) {
                    ranges.push_back({first.character, first.character});
                } else {
                    AddSet(first.set, first.negated, ranges);
                }
                continue;
            }
            ++position_;
            const Atom last = ParseClassAtom();
            if (first.set != Set::None || last.set != Set::None) {
                Refuse("Malformed", "set in a class range", atomAt);
            }
            if (first.character > last.character) {
                Refuse("Malformed", "class range out of order", atomAt);
            }
            ranges.push_back({first.character, last.character});
        }
        Normalize(ranges, negated);
        AddAtom({Token::Class, AddClass(ranges)});
    }

    char32_t AddClass(const std::vector<CharRange>& ranges) {
        const auto begin = static_cast<std::uint32_t>(program_.ranges.size());
        program_.ranges.insert(program_.ranges.end(), ranges.begin(), ranges.end());
        program_.classes.emplace_back(begin, static_cast<std::uint32_t>(program_.ranges.size()));
        return static_cast<char32_t>(program_.classes.size() - 1);
    }

    std::u16string_view pattern_;
    Program& program_;
    std::size_t position_ = 0;
    std::vector<PostfixToken> tokens_;
    std::vector<OpenGroupState> open_;
    std::size_t alternatives_ = 0;  // alternatives closed in the innermost open group
    std::size_t atoms_ = 0;         // atoms of its current alternative not yet concatenated
    std::size_t atomAt_ = 0;        // where the latest atom's tokens begin
    bool repeatable_ = false;       // whether a quantifier has an atom to apply to
    std::size_t lastRepetitionAt_ = 0;
};

// Thompson's construction from postfix: each fragment keeps a list of its dangling exits,
// threaded through the unfilled fields themselves so joining two lists is constant time.
class Builder {
  public:
    explicit Builder(std::vector<Instruction>& code) : code_(code) {}

    std::uint32_t Build(const std::vector<PostfixToken>& tokens) {
        std::vector<Fragment> stack;
        const auto pop = [&stack] {
            const Fragment fragment = stack.back();
            stack.pop_back();
            return fragment;
        };
        for (const PostfixToken& token : tokens) {
            switch (token.token) {
                case Token::Char:
                    stack.push_back(Leaf({Op::Char, token.value}));
                    break;
                case Token::Class:
                    stack.push_back(Leaf({Op::Class, 0, 0, token.value}));
                    break;
                case Token::Any:
                    stack.push_back(Leaf({Op::Any}));
                    break;
                case Token::AtStart:
                    stack.push_back(Leaf({Op::AtStart}));
                    break;
                case Token::AtEnd:
                    stack.push_back(Leaf({Op::AtEnd}));
                    break;
                case Token::Empty:
                    stack.push_back(Leaf({Op::Jump}));
                    break;
                case Token::Concat: {
                    const Fragment second = pop();
                    const Fragment first = pop();
                    Patch(first.exits, second.start);
                    stack.push_back({first.start, second.exits});
                    break;
                }
                case Token::Alternate: {
                    const Fragment second = pop();
                    const Fragment first = pop();
                    const std::uint32_t split = Add({Op::Split, 0, first.start, second.start});
                    stack.push_back({split, Join(first.exits, second.exits)});
                    break;
                }
                case Token::Star: {
                    const Fragment body = pop();
                    const std::uint32_t split = Add({Op::Split, 0, body.start});
                    Patch(body.exits, split);
                    stack.push_back({split, Exit(split, true)});
                    break;
                }
                case Token::Plus: {
                    const Fragment body = pop();
                    const std::uint32_t split = Add({Op::Split, 0, body.start});
                    Patch(body.exits, split);
                    stack.push_back({body.start, Exit(split, true)});
                    break;
                }
                case Token::Optional: {
                    const Fragment body = pop();
                    const std::uint32_t split = Add({Op::Split, 0, body.start});
                    stack.push_back({split, Join(body.exits, Exit(split, true))});
                    break;
                }
            }
        }
        const Fragment whole = pop();
        Patch(whole.exits, Add({Op::Match}));
        return whole.start;
    }

  private:
    // An exit is an instruction's index times two, plus one for its `other` field.
    struct Exits {
        std::uint32_t head;
        std::uint32_t tail;
    };
    struct Fragment {
        std::uint32_t start;
        Exits exits;
    };

    std::uint32_t& Field(std::uint32_t exit) {
        Instruction& instruction = code_[exit / 2];
        return exit % 2 == 0 ? instruction.next : instruction.other;
    }

    std::uint32_t Add(const Instruction& instruction) {
        code_.push_back(instruction);
        return static_cast<std::uint32_t>(code_.size() - 1);
    }

    Exits Exit(std::uint32_t instruction, bool other) {
        const std::uint32_t exit = instruction * 2 + (other ? 1 : 0);
        Field(exit) = kNoHole;
        return {exit, exit};
    }

    Fragment Leaf(const Instruction& instruction) {
        const std::uint32_t index = Add(instruction);
        return {index, Exit(index, false)};
    }

    Exits Join(Exits first, Exits second) {
        Field(first.tail) = second.head;
        return {first.head, second.tail};
    }

    void Patch(Exits exits, std::uint32_t target) {
        for (std::uint32_t exit = exits.head; exit != kNoHole;) {
            const std::uint32_t following = Field(exit);
            Field(exit) = target;
            exit = following;
        }
    }

    std::vector<Instruction>& code_;
};

bool InClass(const Program& program, std::uint32_t index, char32_t c) {
    const auto [begin, end] = program.classes[index];
    const auto first = program.ranges.begin() + begin;
    const auto last = program.ranges.begin() + end;
    // The first range starting after c; the one before it is the only one that can hold c.
    const auto after = std::upper_bound(
        first, last, c, [](char32_t value, const CharRange& range) { return value < range.first; });
    return after != first && c <= std::prev(after)->last;
}

bool Accepts(const Program& program, const Instruction& instruction, char32_t c) {
    switch (instruction.op) {
        case Op::Char:
            return c == instruction.character;
        case Op::Any:
            return !IsLineTerminator(c);
        case Op::Class:
            return InClass(program, instruction.other, c);
        default:
            return false;
    }
}

}  // namespace

NamePattern::NamePattern(std::u16string_view pattern) {
    if (pattern.size() > kMaxPatternLength) {
        throw std::invalid_argument("Unsupported server name pattern (longer than " +
                                    std::to_string(kMaxPatternLength) +
                                    " units): " + Shown(pattern));
    }
    const std::vector<PostfixToken> tokens = Parser(pattern, program_).Parse();
    program_.instructions.reserve(tokens.size() + 1);
    program_.start = Builder(program_.instructions).Build(tokens);
}

// A Pike VM without captures: every thread that reaches an instruction at the same position is
// the same thread, so each list holds each instruction once and no path is ever retried.
bool NamePattern::Matches(std::u16string_view name) const {
    if (name.size() > kMaxNameLength) {
        return false;
    }
    std::vector<char32_t> characters;
    characters.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        characters.push_back(ReadCharacter(name, i));
    }

    const std::vector<Instruction>& code = program_.instructions;
    const std::size_t size = code.size();
    // Sized once: an instruction enters each list, and the pending stack, once per position.
    std::vector<std::uint32_t> storage(3 * size);
    std::uint32_t* current = storage.data();
    std::uint32_t* following = current + size;
    std::uint32_t* const pending = following + size;
    constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> addedAt(size, kNever);

    // Follows jumps, splits and assertions from `from`, collecting the instructions that consume
    // a character (or accept) at `position`.
    const auto addThreads = [&](std::uint32_t* threads, std::size_t& count, std::uint32_t from,
                                std::size_t position) {
        std::size_t top = 0;
        const auto visit = [&](std::uint32_t index) {
            if (addedAt[index] != position) {
                addedAt[index] = position;
                pending[top++] = index;
            }
        };
        visit(from);
        while (top > 0) {
            const std::uint32_t index = pending[--top];
            const Instruction& instruction = code[index];
            switch (instruction.op) {
                case Op::Jump:
                    visit(instruction.next);
                    break;
                case Op::Split:
                    visit(instruction.other);
                    visit(instruction.next);
                    break;
                case Op::AtStart:
                    if (position == 0) {
                        visit(instruction.next);
                    }
                    break;
                case Op::AtEnd:
                    if (position == characters.size()) {
                        visit(instruction.next);
                    }
                    break;
                default:
                    threads[count++] = index;
                    break;
            }
        }
    };

    std::size_t currentCount = 0;
    addThreads(current, currentCount, program_.start, 0);
    for (std::size_t position = 0; position < characters.size() && currentCount > 0; ++position) {
        std::size_t followingCount = 0;
        for (std::size_t i = 0; i < currentCount; ++i) {
            const Instruction& instruction = code[current[i]];
            if (Accepts(program_, instruction, characters[position])) {
                addThreads(following, followingCount, instruction.next, position + 1);
            }
        }
        std::swap(current, following);
        currentCount = followingCount;
    }
    return std::any_of(current, current + currentCount,
                       [&code](std::uint32_t index) { return code[index].op == Op::Match; });
}

}  // namespace morva
