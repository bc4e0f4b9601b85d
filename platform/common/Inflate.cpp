#include "platform/common/Inflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace deflate {

namespace {

constexpr size_t InputChunk = 64 * 1024;
// How far back a length-distance pair may reach.
constexpr size_t WindowSize = 32 * 1024;
constexpr size_t OutputChunk = 64 * 1024;
constexpr int MaxBits = 15;
// Codes up to this length are decoded by one table look-up, longer ones bit by bit.
constexpr int FastBits = 9;
constexpr int MaxLiteralCodes = 288;
constexpr int MaxDistanceCodes = 32;
constexpr int EndOfBlock = 256;

constexpr std::array<uint16_t, 29> LengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> LengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> DistanceBase = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> DistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block sends the lengths of its code-length code.
constexpr std::array<uint8_t, 19> CodeLengthOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Why decoding stopped early; carried out of the inner loops by a plain exception-free flag.
struct Failure {
    Status Why = Status::Ok;
    [[nodiscard]] bool Failed() const { return Why != Status::Ok; }
    bool Set(Status why)
    {
        if (Why == Status::Ok)
            Why = why;
        return false;
    }
};

// Bits of the compressed data, least significant first, a chunk of the source at a time.
class BitInput {
public:
    BitInput(const Source& source, uint64_t length, Failure& failure)
        : FSource(source), FLength(length), FFailure(failure),
          FChunk(static_cast<size_t>(std::min<uint64_t>(InputChunk, length)))
    {
    }

    // At least n (<= 32) bits in the buffer; false when the input ends first.
    bool Need(int n)
    {
        while (FCount < n) {
            if (FPos == FEnd && !Refill())
                return false;
            // Whole bytes while they fit, so that the source is asked rarely.
            while (FCount <= 56 && FPos < FEnd) {
                FBits |= static_cast<uint64_t>(FChunk[FPos++]) << FCount;
                FCount += 8;
            }
        }
        return true;
    }
    [[nodiscard]] uint32_t Peek(int n) const { return static_cast<uint32_t>(FBits & ((uint64_t{1} << n) - 1)); }
    void Drop(int n)
    {
        FBits >>= n;
        FCount -= n;
    }
    bool Bits(int n, uint32_t& value)
    {
        if (n == 0) {
            value = 0;
            return true;
        }
        if (!Need(n))
            return FFailure.Set(Status::Malformed);
        value = Peek(n);
        Drop(n);
        return true;
    }
    // Stored blocks begin on a byte boundary.
    void AlignToByte() { Drop(FCount % 8); }

private:
    bool Refill()
    {
        if (FOffset >= FLength)
            return false;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(FChunk.size(), FLength - FOffset));
        if (!FSource(FOffset, FChunk.data(), want))
            return FFailure.Set(Status::ReadError);
        FOffset += want;
        FPos = 0;
        FEnd = want;
        return true;
    }

    const Source& FSource;
    uint64_t FLength;
    Failure& FFailure;
    std::vector<uint8_t> FChunk;
    size_t FPos = 0;
    size_t FEnd = 0;
    uint64_t FOffset = 0;
    uint64_t FBits = 0;
    int FCount = 0;
};

// A canonical Huffman code: the number of codes of each length and the symbols in code order,
// plus a table that decodes the codes of up to FastBits bits at once.
struct Huffman {
    std::array<uint16_t, MaxBits + 1> Count{};
    std::array<uint16_t, MaxLiteralCodes> Symbol{};
    // Indexed by the next FastBits input bits: (code length << 9) | symbol, 0 for a longer code.
    std::array<uint16_t, 1 << FastBits> Fast{};
};

uint32_t Reversed(uint32_t code, int length)
{
    uint32_t result = 0;
    for (int i = 0; i < length; ++i) {
        result = (result << 1) | (code & 1);
        code >>= 1;
    }
    return result;
}

