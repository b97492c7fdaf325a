// --xor=auto: the one-byte XOR each input was stored with, found on samples
// of the file before it is extracted.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/cli_messages.h"
#include "app/cli_options.h"
#include "engine/extraction_settings.h"

namespace kurvane::cli {

// Sets settings.xor_value to the key under which samples of `input` read as
// the most text, or to 0 when no key is clearly better than none, and says
// which on `err` ("kurvane: a.dat: XOR key 0x5A"). The search counts the
// classes --text reads: those of `settings`, with ASCII added when no -c
// chose them. Returns false, having said why, for an input it cannot
// sample: standard input, a pipe or a device. An input it cannot open is
// left to the extraction to report.
bool choose_xor_key(const Options& options, const std::string& input, ExtractionSettings& settings,
                    std::FILE* err, Language language);

// What the searches share. The samples of `file` (see plan_xor_samples), or
// false when it is not a regular file (its size is then no guide to where
// to read).
bool read_samples(std::FILE* file, std::vector<std::vector<unsigned char>>& samples);
// Says on `err` which key was found, or that none was.
void say_key(std::FILE* err, const std::string& input, bool found, unsigned char key, Language language);
void say(std::FILE* err, const std::string& line);
// The settings a search reads with: `settings`, with the ascii classes
// added when no -c chose the classes, as --text adds them.
ExtractionSettings search_settings(const Options& options, const ExtractionSettings& settings);

}  // namespace kurvane::cli
