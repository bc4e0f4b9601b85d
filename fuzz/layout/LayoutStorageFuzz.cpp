// Stored layouts are untrusted: an INI file of arbitrary bytes read through the storage (sections,
// values of every kind, nested sections), and the cipherer's HexToString and DecryptText on the
// values it holds.
#include "fuzz/common/FuzzFolder.h"
#include "layout/LayoutManagerStorage.h"
#include "layout/LayoutManagerValues.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Path()
{
    static const FuzzFolder folder("layout");
    static const std::string path = folder.Path() + "/layout.ini";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_layout_storage";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    if (FILE* f = std::fopen(Path().c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    TLayoutManagerCipherer cipherer;
    {
        TLayoutManagerIniStorage storage(QString::fromStdString(Path()));
        storage.Open(true);
        QStringList sections;
        storage.ReadSections(sections);
        for (const QString& section : sections) {
            QStringList values;
            storage.ReadSectionValues(section, values);
            QStringList names;
            storage.ReadSection(section, names);
            for (const QString& value : names) {
                const QString text = storage.ReadString(section, value, QString());
                (void)storage.ReadInteger(section, value, 0);
                (void)storage.ReadFloat(section, value, 0);
                (void)storage.ReadDateTime(section, value, 0);
                (void)storage.ReadBool(section, value, false);
                (void)TLayoutManagerCipherer::HexToString(text);
                (void)cipherer.DecryptText(text, QStringLiteral("k"));
                (void)cipherer.DecryptText(text, value);
            }
        }
        storage.Close();
    }
    // The bytes themselves as a stored hex text.
    const QString raw = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)TLayoutManagerCipherer::HexToString(raw);
    (void)cipherer.DecryptText(raw, QStringLiteral("tessera"));
    return 0;
}
