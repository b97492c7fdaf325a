// What the kurvane command does once its options are parsed: print help or
// the version, or load the settings, apply the changes the options make,
// and extract the named files or walk the extension; it returns the exit
// status.
#pragma once

#include <cstdio>

#include "app/cli_messages.h"
#include "app/cli_options.h"
#include "app/cli_report.h"

namespace kurvane::cli {

// Runs the command: results go to `out` (help, version, -o -), messages to
// `err` in `language`; FILE "-" reads `in`. Returns the exit status.
int run(const Options& options, std::FILE* out, std::FILE* err, Language language = Language::english,
        std::FILE* in = stdin);

}  // namespace kurvane::cli
