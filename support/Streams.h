// Byte streams: the base that memory streams and structured-storage streams share.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

enum class TSeekOrigin { Beginning = 0, Current = 1, End = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    [[nodiscard]] virtual int64_t GetSize();
    virtual void SetSize(int64_t newSize) = 0;
    // The number of bytes read or written; fewer than asked at the end of the stream.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // The new position.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    [[nodiscard]] int64_t Position() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Beginning); }
    [[nodiscard]] int64_t Size() { return GetSize(); }

    // Raise EStreamError when fewer bytes than asked could be moved.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from the source's position, or the whole source when count is 0.
    int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream final : public TStream {
public:
    void Clear();
    void SetSize(int64_t newSize) override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    [[nodiscard]] int64_t GetSize() override { return static_cast<int64_t>(FData.size()); }

    [[nodiscard]] const uint8_t* Memory() const { return FData.data(); }
    [[nodiscard]] const std::vector<uint8_t>& Bytes() const { return FData; }
    // Creates or replaces the file; raises EFCreateError when it cannot be created.
    void SaveToFile(const QString& fileName) const;

private:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};
