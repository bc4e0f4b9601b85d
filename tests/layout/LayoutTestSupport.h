// What the layout tests share: an application on screens of known sizes, an in-memory storage
// that records every call made to it, and the forms and components the tests register.
#pragma once

#include "layout/LayoutManagerControl.h"
#include "layout/LayoutManagerForm.h"
#include "layout/LayoutManagerStorage.h"
#include "tests/support/QtApplication.h"

#include <QChar>
#include <QStringList>
#include <QWidget>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace layouttest {

// The test program's application on offscreen screens as the JSON of the offscreen platform
// describes them ({"screens": [{"name", "x", "y", "width", "height", "logicalDpi"}, ...]}), so
// that section names and monitor numbers are known. Called before anything else makes the
// application.
inline QApplication& ApplicationWithScreens(const std::string& json)
{
    const std::filesystem::path config =
        std::filesystem::temp_directory_path() / ("tessera-layout-screens-" + std::to_string(getpid()) + ".json");
    std::ofstream(config) << json;
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + config.string().c_str());
    QApplication& application = testsupport::Application();
    std::filesystem::remove(config);
    return application;
}

struct CaseInsensitiveLess {
    bool operator()(const QString& a, const QString& b) const { return a.compare(b, Qt::CaseInsensitive) < 0; }
};

// Values are kept as text, sections and names ignoring case. Calls are logged as
// "Operation(argument,argument,...)", numbers in decimal, Booleans as 0 and 1.
class RecordingStorage final : public ILayoutManagerStorage {
public:
    using Section = std::map<QString, QString, CaseInsensitiveLess>;

    void ReadSections(QStringList& list) override
    {
        Log("ReadSections", {});
        list.clear();
        for (const auto& [name, values] : Sections)
            list.append(name);
    }
    void ReadSectionValues(const QString& section, QStringList& list) override
    {
        Log("ReadSectionValues", {section});
        list.clear();
        for (const auto& [name, value] : Values(section))
            list.append(name + u'=' + value);
    }
    bool SectionExists(const QString& section) override
    {
        Log("SectionExists", {section});
        const auto it = Sections.find(section);
        return it != Sections.end() && !it->second.empty();
    }
    bool ValueExists(const QString& section, const QString& name) override
    {
        Log("ValueExists", {section, name});
        return Find(section, name) != nullptr;
    }
    void WriteInteger(const QString& section, const QString& name, int64_t value) override
    {
        Write("WriteInteger", section, name, QString::number(value));
    }
    void WriteString(const QString& section, const QString& name, const QString& value) override
    {
        Write("WriteString", section, name, value);
    }
    void WriteFloat(const QString& section, const QString& name, double value) override
    {
        Write("WriteFloat", section, name, QString::number(value, 'g', 17));
    }
    void WriteDateTime(const QString& section, const QString& name, TDateTime value) override
    {
        Write("WriteDateTime", section, name, QString::number(value, 'g', 17));
    }
    void WriteBool(const QString& section, const QString& name, bool value) override
    {
        Write("WriteBool", section, name, value ? QStringLiteral("1") : QStringLiteral("0"));
    }
    int64_t ReadInteger(const QString& section, const QString& name, int64_t defaultValue) override
    {
        Log("ReadInteger", {section, name});
        ThrowIfFailing("ReadInteger");
        bool ok = false;
        const QString* text = Find(section, name);
        const int64_t value = text ? text->toLongLong(&ok) : 0;
        return ok ? value : defaultValue;
    }
    QString ReadString(const QString& section, const QString& name, const QString& defaultValue) override
    {
        Log("ReadString", {section, name});
        const QString* text = Find(section, name);
        return text ? *text : defaultValue;
    }
    double ReadFloat(const QString& section, const QString& name, double defaultValue) override
    {
        Log("ReadFloat", {section, name});
        bool ok = false;
        const QString* text = Find(section, name);
        const double value = text ? text->toDouble(&ok) : 0;
        return ok ? value : defaultValue;
    }
    TDateTime ReadDateTime(const QString& section, const QString& name, TDateTime defaultValue) override
    {
        Log("ReadDateTime", {section, name});
        bool ok = false;
        const QString* text = Find(section, name);
        const double value = text ? text->toDouble(&ok) : 0;
        return ok ? value : defaultValue;
    }
    bool ReadBool(const QString& section, const QString& name, bool defaultValue) override
    {
        Log("ReadBool", {section, name});
        const QString* text = Find(section, name);
        return text ? *text != QStringLiteral("0") : defaultValue;
    }
    void ReadSection(const QString& section, QStringList& list) override
    {
        Log("ReadSection", {section});
        list.clear();
        for (const auto& [name, value] : Values(section))
            list.append(name);
    }
    void EraseSection(const QString& section, bool withNested) override
    {
        Log("EraseSection", {section, withNested ? QStringLiteral("1") : QStringLiteral("0")});
        Sections.erase(section);
        if (withNested)
            std::erase_if(Sections, [&](const auto& entry) {
                return entry.first.startsWith(section + u'\\', Qt::CaseInsensitive);
            });
    }
    void ClearSection(const QString& section) override
    {
        Log("ClearSection", {section});
        Sections.erase(section);
    }
    void DeleteValue(const QString& section, const QString& name) override
    {
        Log("DeleteValue", {section, name});
        const auto it = Sections.find(section);
        if (it != Sections.end())
            it->second.erase(name);
    }
    void UpdateFile() override { Log("UpdateFile", {}); }
    void Open(bool readOnly) override { Log("Open", {readOnly ? QStringLiteral("1") : QStringLiteral("0")}); }
    void Close() override { Log("Close", {}); }

