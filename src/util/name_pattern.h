#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace morva {

namespace name_pattern_internal {

enum class Op : std::uint8_t { Char, Class, Any, Split, Jump, AtStart, AtEnd, Match };

struct Instruction {
    Op op = Op::Match;
    char32_t character = 0;   // Char
    std::uint32_t next = 0;   // where the thread goes on (Split: the first of its two ways)
    std::uint32_t other = 0;  // Split: the second way; Class: the class's index
};

struct CharRange {
    char32_t first = 0;
    char32_t last = 0;
};

struct Program {
    std::vector<Instruction> instructions;
    std::uint32_t start = 0;
    // Each class is [begin, end) of `ranges`, sorted and disjoint, so a lookup is a binary search.
    std::vector<CharRange> ranges;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> classes;
};

}  // namespace name_pattern_internal

// A server-name pattern in the ECMAScript regular-expression syntax brokers write, compiled once
// and matched against whole names without backtracking: whatever the pattern and the name hold,
// matching takes time proportional to pattern length times name length and memory proportional
// to pattern length, and nothing recurses.
//
// Understood, with ECMAScript's meanings: literal characters (a lone `]` or `}` too); escapes of
// punctuation (\. \- \\ \/ ...), \t \n \v \f \r \0 \xHH \uHHHH; the sets \d \w \s and their
// negations \D \W \S (ASCII digits and word characters; ECMAScript's white space and line
// terminators); `.` (anything but \n \r U+2028 U+2029); classes [a-z0-9_], [^...] with those
// escapes and [\b] for backspace; groups ( ) and (?: ); alternation; the quantifiers * + ? {n}
// {n,} {n,m}, greedy or lazy (alike for a yes/no answer); ^ and $ as the start and end of the
// name wherever they stand. Case-sensitive.
//
// Refused: backreferences (\1, \k<name>), lookahead and lookbehind, named groups, word boundaries
// (\b \B), Unicode property escapes (\p{...}), octal escapes, any other escape of a letter or
// digit, an unknown (?...) group, and a counted repetition whose copies would take the compiled
// program past kMaxProgramSize instructions (a{n,m} is compiled as n copies of `a` and m - n
// optional ones). A surrogate pair is one character, to `.` and to classes; a lone surrogate is a
// character of its own.
class NamePattern {
  public:
    static constexpr std::size_t kMaxPatternLength = 1024;  // UTF-16 units
    static constexpr std::size_t kMaxNameLength = 256;      // UTF-16 units
    static constexpr std::size_t kMaxProgramSize = 4096;    // instructions

    // Throws std::invalid_argument whose text names the pattern and says what is wrong
    // ("Malformed server name pattern (unmatched '(' at offset 3): ...", "Unsupported server name
    // pattern (backreference at offset 5): ...") when the pattern is malformed, longer than
    // kMaxPatternLength, or uses syntax beyond the above.
    explicit NamePattern(std::u16string_view pattern);

    // Whole-name match, like std::regex_match. A name longer than kMaxNameLength never matches.
    bool Matches(std::u16string_view name) const;

  private:
    name_pattern_internal::Program program_;
};

}  // namespace morva
