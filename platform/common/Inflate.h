// Raw DEFLATE (RFC 1951), the compression of ZIP entries, decoded as a stream: compressed bytes
// are pulled from the source a chunk at a time and the decoded bytes handed to a sink in pieces,
// so that memory stays at one input chunk and one window whatever the entry's size.
//
// Hostile input ends in an answer, never in a loop or a large allocation: every code is checked
// while its table is built, every back-reference against what was decoded, and the output
// against the caller's limit.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace deflate {

enum class Status {
    Ok,        // the last block ended within the input
    Malformed, // a code or block the format does not allow, or the input ended first
    TooLarge,  // the output would pass the caller's limit
    Stopped,   // the sink asked to stop
    ReadError, // the source could not give the bytes it holds
};

// Reads `length` bytes at `offset` of the compressed data into `buffer`; false when it cannot.
using Source = std::function<bool(uint64_t offset, uint8_t* buffer, size_t length)>;
// Takes the next piece of decoded data; false stops the decoding.
using Sink = std::function<bool(std::span<const uint8_t> piece)>;

// Decodes the compressed data (length bytes, read through source) into sink, at most maxOutput
// bytes. produced, when given, receives the number of bytes handed to the sink.
[[nodiscard]] Status Inflate(const Source& source, uint64_t length, uint64_t maxOutput, const Sink& sink,
                             uint64_t* produced = nullptr);

} // namespace deflate
