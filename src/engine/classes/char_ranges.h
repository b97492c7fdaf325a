// Which byte pairs each character class accepts, as data: the classifier and
// the extraction pass's lookup table are both built from these lists, so the
// two cannot disagree.
#pragma once

#include <cstdint>
#include <span>

#include "engine/extraction_settings.h"

namespace kurvane::detail {

using ClassFlag = std::int32_t ExtractionSettings::*;

// Lead bytes first..last of a single-byte class (the trail is not consulted).
struct SingleRange {
    ClassFlag flag;
    unsigned char first;
    unsigned char last;
};

// Lead bytes lead_first..lead_last followed by a trail in trail_first..trail_last.
struct DoubleRange {
    ClassFlag flag;
    unsigned char lead_first;
    unsigned char lead_last;
    unsigned char trail_first;
    unsigned char trail_last;
};

std::span<const SingleRange> single_ranges();
std::span<const DoubleRange> double_ranges();

inline bool flag_on(const ExtractionSettings& settings, ClassFlag flag) {
    return settings.*flag != 0;
}

}  // namespace kurvane::detail
