// The report of every certificate the system ships agrees with the openssl command, a peer
// nobody here wrote, on serial, thumbprint, validity and subject.
#include "app/Inspection.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <map>
#include <sstream>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const bool LocaleSet = std::setlocale(LC_ALL, "") != nullptr;

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// openssl's "Jan  1 00:00:00 2019 GMT" as the report writes dates in the C locale (UTC).
std::string ReportDate(const std::string& openssl)
{
    std::istringstream in(openssl);
    std::string month, time, year;
    int day = 0;
    in >> month >> day >> time >> year;
    std::string text = std::to_string(day) + " " + month + " " + year;
    if (time != "00:00:00")
        text += " " + time;
    return text;
}

std::string WithoutQuotes(std::string s)
{
    s.erase(std::remove(s.begin(), s.end(), '"'), s.end());
    return s;
}


TEST(CaCrossCheck, ReportAgreesWithOpenSsl)
{
    const fs::path root = "/usr/share/ca-certificates";
    ASSERT_TRUE(fs::exists(root)) << "the ca-certificates package provides the certificates";
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().extension() != ".crt")
            continue;
        const RunResult peer =
            RunProgram("/usr/bin/openssl", {"x509", "-in", entry.path().string(), "-noout", "-serial", "-fingerprint",
                                            "-sha1", "-startdate", "-enddate", "-subject", "-nameopt",
                                            "utf8,sep_comma_plus_space,nofname"});
        ASSERT_EQ(peer.ExitCode, 0) << peer.Err;
        std::map<std::string, std::string> expected;
        std::istringstream lines(peer.Out);
        for (std::string line; std::getline(lines, line);) {
            const auto eq = line.find('=');
            // Key names differ in case between openssl versions.
            expected[Lower(line.substr(0, eq))] = line.substr(eq + 1);
        }

        RecordingSink report;
        RecordingHost host;
        QString password;
        InspectFile(QString::fromStdString(entry.path().string()), password, report, host);
        std::map<std::string, std::string> actual;
        for (const QString& line : report.Lines) {
            const qsizetype colon = line.indexOf(QStringLiteral(": "));
            if (colon > 0)
                actual[line.left(colon).toStdString()] = line.mid(colon + 2).toStdString();
        }
        const std::string name = entry.path().filename().string();
        // openssl leaves out a leading zero byte of the encoding and writes upper case.
        std::string serial = actual["Serial"];
        while (serial.size() > 2 && serial.rfind("00", 0) == 0)
            serial.erase(0, 2);
        EXPECT_EQ(serial, Lower(expected["serial"])) << name;
        std::string fingerprint = Lower(expected["sha1 fingerprint"]);
        fingerprint.erase(std::remove(fingerprint.begin(), fingerprint.end(), ':'), fingerprint.end());
        EXPECT_EQ(actual["Thumbprint"], fingerprint) << name;
        EXPECT_EQ(actual["ValidFrom"], ReportDate(expected["notbefore"])) << name;
        EXPECT_EQ(actual["ValidTo"], ReportDate(expected["notafter"])) << name;
        EXPECT_EQ(WithoutQuotes(actual["Subject"]), WithoutQuotes(expected["subject"])) << name;
        ++checked;
    }
    EXPECT_GT(checked, 50);
}

} // namespace
