// The ZIP reader: archives laid out record after record open, anything else is refused when it
// is opened, and entries are read as their records declare, stored or deflated.
#include "platform/common/ZipArchive.h"

#include "tests/support/TestSupport.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

using testsupport::Fixture;
using testsupport::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Put64(Bytes& out, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Set32(Bytes& out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A stored archive of the given entries, with where each central directory record begins; the
// end records in their ZIP64 form when asked.
struct Built {
    Bytes Archive;
    std::vector<size_t> DirectoryRecords;
    size_t DirectoryOffset = 0;
};

Built Build(const std::vector<std::pair<std::string, std::string>>& entries, bool zip64 = false)
{
    Built built;
    Bytes directory;
    for (const auto& [name, content] : entries) {
        const auto offset = static_cast<uint32_t>(built.Archive.size());
        Bytes& a = built.Archive;
        Put32(a, 0x04034B50);
        Put16(a, 20);
        Put16(a, 0);
        Put16(a, 0); // stored
        Put32(a, 0);
        Put32(a, 0); // CRC-32, not checked
        Put32(a, static_cast<uint32_t>(content.size()));
        Put32(a, static_cast<uint32_t>(content.size()));
        Put16(a, static_cast<uint16_t>(name.size()));
        Put16(a, 0);
        a.insert(a.end(), name.begin(), name.end());
        a.insert(a.end(), content.begin(), content.end());

        built.DirectoryRecords.push_back(directory.size());
        Put32(directory, 0x02014B50);
        Put16(directory, 20);
        Put16(directory, 20);
        Put16(directory, 0);
        Put16(directory, 0);
        Put32(directory, 0);
        Put32(directory, 0);
        Put32(directory, static_cast<uint32_t>(content.size()));
        Put32(directory, static_cast<uint32_t>(content.size()));
        Put16(directory, static_cast<uint16_t>(name.size()));
        Put16(directory, 0);
        Put16(directory, 0);
        Put16(directory, 0);
        Put16(directory, 0);
        Put32(directory, 0);
        Put32(directory, offset);
        directory.insert(directory.end(), name.begin(), name.end());
    }
    built.DirectoryOffset = built.Archive.size();
    for (size_t& record : built.DirectoryRecords)
        record += built.DirectoryOffset;
    built.Archive.insert(built.Archive.end(), directory.begin(), directory.end());
    const auto count = static_cast<uint16_t>(entries.size());
    Bytes& a = built.Archive;
    if (zip64) {
        const uint64_t end64 = a.size();
        Put32(a, 0x06064B50);
        Put64(a, 44);
        Put16(a, 45);
        Put16(a, 45);
        Put32(a, 0);
        Put32(a, 0);
        Put64(a, count);
        Put64(a, count);
        Put64(a, directory.size());
        Put64(a, built.DirectoryOffset);
        Put32(a, 0x07064B50);
        Put32(a, 0);
        Put64(a, end64);
        Put32(a, 1);
    }
    Put32(a, 0x06054B50);
    Put16(a, 0);
    Put16(a, 0);
    Put16(a, zip64 ? 0xFFFF : count);
    Put16(a, zip64 ? 0xFFFF : count);
    Put32(a, zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(directory.size()));
    Put32(a, zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(built.DirectoryOffset));
    Put16(a, 0);
    return built;
}

// Opens bytes written to a file, as the trust service opens packages.
class Opened {
public:
    explicit Opened(const Bytes& bytes)
    {
        const auto path = FDir / "archive.zip";
        testsupport::WriteBytes(path, bytes);
        Init(path);
    }
    explicit Opened(const std::filesystem::path& path) { Init(path); }
    ~Opened()
    {
        if (FFd >= 0)
            close(FFd);
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    [[nodiscard]] const std::optional<zip::Archive>& archive() const { return FArchive; }
    [[nodiscard]] zip::Error error() const { return FError; }

private:
    void Init(const std::filesystem::path& path)
    {
        FFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (const auto source = FileSource::FromDescriptor(FFd))
            FArchive = zip::Archive::Open(*source, &FError);
    }
    TempDir FDir;
    int FFd = -1;
    zip::Error FError = zip::Error::None;
    std::optional<zip::Archive> FArchive;
};

std::string Content(const zip::Archive& archive, const zip::Entry& entry, deflate::Status* status = nullptr)
{
    std::string text;
    const deflate::Status read = archive.Read(entry, 1 << 20, [&](std::span<const uint8_t> piece) {
        text.append(piece.begin(), piece.end());
        return true;
    });
    if (status)
        *status = read;
    return text;
}

TEST(ZipArchiveTest, ARecordAfterRecordArchiveOpens)
{
    for (const bool zip64 : {false, true}) {
        const Opened opened(
            Build({{"AppxManifest.xml", "<Package/>"}, {"Assets/Logo%20Big.png", "PNG"}}, zip64).Archive);
        ASSERT_TRUE(opened.archive()) << "zip64 " << zip64;
        const zip::Archive& archive = *opened.archive();
        EXPECT_EQ(archive.End().Zip64, zip64);
        ASSERT_EQ(archive.Entries().size(), 2u);
        const zip::Entry* logo = archive.Find("Assets/Logo%20Big.png");
        ASSERT_NE(logo, nullptr);
        EXPECT_EQ(Content(archive, *logo), "PNG");
        EXPECT_EQ(logo->LocalHeaderSize, 30u + 21u);
        EXPECT_EQ(logo->RecordEnd, archive.DirectoryOffset());
        EXPECT_EQ(archive.Find("Assets/Logo Big.png"), nullptr);
    }
}

TEST(ZipArchiveTest, ArchivesOfOtherShapesAreRefused)
{
    const std::vector<std::pair<std::string, std::string>> two = {{"a.txt", "first"}, {"b.txt", "second"}};
    struct Shape {
        const char* What;
        std::function<Bytes()> Make;
        zip::Error Error;
    };
    const Shape shapes[] = {
        {"two entries over one record",
         [&] {
             Built b = Build(two);
             Set32(b.Archive, b.DirectoryRecords[1] + 42, 0);
             return b.Archive;
         },
         zip::Error::Malformed},
        {"a record that points past the end",
         [&] {
             Built b = Build(two);
             Set32(b.Archive, b.DirectoryRecords[1] + 42, 0x7FFFFFF0);
             return b.Archive;
         },
         zip::Error::Malformed},
        {"a record inside the central directory",
         [&] {
             Built b = Build(two);
             Set32(b.Archive, b.DirectoryRecords[1] + 42, static_cast<uint32_t>(b.DirectoryOffset));
             return b.Archive;
         },
         zip::Error::Malformed},
        {"data larger than its record",
         [&] {
             Built b = Build(two);
             Set32(b.Archive, b.DirectoryRecords[0] + 20, 1000);
             return b.Archive;
         },
         zip::Error::Malformed},
        {"bytes before the first record",
         [&] {
             Built b = Build(two);
             Bytes prefixed = {'M', 'Z'};
             prefixed.insert(prefixed.end(), b.Archive.begin(), b.Archive.end());
             return prefixed;
         },
         zip::Error::Malformed},
        {"two entries of one name",
         [&] {
             return Build({{"a.txt", "first"}, {"a.txt", "second"}}).Archive;
         },
         zip::Error::Malformed},
        {"a local name that is not the directory's",
         [&] {
             Built b = Build(two);
             b.Archive[30] = 'z';
             return b.Archive;
         },
         zip::Error::Malformed},
        {"more entries than the directory can hold",
         [&] {
             Built b = Build(two);
             const size_t end = b.Archive.size() - 22;
             b.Archive[end + 8] = 0x40;
             b.Archive[end + 10] = 0x40;
             return b.Archive;
         },
         zip::Error::Malformed},
        {"a directory that does not end at the end record",
         [&] {
             Built b = Build(two);
             Set32(b.Archive, b.Archive.size() - 22 + 12, 10);
             return b.Archive;
         },
         zip::Error::Malformed},
        {"a comment longer than the file",
         [&] {
             Built b = Build(two);
             b.Archive[b.Archive.size() - 2] = 0x10;
             return b.Archive;
         },
         zip::Error::NotZip},
        {"a text file",
         [] {
             return Bytes{'h', 'e', 'l', 'l', 'o'};
         },
         zip::Error::NotZip},
    };
    for (const Shape& shape : shapes) {
        const Opened opened(shape.Make());
        EXPECT_FALSE(opened.archive()) << shape.What;
        EXPECT_EQ(opened.error(), shape.Error) << shape.What;
    }
}

TEST(ZipArchiveTest, EntriesAreReadAsTheirRecordsDeclare)
{
    // A stored entry whose two sizes differ says nothing true.
    Built b = Build({{"a.txt", "first"}});
    Set32(b.Archive, b.DirectoryRecords[0] + 24, 4);
    const Opened opened(b.Archive);
    ASSERT_TRUE(opened.archive());
    deflate::Status status = deflate::Status::Ok;
    Content(*opened.archive(), opened.archive()->Entries().front(), &status);
    EXPECT_EQ(status, deflate::Status::Malformed);
    // Nothing larger than the caller allows is read.
    const Opened intact(Build({{"a.txt", "first"}}).Archive);
    ASSERT_TRUE(intact.archive());
    EXPECT_EQ(
        intact.archive()->Read(intact.archive()->Entries().front(), 4, [](std::span<const uint8_t>) { return true; }),
        deflate::Status::TooLarge);
}

// The deflated file of a package made by MakeAppx's rules: four blocks, back-references across
// them, behind a data descriptor.
TEST(ZipArchiveTest, ADeflatedEntryOfARealPackage)
{
    const Opened opened(Fixture("containers/appx/unsigned.msix"));
    ASSERT_TRUE(opened.archive());
    const zip::Entry* large = opened.archive()->Find("Data/large.txt");
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(large->Method, zip::MethodDeflated);
    EXPECT_EQ(large->Flags & 0x08, 0x08);
    std::array<uint8_t, 32> digest{};
    unsigned int length = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ASSERT_EQ(EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr), 1);
    uint64_t total = 0;
    EXPECT_EQ(opened.archive()->Read(*large, large->UncompressedSize,
                                     [&](std::span<const uint8_t> piece) {
                                         total += piece.size();
                                         return EVP_DigestUpdate(ctx, piece.data(), piece.size()) == 1;
                                     }),
              deflate::Status::Ok);
    EVP_DigestFinal_ex(ctx, digest.data(), &length);
    EVP_MD_CTX_free(ctx);
    EXPECT_EQ(total, 245000u);
    std::string hex;
    for (const uint8_t byte : digest) {
        static constexpr char Digits[] = "0123456789abcdef";
        hex += Digits[byte >> 4];
        hex += Digits[byte & 15];
    }
    // sha256 of the text the fixture script wrote.
    EXPECT_EQ(hex, "edd0666e8a0a414fa5cf868aaf1e4e662cbf089f94e3e1a01e591e7288453efe");
}

} // namespace
