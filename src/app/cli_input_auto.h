// --input-encoding=auto: the encoding each input's text is in, found on
// samples of the file before it is extracted, together with its XOR key
// under --xor=auto.
#pragma once

#include <cstdio>
#include <string>

#include "app/cli_messages.h"
#include "app/cli_options.h"
#include "engine/extract.h"
#include "engine/extraction_settings.h"
#include "engine/output_format.h"

namespace kurvane::cli {

// How an encoding is named on standard error: "UTF-16LE", "EUC-JP".
std::string encoding_label(text::InputEncoding encoding);

// Sets how.input_encoding and settings.xor_value for `input` as the options
// ask: the named encoding and key, or the ones the search finds (said on
// `err`: "kurvane: a.dat: UTF-16LE text", then the key under --xor=auto).
// With --xor=auto alone on code page 932 this is choose_xor_key. Returns
// false, having said why, for an input it cannot sample: standard input, a
// pipe or a device. An input it cannot open is left to the extraction to
// report.
bool choose_reading(const Options& options, const std::string& input, ExtractionSettings& settings,
                    ExtractOptions& how, std::FILE* err, Language language);

// Says on `err` how many characters the extraction of `input` wrote as
// '?', when there were any and the options do not ask for quiet (-q).
void say_substituted(const Options& options, std::FILE* err, const std::string& input, const ExtractStatus& status,
                     Language language);

}  // namespace kurvane::cli
