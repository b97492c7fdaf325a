#include "engine/drive/pass_scan.h"

#include <array>
#include <new>

#include "engine/classes/scan_table.h"
#include "engine/scan/split_bytes.h"

namespace kurvane::detail {
namespace {

class Cp932Scan final : public PassScan {
public:
    Cp932Scan(const ExtractionSettings& settings, const OutputFormat* format)
        : settings_(settings), format_(format) {}
    bool start() {
        table_ = make_cut_table(settings_, stored_split_);
        return table_ != nullptr;
    }
    std::unique_ptr<PieceScanner> scanner(ByteSink& sink,
                                          std::size_t output_buffer_size) const override {
        return PieceScanner::create(*table_, settings_, format_, sink, output_buffer_size);
    }
    std::size_t cut_after(const unsigned char* b, std::size_t n) const override {
        return detail::cut_after(stored_split_, b, n);
    }

private:
    const ExtractionSettings& settings_;
    const OutputFormat* format_;
    std::unique_ptr<ScanTable> table_;
    std::array<bool, 256> stored_split_{};
};

}  // namespace

std::unique_ptr<PassScan> make_cp932_scan(const ExtractionSettings& settings,
                                          const OutputFormat* format) {
    std::unique_ptr<Cp932Scan> scan(new (std::nothrow) Cp932Scan(settings, format));
    if (!scan || !scan->start()) return nullptr;
    return scan;
}

}  // namespace kurvane::detail
