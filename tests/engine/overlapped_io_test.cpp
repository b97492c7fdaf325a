#include <gtest/gtest.h>

#include <cerrno>
#include <random>

#include "engine/extract.h"
#include "engine/drive/overlapped_io.h"
#include "pass_test_util.h"

#if KURVANE_ENGINE_THREADS
namespace kurvane {
namespace {

using test::Bytes;
using test::hex;

// Text among random bytes, so runs cross every piece and buffer boundary.
Bytes mixed_data(std::size_t size) {
    std::mt19937 random(7);
    Bytes data(size);
    const std::string_view text = "\x82\xa0\x82\xa2 ABC kana \x83\x41\x83\x43 ";
    for (std::size_t k = 0; k < size;) {
        if (random() % 4 == 0) {
            for (char c : text)
                if (k < size) data[k++] = static_cast<unsigned char>(c);
        } else {
            data[k++] = static_cast<unsigned char>(random());
        }
    }
    return data;
}

TEST(overlapped_io, pass_through_helpers_writes_the_same_bytes) {
    const Bytes data = mixed_data(20000);
    ExtractionSettings s;
    s.min_length = 2;
    const Bytes want = test::run_pass_on(data, s, 1000, 64);
    // Blocks of the reader that match the pieces and that do not.
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
        for (std::size_t block : {std::size_t{5}, piece, std::size_t{4096}}) {
            test::MemorySource source(data);
            test::MemorySink sink;
            ExtractStatus status;
            {
                detail::PrefetchSource ahead(source, block);
                detail::WriteBehindSink behind(sink, 16);
                ASSERT_TRUE(ahead.start());
                ASSERT_TRUE(behind.start());
                status = detail::run_pass(ahead, behind, s, {piece, 64});
                EXPECT_TRUE(behind.finish());
            }
            EXPECT_TRUE(status.ok()) << "piece " << piece << " block " << block;
            EXPECT_EQ(status.bytes_in, data.size());
            EXPECT_EQ(sink.bytes, want) << "piece " << piece << " block " << block << "\n got  "
                                        << hex(sink.bytes) << "\n want " << hex(want);
        }
    }
}

TEST(overlapped_io, read_error_shows_after_the_bytes_before_it) {
    const Bytes data = mixed_data(100);
    test::MemorySource source(data, 10, EIO);
    detail::PrefetchSource ahead(source, 4);
    ASSERT_TRUE(ahead.start());
    Bytes got;
    unsigned char part[3];
    for (;;) {
        const std::size_t n = ahead.read(part, sizeof part);
        got.insert(got.end(), part, part + n);
        if (n < sizeof part) break;
        EXPECT_EQ(ahead.error(), 0) << "error before byte " << got.size();
    }
    EXPECT_EQ(ahead.error(), EIO);
    EXPECT_EQ(got, Bytes(data.begin(), data.begin() + 10));
}

TEST(overlapped_io, write_failure_shows_on_the_next_write_and_at_finish) {
    const Bytes block(8, 'x');
    {
        test::MemorySink sink(10);
        detail::WriteBehindSink behind(sink, 8);
        ASSERT_TRUE(behind.start());
        EXPECT_TRUE(behind.write(block.data(), block.size()));
        EXPECT_TRUE(behind.write(block.data(), block.size()));  // fails on the helper
        EXPECT_FALSE(behind.finish());
        EXPECT_EQ(behind.error(), ENOSPC);
        EXPECT_FALSE(behind.write(block.data(), block.size()));
        EXPECT_EQ(sink.bytes.size(), 8u);
    }
    // Through the pass: the failure of the last block is what finish() reports.
    const Bytes data = mixed_data(5000);
    ExtractionSettings s;
    for (std::size_t room : {std::size_t{0}, std::size_t{100}, std::size_t{100000}}) {
        test::MemorySource source(data);
        test::MemorySink sink(room);
        detail::WriteBehindSink behind(sink, 16);
        ASSERT_TRUE(behind.start());
        ExtractStatus status = detail::run_pass(source, behind, s, {512, 64});
        const bool finished = behind.finish();
        const bool fits = room >= test::run_pass_on(data, s).size();
        EXPECT_EQ(status.ok() && finished, fits) << "room " << room;
        if (!fits) {
            EXPECT_EQ(behind.error(), ENOSPC) << "room " << room;
        }
    }
}

}  // namespace
}  // namespace kurvane
#endif
