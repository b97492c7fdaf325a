#include "engine/extract_pass.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "engine/exempt.h"
#include "engine/scan_table.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define KURVANE_SSE2 1
#endif

namespace kurvane::detail {
namespace {

// A run that holds more than this many bytes is written out at once, without
// a line break, and the scan goes on with an empty run.
constexpr std::size_t piece_limit = 1000;
constexpr std::size_t run_capacity = 1024;

// Padding contract of the piece buffer: every piece's data is followed by
// `padding` zero bytes. The pair lookup reads one byte past a position; after
// an excluded pair at the last data byte a run steps two bytes past the end
// and reads the pair there (zero, zero: None, which ends it); the vector skip
// loads 16 bytes from any position before the end; a short run is copied as
// one 16-byte block from wherever it starts (at most two bytes past the end).
constexpr std::size_t padding = 32;
constexpr std::size_t copy_block = 16;
// Bytes of the previous piece carried into the next: the scan of a piece that
// is not the last stops before its last byte, whose trail is still unread.
constexpr std::size_t carry_room = 16;

constexpr unsigned char none = static_cast<unsigned char>(CharClass::None);
constexpr unsigned char excluded = static_cast<unsigned char>(CharClass::Excluded);

// Collects output and hands it to the sink in large blocks.
class OutputBuffer {
public:
    // Each append writes at most run_capacity + 2 bytes and may store
    // copy_block bytes at its start; the slack lets append() test for a
    // flush only after writing.
    static constexpr std::size_t slack = run_capacity + copy_block + 16;

    OutputBuffer(ByteSink& sink, std::size_t capacity)
        : sink_(sink), capacity_(std::max<std::size_t>(capacity, 1)),
          buffer_(new (std::nothrow) unsigned char[capacity_ + slack]) {}

    bool allocated() const { return buffer_ != nullptr; }
    bool failed() const { return failed_; }
    std::uint64_t written() const { return written_; }

    // Appends n <= run_capacity bytes and, if asked, the line break. When n
    // is at most copy_block, copy_block bytes of src must be readable.
    void append(const unsigned char* src, std::size_t n, bool line_break) {
        unsigned char* dst = buffer_.get() + fill_;
        // A fixed-size copy is one vector move; most runs in binary data are
        // a few bytes long, where a variable-length memcpy costs more than the run.
        if (n <= copy_block)
            std::memcpy(dst, src, copy_block);
        else
            std::memcpy(dst, src, n);
        if (line_break) {
            dst[n] = '\r';
            dst[n + 1] = '\n';
            n += 2;
        }
        fill_ += n;
        if (fill_ >= capacity_) flush();
    }

    bool flush() {
        if (fill_ > 0 && !failed_) {
            if (sink_.write(buffer_.get(), fill_))
                written_ += fill_;
            else
                failed_ = true;
        }
        fill_ = 0;
        return !failed_;
    }

private:
    ByteSink& sink_;
    std::size_t capacity_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t fill_ = 0;
    std::uint64_t written_ = 0;
    bool failed_ = false;
};

// Walks pieces of the input and keeps the state of a run that crosses from
// one piece into the next. Positions are indices into the current piece.
class Scanner {
public:
    Scanner(const ScanTable& table, const ExtractionSettings& settings, OutputBuffer& out)
        : pairs_(table.pair_class.data()), table_(table), out_(out),
          min_length_(settings.min_length), line_break_(settings.auto_newline != 0),
          exempt_(settings) {}

    // Scans the piece b[0, size) (followed by `padding` zero bytes). When
    // `last` is false, the piece's last byte is not examined and the run in
    // progress, if any, is suspended; returns the position where the next
    // piece must resume (size - 1 or size).
    std::size_t scan(const unsigned char* b, std::size_t size, bool last) {
        // In the last piece the zero padding ends every run, so only the
        // start of runs needs a bound; elsewhere a run stops where the next
        // byte has not been read yet.
        const std::size_t end = last ? size : size - 1;
        const std::size_t run_end = last ? SIZE_MAX : end;
        std::size_t i = 0;
        if (in_run_) {
            i = run(b, 0, run_end);
            if (in_run_) return i;
        }
        while (i < end) {
            i = find_start(b, i, end);
            if (i >= end) break;
            i = run(b, i, run_end);
            if (in_run_) return i;
        }
        return i;
    }

private:
    unsigned pair_at(const unsigned char* p) const {
        return pairs_[static_cast<std::size_t>(p[0]) << 8 | p[1]];
    }

    // The first position in [i, end) whose pair is not None, or end.
    std::size_t find_start(const unsigned char* b, std::size_t i, std::size_t end) const {
#ifdef KURVANE_SSE2
        if (table_.range_count <= ScanTable::max_ranges) {
            __m128i first[ScanTable::max_ranges];
            __m128i width[ScanTable::max_ranges];
            const std::size_t ranges = table_.range_count;
            for (std::size_t r = 0; r < ranges; ++r) {
                first[r] = _mm_set1_epi8(static_cast<char>(table_.range_first[r]));
                width[r] = _mm_set1_epi8(
                    static_cast<char>(table_.range_last[r] - table_.range_first[r]));
            }
            const __m128i zero = _mm_setzero_si128();
            while (i < end) {
                // Loads up to 15 bytes past end: data or the zero padding.
                const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
                __m128i hit = zero;
                for (std::size_t r = 0; r < ranges; ++r) {
                    // x - first <= width (unsigned) <=> saturating difference is 0.
                    const __m128i above = _mm_subs_epu8(_mm_sub_epi8(x, first[r]), width[r]);
                    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(above, zero));
                }
                auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
                while (mask != 0) {
                    const std::size_t p = i + static_cast<std::size_t>(std::countr_zero(mask));
                    if (p >= end) return end;
                    if (pair_at(b + p) != none) return p;
                    mask &= mask - 1;
                }
                i += 16;
            }
            return end;
        }
#endif
        const unsigned char* can_start = table_.can_start.data();
        for (; i < end; ++i) {
            if (can_start[b[i]] && pair_at(b + i) != none) return i;
        }
        return end;
    }

