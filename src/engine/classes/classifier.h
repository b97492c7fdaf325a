// Classification of one position of a scanned buffer as code page 932 text.
#pragma once

#include "engine/extraction_settings.h"

namespace kurvane {

enum class CharClass : unsigned char {
    None = 0,      // not text: a run ends here
    Single = 1,    // one single-byte character: take 1 byte
    Double = 2,    // one double-byte character: take 2 bytes
    Excluded = 3,  // an excluded two-byte sequence: skip 2 bytes, the run goes on
};

// Classifies the byte pair lead, trail under `settings`.
CharClass classify_pair(const ExtractionSettings& settings, unsigned char lead,
                        unsigned char trail);

}  // namespace kurvane
