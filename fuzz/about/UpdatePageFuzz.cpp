// The update page as the check reads it: the lines of arbitrary text parsed for their META tags
// (ParseInfo, ExtractContent) and the published version compared with the running one
// (IsNewVersion), in its three formats.
#include "about/ProgramVersion.h"
#include "about/UpdateCheck.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdint>

namespace {

class PageReader final : public TUpdateCheck {
public:
    using TUpdateCheck::IsNewVersion;
    using TUpdateCheck::ParseInfo;
    using TUpdateCheck::SetInfo;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_update_page";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList lines = text.split(u'\n');
    for (const QString& line : lines)
        (void)ExtractContent(line);
    // The running version in its three forms: empty, numeric, and with a pre-release mark.
    for (const char* running : {"", "1.2.3.4", "1.0.0.0 BETA 7"}) {
        ProgramVersionInfo.FileVersion = QString::fromLatin1(running);
        PageReader reader;
        reader.SetInfo(lines);
        reader.ParseInfo();
        (void)reader.IsNewVersion();
    }
    return 0;
}
