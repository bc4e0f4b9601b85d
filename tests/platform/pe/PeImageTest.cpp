// The PE reader over the fixtures of tests/fixtures/pe: headers, sections, resources, the
// certificate table, the Authenticode ranges (checked against the digest inside real
// signatures), executable kinds, malformed files and a sparse file past 4 GiB.
#include "platform/common/PeImage.h"

#include "platform/common/FileSource.h"
#include "platform/include/win/winbase.h"
#include "tests/support/TestSupport.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;
using namespace pe;

namespace {

fs::path PeFixture(const std::string& name) { return testsupport::Fixture("pe/" + name); }

OwnedFile OpenFixture(const std::string& name)
{
    auto file = OwnedFile::Open(PeFixture(name).string());
    if (!file)
        throw std::runtime_error("cannot open fixture " + name);
    return std::move(*file);
}

PeImage LoadFixture(const OwnedFile& file)
{
    auto image = PeImage::Load(file.source());
    if (!image)
        throw std::runtime_error("fixture does not load");
    return std::move(*image);
}

std::vector<uint8_t> ReadRanges(const FileSource& file, const std::vector<ByteRange>& ranges)
{
    std::vector<uint8_t> bytes;
    for (const ByteRange& r : ranges) {
        const auto part = file.ReadRange(r.Offset, static_cast<size_t>(r.Length));
        if (!part)
            throw std::runtime_error("range outside the file");
        bytes.insert(bytes.end(), part->begin(), part->end());
    }
    return bytes;
}

std::vector<uint8_t> Sha256(const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> digest(32);
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

struct Pkcs7Free {
    void operator()(PKCS7* p) const { PKCS7_free(p); }
};
struct SequenceFree {
    void operator()(ASN1_SEQUENCE_ANY* s) const { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
};

std::unique_ptr<ASN1_SEQUENCE_ANY, SequenceFree> Sequence(const ASN1_STRING* der)
{
    const unsigned char* p = der->data;
    return std::unique_ptr<ASN1_SEQUENCE_ANY, SequenceFree>(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, der->length));
}

// The message digest that an Authenticode signature carries: SignedData -> content
// SpcIndirectDataContent ::= SEQUENCE { data, DigestInfo ::= SEQUENCE { algorithm, OCTET STRING } }.
std::vector<uint8_t> SignedDigest(const std::vector<uint8_t>& signature)
{
    const unsigned char* p = signature.data();
    const std::unique_ptr<PKCS7, Pkcs7Free> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(signature.size())));
    if (!p7 || !PKCS7_type_is_signed(p7.get()))
        throw std::runtime_error("not a SignedData");
    const ASN1_TYPE* content = p7->d.sign->contents->d.other;
    if (!content || content->type != V_ASN1_SEQUENCE)
        throw std::runtime_error("no indirect data content");
    const auto indirect = Sequence(content->value.sequence);
    const ASN1_TYPE* digestInfo = indirect ? sk_ASN1_TYPE_value(indirect.get(), 1) : nullptr;
    if (!digestInfo || digestInfo->type != V_ASN1_SEQUENCE)
        throw std::runtime_error("no DigestInfo");
    const auto info = Sequence(digestInfo->value.sequence);
    const ASN1_TYPE* digest = info ? sk_ASN1_TYPE_value(info.get(), 1) : nullptr;
    if (!digest || digest->type != V_ASN1_OCTET_STRING)
        throw std::runtime_error("no digest");
    return {digest->value.octet_string->data, digest->value.octet_string->data + digest->value.octet_string->length};
}

} // namespace

struct HeaderCase {
    const char* Name;
    uint16_t Magic;
    uint16_t Machine;
    bool Dll;
    uint16_t Subsystem;
    uint16_t SubsystemMajor;
    uint16_t SubsystemMinor;
    size_t Sections;
};

class PeHeaders : public testing::TestWithParam<HeaderCase> {};