// Builds the code from the lengths of n symbols. Answers how many codes are left unused: 0 for a
// complete code, more for an incomplete one, negative for one that asks for more codes than exist.
int Build(Huffman& h, const uint8_t* lengths, int n)
{
    h.Count.fill(0);
    h.Fast.fill(0);
    for (int s = 0; s < n; ++s)
        ++h.Count[lengths[s]];
    if (h.Count[0] == n)
        return 0; // no codes: complete, and nothing can be decoded
    int left = 1;
    for (int len = 1; len <= MaxBits; ++len) {
        left <<= 1;
        left -= h.Count[len];
        if (left < 0)
            return left;
    }
    std::array<uint16_t, MaxBits + 2> offsets{};
    for (int len = 1; len <= MaxBits; ++len)
        offsets[len + 1] = static_cast<uint16_t>(offsets[len] + h.Count[len]);
    for (int s = 0; s < n; ++s)
        if (lengths[s] != 0)
            h.Symbol[offsets[lengths[s]]++] = static_cast<uint16_t>(s);

    // The canonical codes in order of length, then symbol.
    std::array<uint32_t, MaxBits + 1> next{};
    uint32_t code = 0;
    for (int len = 1; len <= MaxBits; ++len) {
        code = (code + h.Count[len - 1] * (len > 1 ? 1u : 0u)) << 1;
        next[len] = code;
    }
    for (int s = 0; s < n; ++s) {
        const int len = lengths[s];
        if (len == 0)
            continue;
        const uint32_t c = next[len]++;
        if (len > FastBits)
            continue;
        for (uint32_t i = Reversed(c, len); i < (1u << FastBits); i += 1u << len)
            h.Fast[i] = static_cast<uint16_t>((len << 9) | s);
    }
    return left;
}

// The next symbol of code h; -1 when the input ends, -2 for a code the table does not hold.
int Decode(BitInput& in, const Huffman& h)
{
    if (in.Need(FastBits)) {
        const uint16_t entry = h.Fast[in.Peek(FastBits)];
        if (entry != 0) {
            in.Drop(entry >> 9);
            return entry & 0x1FF;
        }
    }
    int code = 0;
    int first = 0;
    int index = 0;
    for (int len = 1; len <= MaxBits; ++len) {
        if (!in.Need(1))
            return -1;
        code |= static_cast<int>(in.Peek(1));
        in.Drop(1);
        const int count = h.Count[len];
        if (code - count < first)
            return h.Symbol[static_cast<size_t>(index + (code - first))];
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
    }
    return -2;
}

// The decoded bytes: the last WindowSize of them kept for back-references, the rest handed on.
class Output {
public:
    Output(uint64_t maxOutput, const Sink& sink, Failure& failure)
        : FBuffer(WindowSize + OutputChunk), FMax(maxOutput), FSink(sink), FFailure(failure)
    {
    }

    bool Put(uint8_t byte)
    {
        if (FTotal == FMax)
            return FFailure.Set(Status::TooLarge);
        if (FPos == FBuffer.size() && !Flush())
            return false;
        FBuffer[FPos++] = byte;
        ++FTotal;
        return true;
    }
    bool Copy(uint32_t distance, uint32_t length)
    {
        if (distance == 0 || distance > FTotal)
            return FFailure.Set(Status::Malformed);
        for (uint32_t i = 0; i < length; ++i) {
            // FPos never falls below min(total, WindowSize), so the byte is still held.
            if (FPos == FBuffer.size() && !Flush())
                return false;
            if (!Put(FBuffer[FPos - distance]))
                return false;
        }
        return true;
    }
    bool Flush()
    {
        if (FPos > FEmitted && !FSink(std::span<const uint8_t>(FBuffer.data() + FEmitted, FPos - FEmitted)))
            return FFailure.Set(Status::Stopped);
        if (FPos > WindowSize) {
            std::memmove(FBuffer.data(), FBuffer.data() + FPos - WindowSize, WindowSize);
            FPos = WindowSize;
        }
        FEmitted = FPos;
        return true;
    }
    [[nodiscard]] uint64_t Total() const { return FTotal; }

private:
    std::vector<uint8_t> FBuffer;
    size_t FPos = 0;
    size_t FEmitted = 0;
    uint64_t FTotal = 0;
    uint64_t FMax;
    const Sink& FSink;
    Failure& FFailure;
};

bool Stored(BitInput& in, Output& out, Failure& failure)
{
    in.AlignToByte();
    uint32_t length = 0;
    uint32_t complement = 0;
    if (!in.Bits(16, length) || !in.Bits(16, complement))
        return false;
    if (length != (~complement & 0xFFFF))
        return failure.Set(Status::Malformed);
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t byte = 0;
        if (!in.Bits(8, byte) || !out.Put(static_cast<uint8_t>(byte)))
            return false;
    }
    return true;
}

bool Codes(BitInput& in, Output& out, const Huffman& literals, const Huffman& distances, Failure& failure)
{
    for (;;) {
        const int symbol = Decode(in, literals);
        if (symbol < 0)
            return failure.Set(Status::Malformed);
        if (symbol < EndOfBlock) {
            if (!out.Put(static_cast<uint8_t>(symbol)))
                return false;
            continue;
        }
        if (symbol == EndOfBlock)
            return true;
        const size_t lengthIndex = static_cast<size_t>(symbol - EndOfBlock - 1);
        if (lengthIndex >= LengthBase.size())
            return failure.Set(Status::Malformed);
        uint32_t extra = 0;
        if (!in.Bits(LengthExtra[lengthIndex], extra))
            return false;
        const uint32_t length = LengthBase[lengthIndex] + extra;
        const int distanceSymbol = Decode(in, distances);
        if (distanceSymbol < 0 || static_cast<size_t>(distanceSymbol) >= DistanceBase.size())
            return failure.Set(Status::Malformed);
        if (!in.Bits(DistanceExtra[static_cast<size_t>(distanceSymbol)], extra))
            return false;
        if (!out.Copy(DistanceBase[static_cast<size_t>(distanceSymbol)] + extra, length))
            return false;
    }
}

