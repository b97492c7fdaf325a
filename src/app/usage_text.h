// The text that --help prints.
#pragma once

#include <string>

#include "app/cli_messages.h"

namespace kurvane::cli {

// The text that --help prints, in the terminal's encoding.
std::string usage_text(Language language = Language::english);

}  // namespace kurvane::cli