    // Puts a value in place without logging it.
    void Put(const QString& section, const QString& name, const QString& value) { Sections[section][name] = value; }
    [[nodiscard]] const QString* Find(const QString& section, const QString& name) const
    {
        const auto it = Sections.find(section);
        if (it == Sections.end())
            return nullptr;
        const auto value = it->second.find(name);
        return value == it->second.end() ? nullptr : &value->second;
    }
    [[nodiscard]] Section Values(const QString& section) const
    {
        const auto it = Sections.find(section);
        return it == Sections.end() ? Section() : it->second;
    }
    // The logged calls of one operation.
    [[nodiscard]] QStringList CallsOf(const QString& operation) const
    {
        QStringList calls;
        for (const QString& call : Calls)
            if (call.startsWith(operation + u'('))
                calls.append(call);
        return calls;
    }
    // The logged writes, of any kind.
    [[nodiscard]] QStringList Writes() const
    {
        QStringList writes;
        for (const QString& call : Calls)
            if (call.startsWith(QStringLiteral("Write")) || call.startsWith(QStringLiteral("DeleteValue")) ||
                call.startsWith(QStringLiteral("ClearSection")) || call.startsWith(QStringLiteral("EraseSection")))
                writes.append(call);
        return writes;
    }

    std::map<QString, Section, CaseInsensitiveLess> Sections;
    QStringList Calls;
    // An operation that raises, to see failures pass through.
    QString FailingOperation;
    // Sees every call as it is made.
    std::function<void(const QString& call)> Observer;

private:
    void Log(const char* operation, const QStringList& arguments)
    {
        Calls.append(QString::fromLatin1(operation) + u'(' + arguments.join(u',') + u')');
        if (Observer)
            Observer(Calls.last());
    }
    void Write(const char* operation, const QString& section, const QString& name, const QString& value)
    {
        Log(operation, {section, name, value});
        Sections[section][name] = value;
    }
    void ThrowIfFailing(const char* operation) const
    {
        if (FailingOperation == QLatin1StringView(operation))
            throw std::runtime_error("storage failed");
    }
};

} // namespace layouttest

// A layout-aware form whose window-system handlers the tests call as the window system would.
// Outside any namespace, like the components below, so that sections carry plain class names.
class TfrmLayout : public TLMForm {
public:
    explicit TfrmLayout(QWidget* parent = nullptr) : TLMForm(parent)
    {
        resize(400, 300);
        Loaded();
    }
    using TLMForm::DensityChanged;
    using TLMForm::DisplayChanged;
    using TLMForm::EnterSizeMove;
    using TLMForm::ExitSizeMove;
};

class TfrmOther : public TfrmLayout {
public:
    using TfrmLayout::TfrmLayout;
};

// A control publishing a property of every kind the manager keeps, and one it does not (Area).
class TTestPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Number READ Number WRITE SetNumber)
    Q_PROPERTY(uint Unsigned READ Unsigned WRITE SetUnsigned)
    Q_PROPERTY(qint64 Big READ Big WRITE SetBig)
    Q_PROPERTY(double Ratio READ Ratio WRITE SetRatio)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QChar Letter READ Letter WRITE SetLetter)
    Q_PROPERTY(bool Flag READ Flag WRITE SetFlag)
    Q_PROPERTY(Qt::FocusPolicy Policy READ Policy WRITE SetPolicy)
    Q_PROPERTY(Qt::Alignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(int Align READ Align WRITE SetAlign)
    Q_PROPERTY(TStringList* Items READ Items CONSTANT)
    Q_PROPERTY(QWidget* Buddy READ Buddy WRITE SetBuddy)
    Q_PROPERTY(QRect Area READ Area WRITE SetArea)

public:
    explicit TTestPanel(QWidget* parent = nullptr) : QWidget(parent), FItems(new TStringList(this))
    {
        FItems->setObjectName(QStringLiteral("Items"));
    }

    int Number() const { return FNumber; }
    void SetNumber(int v) { FNumber = v; }
    uint Unsigned() const { return FUnsigned; }
    void SetUnsigned(uint v) { FUnsigned = v; }
    qint64 Big() const { return FBig; }
    void SetBig(qint64 v) { FBig = v; }
    double Ratio() const { return FRatio; }
    void SetRatio(double v) { FRatio = v; }
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& v) { FCaption = v; }
    QChar Letter() const { return FLetter; }
    void SetLetter(QChar v) { FLetter = v; }
    bool Flag() const { return FFlag; }
    void SetFlag(bool v) { FFlag = v; }
    Qt::FocusPolicy Policy() const { return FPolicy; }
    void SetPolicy(Qt::FocusPolicy v) { FPolicy = v; }
    Qt::Alignment Alignment() const { return FAlignment; }
    void SetAlignment(Qt::Alignment v) { FAlignment = v; }
    int Align() const { return FAlign; }
    void SetAlign(int v) { FAlign = v; }
    TStringList* Items() const { return FItems; }
    QWidget* Buddy() const { return FBuddy; }
    void SetBuddy(QWidget* v) { FBuddy = v; }
    QRect Area() const { return FArea; }
    void SetArea(const QRect& v) { FArea = v; }

private:
    int FNumber = 0;
    uint FUnsigned = 0;
    qint64 FBig = 0;
    double FRatio = 0;
    QString FCaption;
    QChar FLetter;
    bool FFlag = false;
    Qt::FocusPolicy FPolicy = Qt::NoFocus;
    Qt::Alignment FAlignment;
    int FAlign = 0;
    TStringList* FItems;
    QWidget* FBuddy = nullptr;
    QRect FArea;
};