TEST_P(PeHeaders, ReadsTheHeaders)
{
    const HeaderCase& c = GetParam();
    const OwnedFile file = OpenFixture(c.Name);
    const PeImage image = LoadFixture(file);
    EXPECT_EQ(image.OptionalMagic(), c.Magic);
    EXPECT_EQ(image.IsPe32Plus(), c.Magic == OptionalMagicPe32Plus);
    EXPECT_EQ(image.Machine(), c.Machine);
    EXPECT_EQ(image.IsDll(), c.Dll);
    EXPECT_EQ(image.Subsystem(), c.Subsystem);
    EXPECT_EQ(image.SubsystemMajorVersion(), c.SubsystemMajor);
    EXPECT_EQ(image.SubsystemMinorVersion(), c.SubsystemMinor);
    EXPECT_EQ(image.Sections().size(), c.Sections);
    EXPECT_EQ(image.DirectoryCount(), 16u);
    EXPECT_EQ(image.NewHeaderOffset(), 0x80u);
    // CheckSum sits 64 bytes into either optional header; directory 4 at 96 + 32 or 112 + 32.
    EXPECT_EQ(image.CheckSumOffset(), 0x80u + 24 + 64);
    EXPECT_EQ(image.DirectoryEntryOffset(DirectorySecurity), 0x80u + 24 + (image.IsPe32Plus() ? 112 : 96) + 32);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PeHeaders,
                         testing::Values(HeaderCase{"gui.exe", 0x10B, MachineI386, false, 2, 4, 0, 3},
                                         HeaderCase{"gui64.exe", 0x20B, MachineAmd64, false, 2, 6, 0, 2},
                                         HeaderCase{"console.exe", 0x10B, MachineI386, false, 3, 4, 0, 1},
                                         HeaderCase{"console64.exe", 0x20B, MachineAmd64, false, 3, 6, 0, 1},
                                         HeaderCase{"posix.exe", 0x10B, MachineI386, false, 7, 1, 0, 1},
                                         HeaderCase{"library.dll", 0x10B, MachineI386, true, 2, 4, 0, 2}),
                         [](const auto& info) {
                             std::string name = info.param.Name;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

TEST(PeImage, MapsRvasThroughTheSectionTable)
{
    const OwnedFile file = OpenFixture("gui.exe");
    const PeImage image = LoadFixture(file);
    const auto& sections = image.Sections();
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0].Name, ".text");
    EXPECT_EQ(sections[1].Name, ".rsrc");
    EXPECT_EQ(sections[2].Name, ".bss");
    const Section& text = sections[0];
    // The code's raw data follows the resources in the file.
    EXPECT_GT(text.PointerToRawData, sections[1].PointerToRawData);

    const Section& rsrc = sections[1];
    EXPECT_EQ(image.RvaToOffset(text.VirtualAddress, 1), text.PointerToRawData);
    EXPECT_EQ(image.RvaToOffset(rsrc.VirtualAddress + 0x10, 0x10), rsrc.PointerToRawData + 0x10);
    // Exactly to the end of the raw data, and one byte past it.
    EXPECT_EQ(image.RvaToOffset(rsrc.VirtualAddress, rsrc.SizeOfRawData), rsrc.PointerToRawData);
    EXPECT_EQ(image.RvaToOffset(rsrc.VirtualAddress, rsrc.SizeOfRawData + 1), std::nullopt);
    // Past a section's virtual size the address belongs to no section (.text holds one byte).
    EXPECT_EQ(image.RvaToOffset(text.VirtualAddress + 0x10, 1), std::nullopt);
    // The headers map to themselves; uninitialised data and unmapped addresses have no bytes.
    EXPECT_EQ(image.RvaToOffset(0x3C, 4), 0x3Cu);
    EXPECT_EQ(image.RvaToOffset(sections[2].VirtualAddress, 1), std::nullopt);
    EXPECT_EQ(image.RvaToOffset(0x7FFFF000, 1), std::nullopt);
    EXPECT_EQ(image.RvaToOffset(0xFFFFFFFF, 0xFFFFFFFF), std::nullopt);
}

