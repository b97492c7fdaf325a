// A deliberately plain whole-file extraction pass: the whole input in one
// buffer followed by 16 zero bytes, one classify_pair call per examined
// position and a 1024-byte run buffer, as the dialog's pass is described.
// The real pass streams, uses lookup tables and writes from the input; tests
// and the fuzzer compare the two byte for byte.
#pragma once

#include <span>
#include <vector>

#include "engine/extraction_settings.h"

namespace kurvane::test {

std::vector<unsigned char> reference_extract(std::span<const unsigned char> data,
                                             const ExtractionSettings& settings);

}  // namespace kurvane::test
