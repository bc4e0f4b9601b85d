// The DEFLATE decoder: each kind of block, the streams zlib refuses, and the caller's limits.
#include "platform/common/Inflate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
    deflate::Status Status;
    std::string Text;
    uint64_t Produced = 0;
};

// Decodes bytes given in pieces of `chunk` to the source, at most maxOutput bytes.
Decoded Decode(const Bytes& input, uint64_t maxOutput = 1 << 20)
{
    Decoded result{};
    const deflate::Source source = [&](uint64_t offset, uint8_t* buffer, size_t length) {
        if (offset > input.size() || length > input.size() - offset)
            return false;
        std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(offset), length, buffer);
        return true;
    };
    result.Status = deflate::Inflate(
        source, input.size(), maxOutput,
        [&](std::span<const uint8_t> piece) {
            result.Text.append(piece.begin(), piece.end());
            return true;
        },
        &result.Produced);
    return result;
}

struct StreamCase {
    const char* What;
    Bytes Input;
    deflate::Status Status;
    const char* Text; // for Ok
};

TEST(InflateTest, StreamsAsZlibDecodesThem)
{
    // Made with Python's zlib (raw DEFLATE, wbits -15) and a bit writer; zlib's own verdict on
    // each broken stream is in its comment.
    const StreamCase cases[] = {
        {"a stored block",
         {0x01, 0x07, 0x00, 0xF8, 0xFF, 0x54, 0x65, 0x73, 0x73, 0x65, 0x72, 0x61},
         deflate::Status::Ok,
         "Tessera"},
        {"a fixed block with back-references",
         {0x0B, 0x49, 0x2D, 0x2E, 0x4E, 0x2D, 0x4A, 0x54, 0x08, 0x41, 0xA5, 0x15, 0x01},
         deflate::Status::Ok,
         "Tessera Tessera Tessera!"},
        // "invalid distance too far back"
        {"a match before any output", {0x03, 0x02, 0x00}, deflate::Status::Malformed, nullptr},
        // "invalid code lengths set"
        {"an over-subscribed code-length code",
         {0x05, 0xE0, 0x93, 0x24, 0x49, 0x92, 0x24, 0x49, 0x92, 0x00},
         deflate::Status::Malformed,
         nullptr},
        // "invalid literal/length code"
        {"literal/length symbol 286", {0x1B, 0x03}, deflate::Status::Malformed, nullptr},
        // "invalid bit length repeat"
        {"a repeat with nothing to repeat", {0x05, 0x00, 0x02, 0x24}, deflate::Status::Malformed, nullptr},
        {"block type 3", {0x07}, deflate::Status::Malformed, nullptr},
        {"a stored length whose complement lies",
         {0x01, 0x05, 0x00, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e'},
         deflate::Status::Malformed,
         nullptr},
        {"a stored block cut short", {0x01, 0x05, 0x00, 0xFA, 0xFF, 'a', 'b'}, deflate::Status::Malformed, nullptr},
        {"a block that is not the last, and nothing after it",
         {0x00, 0x01, 0x00, 0xFE, 0xFF, 'a'},
         deflate::Status::Malformed,
         nullptr},
        {"nothing at all", {}, deflate::Status::Malformed, nullptr},
    };
    for (const StreamCase& c : cases) {
        const Decoded decoded = Decode(c.Input);
        EXPECT_EQ(decoded.Status, c.Status) << c.What;
        if (c.Text) {
            EXPECT_EQ(decoded.Text, c.Text) << c.What;
            EXPECT_EQ(decoded.Produced, std::string(c.Text).size()) << c.What;
        }
    }
}

TEST(InflateTest, TheCallersLimitsHold)
{
    const Bytes stored = {0x01, 0x07, 0x00, 0xF8, 0xFF, 0x54, 0x65, 0x73, 0x73, 0x65, 0x72, 0x61};
    EXPECT_EQ(Decode(stored, 7).Status, deflate::Status::Ok);
    EXPECT_EQ(Decode(stored, 6).Status, deflate::Status::TooLarge);

    // A sink that has seen enough stops the decoding.
    const deflate::Source source = [&](uint64_t offset, uint8_t* buffer, size_t length) {
        std::copy_n(stored.begin() + static_cast<std::ptrdiff_t>(offset), length, buffer);
        return true;
    };
    EXPECT_EQ(deflate::Inflate(source, stored.size(), 100, [](std::span<const uint8_t>) { return false; }),
              deflate::Status::Stopped);
    // A source that cannot read is not a malformed stream.
    const deflate::Source failing = [](uint64_t, uint8_t*, size_t) { return false; };
    EXPECT_EQ(deflate::Inflate(failing, stored.size(), 100, [](std::span<const uint8_t>) { return true; }),
              deflate::Status::ReadError);
}

} // namespace