TEST(PeImage, FindsResourcesByIdNameAndFirst)
{
    const OwnedFile file = OpenFixture("gui.exe");
    const PeImage image = LoadFixture(file);

    const auto version = image.FindResource(ResourceKey::Id(RtVersion), ResourceKey::First(), ResourceKey::First());
    ASSERT_TRUE(version);
    EXPECT_EQ(version->Language, 0x0409);
    const auto bytes = image.ReadResource(*version, 0xFFFF);
    ASSERT_TRUE(bytes);
    ASSERT_GE(bytes->size(), 40u);
    EXPECT_EQ((*bytes)[0] | ((*bytes)[1] << 8), static_cast<int>(bytes->size())); // wLength
    EXPECT_EQ((*bytes)[6], 'V');                                                  // "VS_VERSION_INFO"
    EXPECT_EQ(image.ReadResource(*version, bytes->size() - 1), std::nullopt);

    // Named entries compare without regard to ASCII case; ids do not match names.
    EXPECT_TRUE(image.FindResource(ResourceKey::Id(RtGroupIcon), ResourceKey::Name(u"mainicon"), ResourceKey::First()));
    EXPECT_TRUE(image.FindResource(ResourceKey::Id(RtGroupIcon), ResourceKey::Id(7), ResourceKey::Id(0x0409)));
    EXPECT_FALSE(image.FindResource(ResourceKey::Id(RtGroupIcon), ResourceKey::Id(7), ResourceKey::Id(0x0407)));
    EXPECT_FALSE(image.FindResource(ResourceKey::Id(RtGroupIcon), ResourceKey::Name(u"7"), ResourceKey::First()));
    EXPECT_FALSE(image.FindResource(ResourceKey::Id(99), ResourceKey::First(), ResourceKey::First()));

    const auto groups = image.ResourceNames(ResourceKey::Id(RtGroupIcon));
    ASSERT_TRUE(groups);
    ASSERT_EQ(groups->size(), 2u);
    EXPECT_FALSE((*groups)[0].IsId);
    EXPECT_EQ((*groups)[0].Name, u"MAINICON");
    EXPECT_TRUE((*groups)[1].IsId);
    EXPECT_EQ((*groups)[1].Id, 7);
    EXPECT_EQ(image.ResourceNames(ResourceKey::Id(99)), std::optional(std::vector<ResourceEntryName>{}));

    // An image without a resource directory has no resources and no error.
    const OwnedFile console = OpenFixture("console.exe");
    const PeImage plain = LoadFixture(console);
    EXPECT_FALSE(plain.FindResource(ResourceKey::Id(RtVersion), ResourceKey::First(), ResourceKey::First()));
    EXPECT_EQ(plain.ResourceNames(ResourceKey::Id(RtGroupIcon))->size(), 0u);
}

struct CertificateCase {
    const char* Name;
    std::vector<uint16_t> Types;
};

class PeCertificates : public testing::TestWithParam<CertificateCase> {};

