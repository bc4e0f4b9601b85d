// Every file of the malformed corpus (tests/fixtures/malformed, the compound files' malformed
// folder, and large ones made here) through tessera-report: the report prescribed for an
// unreadable, unsupported or unsigned file, never a crash, and never a valid signature.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> CorpusFiles()
{
    std::vector<fs::path> files;
    for (const fs::path& folder : {Fixture("malformed"), Fixture("compound/malformed")})
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file() && entry.path().extension() != ".md" && entry.path().extension() != ".py")
                files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

// The first lines a report may begin with, by the name's extension.
bool BeginsAsPrescribed(const fs::path& file, const std::string& out, int exitCode)
{
    const std::string ext = file.extension().string();
    const std::string first = FirstLine(out);
    // Nothing: a cancelled prompt, or an error before the first line.
    if (out.empty())
        return ext == ".pfx" || exitCode == 1;
    if (first.rfind("Company: ", 0) == 0 || first == "File type is not supported")
        return true;
    if (ext == ".pfx")
        return first == "File contains no certificate or password is not valid" ||
               first.rfind("ERROR: The key container's protection is out of bounds", 0) == 0 ||
               first.rfind("Certificate X509", 0) == 0;
    if (ext == ".cer" || ext == ".der" || ext == ".pem" || ext == ".p7b" || ext == ".crt" || ext == ".p7c")
        return first == "File contains no certificate" || first.rfind("Certificate X509", 0) == 0;
    // Signed containers: their verdict comes first.
    if (ext == ".cab" || ext == ".ps1" || ext == ".msix" || ext == ".cat")
        return first == "File is not signed" || first.rfind("ERROR: ", 0) == 0;
    // Compound files: the summary properties ("Name: value") or none, then the verdict.
    return ext == ".msi" || ext == ".cfb" || ext == ".doc";
}

void Check(const fs::path& file, const std::string& shownAs)
{
    const RunResult r = RunProgram(BinaryDir() / "tessera-report", {file.string()}, "tessera\n");
    ASSERT_TRUE(r.ExitCode == 0 || r.ExitCode == 1) << shownAs << ": exit " << r.ExitCode << "\n" << r.Err;
    if (r.ExitCode == 1) {
        // An error that stops the report: one line after the report so far.
        EXPECT_EQ(r.Err.rfind("tessera-report: ", 0), 0u) << shownAs << ": " << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << shownAs << ": " << r.Err;
    } else {
        EXPECT_EQ(r.Err, "") << shownAs;
    }
    EXPECT_TRUE(BeginsAsPrescribed(file, r.Out, r.ExitCode)) << shownAs << ": " << FirstLine(r.Out);
    const bool verdict = r.Out.find("\nFile is not signed\n") != std::string::npos ||
                         r.Out.find("\nERROR: ") != std::string::npos;
    if (FirstLine(r.Out).rfind("Company: ", 0) == 0 && r.ExitCode == 0) {
        EXPECT_TRUE(verdict) << shownAs << " has no verdict:\n" << r.Out;
    }
    EXPECT_EQ(r.Out.find("\nPublisher: "), std::string::npos) << shownAs << " was judged validly signed";
}

TEST(MalformedFiles, EachGetsThePrescribedReport)
{
    const std::vector<fs::path> files = CorpusFiles();
    EXPECT_GE(files.size(), 40u);
    for (const fs::path& file : files)
        Check(file, fs::relative(file, Fixture("")).string());
}

// Too large to keep among the fixtures: 64 MiB of armoured-text markers that never end, made
// here as the benchmark makes them.
TEST(MalformedFiles, LargeTextsOfMarkersThatNeverEnd)
{
    TempDir dir;
    const std::string unit = "-----BEGIN CERTIFICATE-----\n";
    const fs::path file = dir / "markers.pem";
    {
        std::ofstream out(file, std::ios::binary);
        std::string chunk;
        while (chunk.size() < (1u << 20))
            chunk += unit;
        for (size_t written = 0; written < (64u << 20); written += chunk.size())
            out << chunk;
    }
    const RunResult r = RunProgram(BinaryDir() / "tessera-report", {file.string()});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, "File contains no certificate\n");
}

// DER of a tag and content, the length in as few bytes as it takes.
std::string Der(uint8_t tag, const std::string& content)
{
    std::string out(1, static_cast<char>(tag));
    if (content.size() < 0x80) {
        out += static_cast<char>(content.size());
    } else {
        std::string length;
        for (size_t n = content.size(); n > 0; n >>= 8)
            length.insert(length.begin(), static_cast<char>(n & 0xFF));
        out += static_cast<char>(0x80 | length.size());
        out += length;
    }
    return out + content;
}

// Too large to keep among the fixtures: a catalog listing a million members (a tag each), made
// here as the benchmark makes it.
TEST(MalformedFiles, ACatalogListingAMillionMembers)
{
    std::string members;
    members.reserve(8u << 20);
    for (uint32_t i = 0; i < 1000000; ++i) {
        const std::string tag{static_cast<char>(i >> 24), static_cast<char>(i >> 16), static_cast<char>(i >> 8),
                              static_cast<char>(i)};
        members += Der(0x30, Der(0x04, tag));
    }
    const std::string oidCtl("\x06\x09\x2b\x06\x01\x04\x01\x82\x37\x0a\x01", 11);
    const std::string oidCatalogList("\x06\x0a\x2b\x06\x01\x04\x01\x82\x37\x0c\x01\x01", 12);
    const std::string oidCatalogV1("\x06\x0a\x2b\x06\x01\x04\x01\x82\x37\x0c\x01\x02", 12);
    const std::string oidSignedData("\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02", 11);
    const std::string ctl = Der(0x30, Der(0x30, oidCatalogList) + Der(0x04, std::string(16, '\x01')) +
                                          Der(0x17, "250101120000Z") + Der(0x30, oidCatalogV1 + std::string("\x05\x00", 2)) +
                                          Der(0x30, members));
    const std::string signedData = Der(0x30, Der(0x02, std::string(1, '\x01')) + Der(0x31, "") +
                                                 Der(0x30, oidCtl + Der(0xA0, ctl)) + Der(0x31, ""));
    TempDir dir;
    const fs::path file = dir / "million.cat";
    WriteText(file, Der(0x30, oidSignedData + Der(0xA0, signedData)));
    const RunResult r = RunProgram(BinaryDir() / "tessera-report", {file.string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    // Nobody signed it: a catalog without a signature (bench/malformed-files.py times it).
    EXPECT_EQ(r.Out, "File is not signed\n\n");
}

} // namespace
