// The -e walk: the working directory searched for the extension through
// the dialog's own logic, every name it lists extracted, and its messages
// printed on the terminal.
#pragma once

#include <cstdio>

#include "app/cli_messages.h"
#include "app/cli_options.h"

namespace kurvane::cli {

class TextField;

// Searches, saves the settings when --save-settings asks, extracts the list
// and returns the exit status.
int search_and_extract(const Options& options, const TextField& extension, std::FILE* err, Language language);

}  // namespace kurvane::cli
