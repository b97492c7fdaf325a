#include "engine/extraction_settings.h"

namespace kurvane {

ExtractionSettings g_settings;

}  // namespace kurvane
