#include "support/Streams.h"

#include "support/Exceptions.h"
#include "support/FileName.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

int64_t TStream::GetSize()
{
    const int64_t position = Seek(0, TSeekOrigin::Current);
    const int64_t size = Seek(0, TSeekOrigin::End);
    Seek(position, TSeekOrigin::Beginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EStreamError(QStringLiteral("Stream read error"));
}

void TStream::WriteBuffer(const void* buffer, int64_t count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw EStreamError(QStringLiteral("Stream write error"));
}

int64_t TStream::CopyFrom(TStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    constexpr int64_t BlockSize = 1 << 20;
    std::vector<uint8_t> block(static_cast<size_t>(std::min(count, BlockSize)));
    int64_t copied = 0;
    while (copied < count) {
        const int64_t n = std::min(count - copied, BlockSize);
        source.ReadBuffer(block.data(), n);
        WriteBuffer(block.data(), n);
        copied += n;
    }
    return copied;
}

void TMemoryStream::Clear()
{
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::SetSize(int64_t newSize)
{
    FData.resize(static_cast<size_t>(std::max<int64_t>(newSize, 0)));
    FPosition = std::min(FPosition, GetSize());
}

int64_t TMemoryStream::Read(void* buffer, int64_t count)
{
    const int64_t n = std::clamp<int64_t>(GetSize() - FPosition, 0, std::max<int64_t>(count, 0));
    if (n > 0)
        std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count)
{
    if (count <= 0)
        return 0;
    const int64_t end = FPosition + count;
    if (end > GetSize())
        FData.resize(static_cast<size_t>(end));
    std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin)
{
    const int64_t base = origin == TSeekOrigin::Beginning ? 0 : origin == TSeekOrigin::Current ? FPosition : GetSize();
    FPosition = std::max<int64_t>(base + offset, 0);
    return FPosition;
}

void TMemoryStream::SaveToFile(const QString& fileName) const
{
    // Opened by hand: a name of any bytes reaches the file, and a FIFO without a reader is refused
    // at once rather than waited for.
    const int fd = open(FileNameToBytes(fileName).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                        0666);
    if (fd < 0)
        throw EFCreateError(QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, QString::fromLocal8Bit(std::strerror(errno))));
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        throw EFCreateError(QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString()));
    }
    if (file.write(reinterpret_cast<const char*>(FData.data()), static_cast<qint64>(FData.size())) !=
        static_cast<qint64>(FData.size()))
        throw EStreamError(QStringLiteral("Stream write error"));
}