bool Fixed(BitInput& in, Output& out, Failure& failure)
{
    std::array<uint8_t, MaxLiteralCodes> lengths{};
    std::fill(lengths.begin(), lengths.begin() + 144, 8);
    std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
    std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
    std::fill(lengths.begin() + 280, lengths.end(), 8);
    Huffman literals;
    Build(literals, lengths.data(), MaxLiteralCodes);
    std::array<uint8_t, 30> distanceLengths{};
    distanceLengths.fill(5);
    Huffman distances;
    Build(distances, distanceLengths.data(), static_cast<int>(distanceLengths.size()));
    return Codes(in, out, literals, distances, failure);
}

bool Dynamic(BitInput& in, Output& out, Failure& failure)
{
    uint32_t literalCount = 0;
    uint32_t distanceCount = 0;
    uint32_t codeLengthCount = 0;
    if (!in.Bits(5, literalCount) || !in.Bits(5, distanceCount) || !in.Bits(4, codeLengthCount))
        return false;
    literalCount += 257;
    distanceCount += 1;
    codeLengthCount += 4;
    if (literalCount > 286 || distanceCount > 30)
        return failure.Set(Status::Malformed);

    std::array<uint8_t, MaxLiteralCodes + MaxDistanceCodes> lengths{};
    for (uint32_t i = 0; i < codeLengthCount; ++i) {
        uint32_t length = 0;
        if (!in.Bits(3, length))
            return false;
        lengths[CodeLengthOrder[i]] = static_cast<uint8_t>(length);
    }
    Huffman codeLengths;
    if (Build(codeLengths, lengths.data(), 19) != 0)
        return failure.Set(Status::Malformed); // the code-length code must be complete

    const uint32_t total = literalCount + distanceCount;
    uint32_t index = 0;
    while (index < total) {
        const int symbol = Decode(in, codeLengths);
        if (symbol < 0)
            return failure.Set(Status::Malformed);
        if (symbol < 16) {
            lengths[index++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t repeated = 0;
        uint32_t count = 0;
        if (symbol == 16) {
            if (index == 0)
                return failure.Set(Status::Malformed); // nothing to repeat
            repeated = lengths[index - 1];
            if (!in.Bits(2, count))
                return false;
            count += 3;
        } else if (symbol == 17) {
            if (!in.Bits(3, count))
                return false;
            count += 3;
        } else {
            if (!in.Bits(7, count))
                return false;
            count += 11;
        }
        if (count > total - index)
            return failure.Set(Status::Malformed);
        std::fill_n(lengths.begin() + index, count, repeated);
        index += count;
    }
    if (lengths[EndOfBlock] == 0)
        return failure.Set(Status::Malformed); // a block that could never end

    // An incomplete code is allowed only when all its codes are one bit long.
    Huffman literals;
    int left = Build(literals, lengths.data(), static_cast<int>(literalCount));
    if (left < 0 || (left > 0 && literalCount != literals.Count[0] + literals.Count[1]))
        return failure.Set(Status::Malformed);
    Huffman distances;
    left = Build(distances, lengths.data() + literalCount, static_cast<int>(distanceCount));
    if (left < 0 || (left > 0 && distanceCount != distances.Count[0] + distances.Count[1]))
        return failure.Set(Status::Malformed);
    return Codes(in, out, literals, distances, failure);
}

} // namespace

Status Inflate(const Source& source, uint64_t length, uint64_t maxOutput, const Sink& sink, uint64_t* produced)
{
    if (produced)
        *produced = 0;
    Failure failure;
    BitInput in(source, length, failure);
    Output out(maxOutput, sink, failure);
    bool last = false;
    while (!last && !failure.Failed()) {
        uint32_t header = 0;
        if (!in.Bits(3, header))
            break;
        last = (header & 1) != 0;
        switch (header >> 1) {
        case 0: Stored(in, out, failure); break;
        case 1: Fixed(in, out, failure); break;
        case 2: Dynamic(in, out, failure); break;
        default: failure.Set(Status::Malformed); break;
        }
    }
    if (!failure.Failed())
        out.Flush();
    if (produced)
        *produced = out.Total();
    return failure.Why;
}

} // namespace deflate