TEST_P(PeCertificates, EnumeratesTheTable)
{
    const OwnedFile file = OpenFixture(GetParam().Name);
    const PeImage image = LoadFixture(file);
    const auto table = image.CertificateTable();
    const auto entries = image.Certificates();
    ASSERT_TRUE(table);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), GetParam().Types.size());
    uint64_t expected = table->Offset;
    for (size_t i = 0; i < entries->size(); ++i) {
        const CertificateEntry& e = (*entries)[i];
        EXPECT_EQ(e.Offset, expected) << i;
        EXPECT_EQ(e.Type, GetParam().Types[i]) << i;
        EXPECT_EQ(e.Revision, 0x0200) << i;
        EXPECT_LE(e.Offset + e.Length, table->Offset + table->Length);
        expected = (e.Offset + e.Length + 7) / 8 * 8;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PeCertificates,
                         testing::Values(CertificateCase{"gui.exe", {}}, CertificateCase{"signed.exe", {2}},
                                         CertificateCase{"signed64.exe", {2}},
                                         CertificateCase{"signed-multi.exe", {2, 2, 1}}),
                         [](const auto& info) {
                             std::string name = info.param.Name;
                             std::replace(name.begin(), name.end(), '.', '_');
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

class PeAuthenticode : public testing::TestWithParam<const char*> {};

// The digest over the ranges is the one the signer (osslsigncode) put into the signature.
TEST_P(PeAuthenticode, RangesHashToTheSignedDigest)
{
    const OwnedFile file = OpenFixture(GetParam());
    const PeImage image = LoadFixture(file);
    const auto ranges = image.AuthenticodeRanges();
    const auto entries = image.Certificates();
    ASSERT_TRUE(ranges);
    ASSERT_TRUE(entries && !entries->empty());
    const CertificateEntry& first = entries->front();
    const auto signature = file.source().ReadRange(first.Offset + 8, first.Length - 8);
    ASSERT_TRUE(signature);
    EXPECT_EQ(Sha256(ReadRanges(file.source(), *ranges)), SignedDigest(*signature));

    // The file flat, less the CheckSum, the directory entry and the table, which ends the file.
    const uint64_t entry = *image.DirectoryEntryOffset(DirectorySecurity);
    ASSERT_EQ(ranges->size(), 3u);
    EXPECT_EQ((*ranges)[0], (ByteRange{0, image.CheckSumOffset()}));
    EXPECT_EQ((*ranges)[1], (ByteRange{image.CheckSumOffset() + 4, entry - image.CheckSumOffset() - 4}));
    EXPECT_EQ((*ranges)[2], (ByteRange{entry + 8, image.CertificateTable()->Offset - entry - 8}));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PeAuthenticode, testing::Values("signed.exe", "signed64.exe", "signed-multi.exe"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '.', '_');
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(PeImage, AuthenticodeRangesOfAnUnsignedImage)
{
    // gui.exe keeps .text's raw data after .rsrc's and has overlay: neither matters, the file is
    // hashed in file order up to its end.
    const OwnedFile file = OpenFixture("gui.exe");
    const PeImage image = LoadFixture(file);
    const auto ranges = image.AuthenticodeRanges();
    ASSERT_TRUE(ranges);
    const uint64_t entry = *image.DirectoryEntryOffset(DirectorySecurity);
    ASSERT_EQ(ranges->size(), 3u);
    EXPECT_EQ((*ranges)[0], (ByteRange{0, image.CheckSumOffset()}));
    EXPECT_EQ((*ranges)[1].Offset, image.CheckSumOffset() + 4);
    EXPECT_EQ((*ranges)[2], (ByteRange{entry + 8, file.source().size() - entry - 8}));
}

// Data after the certificate table is hashed after the bytes before it; a table that reaches
// back over the directory entry cannot be told apart from what the digest skips.
TEST(PeImage, AuthenticodeRangesAroundTheTable)
{
    const testsupport::TempDir dir;
    auto bytes = testsupport::ReadBytes(PeFixture("signed.exe"));
    const size_t signedSize = bytes.size();
    const std::string appended = "APPENDED";
    bytes.insert(bytes.end(), appended.begin(), appended.end());
    testsupport::WriteBytes(dir / "appended.exe", bytes);
    const OwnedFile file = *OwnedFile::Open((dir / "appended.exe").string());
    const PeImage image = LoadFixture(file);
    const auto table = image.CertificateTable();
    const auto ranges = image.AuthenticodeRanges();
    ASSERT_TRUE(table && ranges);
    ASSERT_EQ(table->Offset + table->Length, signedSize);
    ASSERT_EQ(ranges->size(), 4u);
    EXPECT_EQ((*ranges)[2].Offset + (*ranges)[2].Length, table->Offset);
    EXPECT_EQ((*ranges)[3], (ByteRange{signedSize, appended.size()}));

    // Data directory 4 pointing at the optional header: no ranges.
    const uint64_t entry = *image.DirectoryEntryOffset(DirectorySecurity);
    auto overlapping = testsupport::ReadBytes(PeFixture("signed.exe"));
    const uint32_t tableAt = static_cast<uint32_t>(image.CheckSumOffset());
    for (int i = 0; i < 4; ++i)
        overlapping[entry + i] = static_cast<uint8_t>(tableAt >> (8 * i));
    testsupport::WriteBytes(dir / "overlapping.exe", overlapping);
    const OwnedFile other = *OwnedFile::Open((dir / "overlapping.exe").string());
    EXPECT_FALSE(LoadFixture(other).AuthenticodeRanges());
}

struct MalformedCase {
    const char* Name;
    std::optional<Error> LoadError; // nullopt: the headers load
    bool Resources;                 // the version resource can be found
    bool Certificates;              // the certificate table can be enumerated
    bool Authenticode;              // the Authenticode ranges can be given
};

class PeMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(PeMalformed, FailsCleanly)
{
    const MalformedCase& c = GetParam();
    const OwnedFile file = OpenFixture(c.Name);
    Error error = Error::None;
    const auto image = PeImage::Load(file.source(), &error);
    if (c.LoadError) {
        EXPECT_FALSE(image);
        EXPECT_EQ(error, *c.LoadError);
        return;
    }
    ASSERT_TRUE(image);
    EXPECT_EQ(error, Error::None);
    EXPECT_EQ(image->FindResource(ResourceKey::Id(RtVersion), ResourceKey::First(), ResourceKey::First()).has_value(),
              c.Resources);
    EXPECT_EQ(image->Certificates().has_value(), c.Certificates);
    EXPECT_EQ(image->AuthenticodeRanges().has_value(), c.Authenticode);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, PeMalformed,
    testing::Values(MalformedCase{"text.txt", Error::NotExecutable, false, false, false},
                    MalformedCase{"mz-short.bin", Error::NotPe, false, false, false},
                    MalformedCase{"dos.exe", Error::NotPe, false, false, false},
                    MalformedCase{"ne-win16.exe", Error::NotPe, false, false, false},
                    MalformedCase{"le.vxd", Error::NotPe, false, false, false},
                    MalformedCase{"trunc-coff.exe", Error::Malformed, false, false, false},
                    MalformedCase{"trunc-optional.exe", Error::Malformed, false, false, false},
                    // The digest does not look at sections.
                    MalformedCase{"section-past-end.exe", std::nullopt, false, true, true},
                    MalformedCase{"rsrc-data-past-end.exe", std::nullopt, false, true, true},
                    MalformedCase{"rsrc-loop.exe", std::nullopt, false, true, true},
                    MalformedCase{"cert-table-past-end.exe", std::nullopt, true, false, false},
                    MalformedCase{"cert-entry-too-long.exe", std::nullopt, true, false, true}),
    [](const auto& info) {
        std::string name = info.param.Name;
        std::replace(name.begin(), name.end(), '.', '_');
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

struct ProbeCase {
    const char* Name;
    std::optional<ExecutableFormat> Format; // nullopt: not an MZ file
    bool Library;
    uint8_t NeTarget;
    uint16_t NeVersion;
};

class PeProbe : public testing::TestWithParam<ProbeCase> {};

TEST_P(PeProbe, TellsTheExecutableKind)
{
    const ProbeCase& c = GetParam();
    const OwnedFile file = OpenFixture(c.Name);
    const auto info = ProbeExecutable(file.source());
    ASSERT_EQ(info.has_value(), c.Format.has_value());
    if (!info)
        return;
    EXPECT_EQ(info->Format, *c.Format);
    EXPECT_EQ(info->IsLibrary(), c.Library);
    EXPECT_EQ(info->NeTargetOs, c.NeTarget);
    EXPECT_EQ(info->NeExpectedWindowsVersion, c.NeVersion);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PeProbe,
                         testing::Values(ProbeCase{"gui.exe", ExecutableFormat::Pe, false, 0, 0},
                                         ProbeCase{"library.dll", ExecutableFormat::Pe, true, 0, 0},
                                         ProbeCase{"ne-win16.exe", ExecutableFormat::Ne, false, 2, 0x030A},
                                         ProbeCase{"ne-os2.exe", ExecutableFormat::Ne, false, 1, 0},
                                         ProbeCase{"ne-library.dll", ExecutableFormat::Ne, true, 2, 0x030A},
                                         ProbeCase{"le.vxd", ExecutableFormat::Le, false, 0, 0},
                                         ProbeCase{"lx.exe", ExecutableFormat::Lx, false, 0, 0},
                                         ProbeCase{"dos.exe", ExecutableFormat::Dos, false, 0, 0},
                                         ProbeCase{"mz-short.bin", ExecutableFormat::Dos, false, 0, 0},
                                         ProbeCase{"trunc-optional.exe", ExecutableFormat::BadPe, false, 0, 0},
                                         ProbeCase{"text.txt", std::nullopt, false, 0, 0}),
                         [](const auto& info) {
                             std::string name = info.param.Name;
                             std::replace(name.begin(), name.end(), '.', '_');
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// A sparse file past 4 GiB: its size comes through the kernel32 file functions in full; a PE
// at its start still loads and its trailing range reaches past 4 GiB; an MZ header whose new
// header lies near 4 GiB is refused cleanly.
TEST(PeImage, SparseFileLargerThanFourGiB)
{
    const testsupport::TempDir dir;
    constexpr uint64_t Size = (uint64_t{1} << 32) + 4096;
    const auto gui = testsupport::ReadBytes(PeFixture("gui.exe"));

    const auto makeSparse = [&](const std::string& name, const std::vector<uint8_t>& head) {
        const fs::path path = dir / name;
        testsupport::WriteBytes(path, head);
        if (truncate(path.c_str(), static_cast<off_t>(Size)) != 0)
            throw std::runtime_error("truncate failed");
        return path;
    };
    const fs::path large = makeSparse("large.exe", gui);
    std::vector<uint8_t> farHeader(64, 0);
    farHeader[0] = 'M';
    farHeader[1] = 'Z';
    farHeader[0x3C] = 0xF0; // e_lfanew = 0xFFFFFFF0: inside the file, pointing at zeros
    farHeader[0x3D] = farHeader[0x3E] = farHeader[0x3F] = 0xFF;
    const fs::path far = makeSparse("far.exe", farHeader);

    const std::u16string widePath = std::u16string(large.u16string());
    const HANDLE handle = CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(handle, &info));
    EXPECT_EQ((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow, Size);
    CloseHandle(handle);

    const OwnedFile file = *OwnedFile::Open(large.string());
    EXPECT_EQ(file.source().size(), Size);
    const PeImage image = LoadFixture(file);
    const auto ranges = image.AuthenticodeRanges();
    ASSERT_TRUE(ranges);
    EXPECT_EQ(ranges->back().Offset + ranges->back().Length, Size);
    EXPECT_GT(ranges->back().Length, uint64_t{UINT32_MAX});

    const OwnedFile farFile = *OwnedFile::Open(far.string());
    Error error = Error::None;
    EXPECT_FALSE(PeImage::Load(farFile.source(), &error));
    EXPECT_EQ(error, Error::NotPe);
    EXPECT_EQ(ProbeExecutable(farFile.source())->Format, ExecutableFormat::Dos);
}

// Every fixture, the malformed ones and whatever the fuzzer found troublesome: each must load (or
// not) without a fault, and whatever the reader answers must lie inside the file.
TEST(PeImage, EveryFixtureAnswersInsideTheFile)
{
    std::vector<fs::directory_entry> inputs;
    for (const char* folder : {"pe", "malformed/pe"})
        if (fs::is_directory(testsupport::Fixture(folder)))
            for (const auto& entry : fs::directory_iterator(testsupport::Fixture(folder)))
                inputs.push_back(entry);
    size_t files = 0;
    for (const auto& entry : inputs) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md")
            continue;
        ++files;
        const OwnedFile file = *OwnedFile::Open(entry.path().string());
        const uint64_t size = file.source().size();
        (void)ProbeExecutable(file.source());
        const auto image = PeImage::Load(file.source());
        if (!image)
            continue;
        if (const auto resource = image->FindResource(ResourceKey::Id(RtVersion), ResourceKey::First(), ResourceKey::First())) {
            EXPECT_TRUE(file.source().Has(resource->Offset, resource->Size)) << entry.path();
        }
        if (const auto entries = image->Certificates()) {
            for (const CertificateEntry& e : *entries) {
                EXPECT_TRUE(file.source().Has(e.Offset, e.Length)) << entry.path();
            }
        }
        if (const auto ranges = image->AuthenticodeRanges()) {
            for (const ByteRange& r : *ranges) {
                EXPECT_TRUE(r.Offset <= size && r.Length <= size - r.Offset) << entry.path();
            }
        }
    }
    EXPECT_GT(files, 0u);
}
