#pragma once

#include <sstream>
#include <string>

#include "support/captured_log.h"

namespace morva::test {

// The captured lines as "level|message\n": which function logged a line is no part of what the
// log promises its reader.
inline std::string LevelsAndMessages(const CapturedLog& log) {
    std::istringstream lines(log.Lines());
    std::string result;
    for (std::string line; std::getline(lines, line);) {
        const auto level = line.find('|');
        const auto function = line.find('|', level + 1);
        result += line.substr(0, level + 1) + line.substr(function + 1) + "\n";
    }
    return result;
}

}  // namespace morva::test
