// Where layouts and stored values go: named values inside sections, a "\" in a section's name
// nesting it below another (TwndMain\Memo). The layout manager knows only the interface; a program
// that wants layouts kept assigns a storage, such as the INI file below.
#pragma once

#include "support/DateTime.h"

#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class ILayoutManagerStorage {
public:
    virtual ~ILayoutManagerStorage() = default;

    // Every section that holds values, nested ones with their full "\" path.
    virtual void ReadSections(QStringList& list) = 0;
    // The section's values as "name=value" lines.
    virtual void ReadSectionValues(const QString& section, QStringList& list) = 0;
    [[nodiscard]] virtual bool SectionExists(const QString& section) = 0;
    [[nodiscard]] virtual bool ValueExists(const QString& section, const QString& name) = 0;
    virtual void WriteInteger(const QString& section, const QString& name, int64_t value) = 0;
    virtual void WriteString(const QString& section, const QString& name, const QString& value) = 0;
    virtual void WriteFloat(const QString& section, const QString& name, double value) = 0;
    virtual void WriteDateTime(const QString& section, const QString& name, TDateTime value) = 0;
    virtual void WriteBool(const QString& section, const QString& name, bool value) = 0;
    // Reads give their default when the section or the value is absent or unreadable.
    [[nodiscard]] virtual int64_t ReadInteger(const QString& section, const QString& name, int64_t defaultValue) = 0;
    [[nodiscard]] virtual QString ReadString(const QString& section, const QString& name,
                                             const QString& defaultValue) = 0;
    [[nodiscard]] virtual double ReadFloat(const QString& section, const QString& name, double defaultValue) = 0;
    [[nodiscard]] virtual TDateTime ReadDateTime(const QString& section, const QString& name,
                                                 TDateTime defaultValue) = 0;
    [[nodiscard]] virtual bool ReadBool(const QString& section, const QString& name, bool defaultValue) = 0;
    // Replaces the list's lines with the names of the section's values.
    virtual void ReadSection(const QString& section, QStringList& list) = 0;
    // Removes the section's values, and with withNested the sections nested below it as well.
    virtual void EraseSection(const QString& section, bool withNested) = 0;
    // Removes the section's own values; sections nested below it stay.
    virtual void ClearSection(const QString& section) = 0;
    virtual void DeleteValue(const QString& section, const QString& name) = 0;
    // Writes pending changes to the medium.
    virtual void UpdateFile() = 0;
    // Open and Close bracket a series of accesses; reads and writes also work outside them, and
    // Close may come without an Open.
    virtual void Open(bool readOnly) = 0;
    virtual void Close() = 0;
};

Q_DECLARE_INTERFACE(ILayoutManagerStorage, "{3375F075-9F5E-4491-BAF4-B613674984D7}")

// Runs a series of accesses and closes the storage after it, also when an access fails; the
// failure then goes on to the caller.
template <typename Accesses> void CloseAfter(ILayoutManagerStorage& storage, Accesses&& accesses)
{
    try {
        accesses();
    } catch (...) {
        storage.Close();
        throw;
    }
    storage.Close();
}

// An INI file: "[TwndMain\Memo]" sections of "name=value" lines in UTF-8. Values are text (numbers
// in the C locale, Booleans 1 and 0, date-times as ISO 8601 local times); a backslash escapes
// line breaks, tabs, control characters, backslashes and the blanks at either end of a value.
// Characters that would break a line's structure are written as %XX in names. Sections and names
// compare with their case.
//
// The file is input from outside: one larger than MaxFileSize is neither read nor overwritten, a
// line it cannot parse is skipped, and a value that does not parse reads as its default.
class TLayoutManagerIniStorage final : public ILayoutManagerStorage {
public:
    static constexpr int64_t MaxFileSize = 4 * 1024 * 1024;

    explicit TLayoutManagerIniStorage(const QString& fileName);
    ~TLayoutManagerIniStorage() override;
    TLayoutManagerIniStorage(const TLayoutManagerIniStorage&) = delete;
    TLayoutManagerIniStorage& operator=(const TLayoutManagerIniStorage&) = delete;

    [[nodiscard]] QString FileName() const;
    // NoError, AccessError when the file could not be written, FormatError when it could not be
    // read; the last Close or UpdateFile sets it.
    [[nodiscard]] QSettings::Status Status() const;

    void ReadSections(QStringList& list) override;
    void ReadSectionValues(const QString& section, QStringList& list) override;
    [[nodiscard]] bool SectionExists(const QString& section) override;
    [[nodiscard]] bool ValueExists(const QString& section, const QString& name) override;
    void WriteInteger(const QString& section, const QString& name, int64_t value) override;
    void WriteString(const QString& section, const QString& name, const QString& value) override;
    void WriteFloat(const QString& section, const QString& name, double value) override;
    void WriteDateTime(const QString& section, const QString& name, TDateTime value) override;
    void WriteBool(const QString& section, const QString& name, bool value) override;
    [[nodiscard]] int64_t ReadInteger(const QString& section, const QString& name, int64_t defaultValue) override;
    [[nodiscard]] QString ReadString(const QString& section, const QString& name, const QString& defaultValue) override;
    [[nodiscard]] double ReadFloat(const QString& section, const QString& name, double defaultValue) override;
    [[nodiscard]] TDateTime ReadDateTime(const QString& section, const QString& name, TDateTime defaultValue) override;
    [[nodiscard]] bool ReadBool(const QString& section, const QString& name, bool defaultValue) override;
    void ReadSection(const QString& section, QStringList& list) override;
    void EraseSection(const QString& section, bool withNested) override;
    void ClearSection(const QString& section) override;
    void DeleteValue(const QString& section, const QString& name) override;
    void UpdateFile() override;
    // The INI file needs no preparation for either kind of access: QSettings reads it on first
    // use and whenever it changed on disk.
    void Open(bool readOnly) override;
    void Close() override;

private:
    [[nodiscard]] QString ReadText(const QString& section, const QString& name, bool& found) const;
    [[nodiscard]] bool Writable() const;
    void WriteText(const QString& section, const QString& name, const QString& text);

    std::unique_ptr<QSettings> FSettings;
};