    // Runs from i, which holds text (or resumes a suspended run at 0).
    // Accepted bytes stay in the piece as the segment [seg, i) as long as
    // they are contiguous; an excluded pair or the end of a piece moves them
    // into run_ (the rare case), so most runs are written from the input.
    std::size_t run(const unsigned char* b, std::size_t i, std::size_t end) {
        in_run_ = false;
        std::size_t seg = i;
        // The run holds more than piece_limit bytes once i passes piece_at.
        std::size_t piece_at = seg + (piece_limit - fill_);
        for (;;) {
            if (i >= end) {
                spill(b + seg, i - seg);
                in_run_ = true;
                return i;
            }
            const unsigned c = pair_at(b + i);
            if (c == none) {
                end_run(b + seg, i - seg);
                return i;
            }
            if (c == excluded) {
                spill(b + seg, i - seg);
                i += 2;
                seg = i;
                piece_at = seg + (piece_limit - fill_);
                continue;
            }
            i += c;  // Single takes 1 byte, Double 2
            if (i > piece_at) {
                write_piece(b + seg, i - seg);
                return i;
            }
        }
    }

    void spill(const unsigned char* seg, std::size_t n) {
        std::memcpy(run_ + fill_, seg, n);
        fill_ += n;
    }

    // End of a run on a byte that is not text: run_ then [seg, seg + n).
    void end_run(const unsigned char* seg, std::size_t n) {
        const std::size_t length = fill_ + n;
        if (length >= min_length_) {
            if (fill_ != 0) out_.append(run_, fill_, false);
            out_.append(seg, n, line_break_);
        } else if (exempt_.any) {
            spill(seg, n);
            std::size_t kept = length;
            if (exempt_.match(run_, kept)) out_.append(run_, kept, line_break_);
        }
        fill_ = 0;
    }

    // The run passed piece_limit: out it goes with no line break, and the
    // end-of-run step sees an empty run, which only min_length 0 writes (an
    // exempt string never fits in an empty run).
    void write_piece(const unsigned char* seg, std::size_t n) {
        if (fill_ != 0) out_.append(run_, fill_, false);
        out_.append(seg, n, false);
        fill_ = 0;
        if (min_length_ == 0 && line_break_) out_.append(run_, 0, true);
    }

    const unsigned char* pairs_;
    const ScanTable& table_;
    OutputBuffer& out_;
    const std::uint32_t min_length_;
    const bool line_break_;
    const ExemptPatterns exempt_;
    // Zero-initialised so the fixed-size copy of a short run never reads
    // indeterminate bytes.
    unsigned char run_[run_capacity] = {};
    std::size_t fill_ = 0;
    bool in_run_ = false;
};

void apply_xor(unsigned char* data, std::size_t n, unsigned char key) {
    for (std::size_t k = 0; k < n; ++k) data[k] = static_cast<unsigned char>(data[k] ^ key);
}

}  // namespace

ExtractStatus run_pass(ByteSource& input, ByteSink& output, const ExtractionSettings& settings,
                       const PassOptions& options) {
    ExtractStatus status;
    const std::size_t piece_size = std::max<std::size_t>(options.piece_size, 1);

    std::unique_ptr<ScanTable> table(new (std::nothrow) ScanTable);
    std::unique_ptr<unsigned char[]> piece(
        new (std::nothrow) unsigned char[carry_room + piece_size + padding]);
    OutputBuffer out(output, options.output_buffer_size);
    if (!table || !piece || !out.allocated()) {
        status.error = ExtractError::no_memory;
        return status;
    }
    build_scan_table(settings, *table);
    std::unique_ptr<Scanner> scanner(new (std::nothrow) Scanner(*table, settings, out));
    if (!scanner) {
        status.error = ExtractError::no_memory;
        return status;
    }

    const auto key = static_cast<unsigned char>(settings.xor_value & 0xFFu);
    unsigned char* const b = piece.get();
    std::size_t carry = 0;
    for (;;) {
        const std::size_t got = input.read(b + carry, piece_size);
        if (got < piece_size && input.error() != 0) {
            status.error = ExtractError::read_input;
            status.sys_errno = input.error();
            break;
        }
        status.bytes_in += got;
        const bool last = got < piece_size;
        const std::size_t size = carry + got;
        std::memset(b + size, 0, padding);  // the padding contract, see above
        if (key != 0) apply_xor(b + carry, got, key);

        const std::size_t resume = scanner->scan(b, size, last);
        if (last || out.failed()) break;
        carry = size - resume;
        std::memmove(b, b + resume, carry);
    }
    if (!out.flush() && status.ok()) {
        status.error = ExtractError::write_output;
        status.sys_errno = output.error();
    }
    status.bytes_out = out.written();
    return status;
}

}  // namespace kurvane::detail
