#include "engine/drive/pass_scan.h"

#include <array>
#include <new>

#include "engine/classes/scan_table.h"
#include "engine/scan/split_bytes.h"
#include "engine/scan/text_piece_scanner.h"
#include "text/cut_bytes.h"

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

// The decoding scan of EUC-JP, UTF-8 or UTF-16. Its cuts come from the
// encoding's cut rule, applied to the stored bytes (the XOR undone on the
// rule, not on the input).
class DecodedScan final : public PassScan {
public:
    DecodedScan(const ExtractionSettings& settings, const OutputFormat* format, text::InputEncoding encoding,
                std::atomic<std::uint64_t>* substituted)
        : settings_(settings), format_(format), encoding_(encoding), substituted_(substituted) {
        const text::CutRule rule = cut_rule_for(settings, encoding);
        key_ = static_cast<unsigned char>(settings.xor_value & 0xFFu);
        triples_ = rule.zero_triples;
        // A rule byte is no part of a run and no later byte of a character,
        // so the scan of the whole input stands between runs right after
        // it, as the scan of a stretch starting there does.
        for (unsigned v = 0; v < 256; ++v) after_[v] = rule.bytes[v ^ key_];
    }
    std::unique_ptr<PieceScanner> scanner(ByteSink& sink,
                                          std::size_t output_buffer_size) const override {
        return make_text_piece_scanner(encoding_, settings_, format_, substituted_, sink, output_buffer_size);
    }
    std::size_t cut_after(const unsigned char* b, std::size_t n) const override {
        if (!triples_) return detail::cut_after(after_, b, n);
        // UTF-16: at the middle one of three zero bytes, all three in b[0, n).
        for (std::size_t k = n >= 2 ? n - 1 : 0; k-- > 1;)
            if (b[k] == key_ && b[k - 1] == key_ && b[k + 1] == key_) return k;
        return 0;
    }

private:
    const ExtractionSettings& settings_;
    const OutputFormat* format_;
    text::InputEncoding encoding_;
    std::atomic<std::uint64_t>* substituted_;
    std::array<bool, 256> after_{};
    bool triples_ = false;
    unsigned char key_ = 0;
};

}  // namespace

std::unique_ptr<PassScan> make_scan(const ExtractionSettings& settings, const OutputFormat* format,
                                    text::InputEncoding encoding, std::atomic<std::uint64_t>* substituted) {
    if (encoding == text::InputEncoding::cp932) return make_cp932_scan(settings, format);
    return std::unique_ptr<PassScan>(new (std::nothrow) DecodedScan(settings, format, encoding, substituted));
}

std::unique_ptr<PassScan> make_cp932_scan(const ExtractionSettings& settings,
                                          const OutputFormat* format) {
    std::unique_ptr<Cp932Scan> scan(new (std::nothrow) Cp932Scan(settings, format));
    if (!scan || !scan->start()) return nullptr;
    return scan;
}

}  // namespace kurvane::detail
