#pragma once

#include <string>

#include "support/captured_log.h"

namespace morva::test {

// The captured lines as "level|message\n"; the same as CapturedLog::Messages().
inline std::string LevelsAndMessages(const CapturedLog& log) {
    return log.Messages();
}

}  // namespace morva::test
