#include "layout/LayoutManagerValues.h"

#include "layout/LayoutManagerControl.h"
#include "layout/LayoutManagerStorage.h"
#include "platform/common/WinStr.h"
#include "support/AnsiText.h"
#include "support/DateTime.h"

#include <QDateTime>
#include <QStringEncoder>

#include <string>
#include <string_view>
#include <typeinfo>

namespace {

// The storage operation a value's kind is written and read with.
enum class TValueKind { Integer, Float, DateTime, Bool, Text };

TValueKind KindOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong: return TValueKind::Integer;
    case QMetaType::Float:
    case QMetaType::Double: return TValueKind::Float;
    case QMetaType::QDateTime: return TValueKind::DateTime;
    case QMetaType::Bool: return TValueKind::Bool;
    default:
        // Texts, empty values, and the unsigned 64-bit integers a signed one cannot hold.
        return TValueKind::Text;
    }
}

// Date-times are wall-clock values without a zone, as the storage keeps them.
TDateTime ToDateTime(const QDateTime& value)
{
    const QDate d = value.date();
    const QTime t = value.time();
    if (!d.isValid() || d.year() < 1 || d.year() > 9999)
        return 0;
    return EncodeDateTime({d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()});
}

QDateTime FromDateTime(TDateTime value)
{
    TDateTimeParts p;
    if (!DecodeDateTime(value, p))
        return {};
    return QDateTime(QDate(p.Year, p.Month, p.Day), QTime(p.Hour, p.Minute, p.Second, p.MilliSecond));
}

void Combine(QByteArray& bytes, const QByteArray& key)
{
    const qsizetype n = key.size();
    if (n == 0)
        return;
    for (qsizetype j = 0; j < bytes.size(); ++j)
        bytes[j] = static_cast<char>(bytes[j] ^ key[(j + 1) % n]);
}

// One character at a time, so that what the code page cannot hold is known character by
// character: the converter's own substitute differs between code pages.
QByteArray ToCodePage(const QString& text, unsigned codePage)
{
    QStringEncoder encoder(("CP" + std::to_string(codePage)).c_str());
    if (!encoder.isValid())
        return {};
    const QString composed = text.normalized(QString::NormalizationForm_C);
    QByteArray out;
    for (qsizetype i = 0; i < composed.size();) {
        const qsizetype length = composed[i].isHighSurrogate() && i + 1 < composed.size() ? 2 : 1;
        const QStringView character = QStringView(composed).sliced(i, length);
        i += length;
        encoder.resetState();
        const QByteArray bytes = encoder(character);
        if (!encoder.hasError())
            out += bytes;
        else if (character[0].category() != QChar::Mark_NonSpacing)
            out += '?';
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TLayoutManagerCipherer

QString TLayoutManagerCipherer::EncryptText(const QString& text, const QString& key)
{
    if (text.isEmpty())
        return {};
    QByteArray bytes = WideToAnsi(text, AnsiCodePage);
    Combine(bytes, WideToAnsi(key, AnsiCodePage));
    return StringToHex(bytes);
}

QString TLayoutManagerCipherer::DecryptText(const QString& text, const QString& key)
{
    if (text.isEmpty())
        return {};
    QByteArray bytes = HexToString(text);
    Combine(bytes, WideToAnsi(key, AnsiCodePage));
    // Back through the code page the text was enciphered in, so that what it can hold comes back
    // as it went.
    return AnsiToString(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

QByteArray TLayoutManagerCipherer::WideToAnsi(const QString& text, unsigned codePage)
{
    if (text.isEmpty())
        return {};
    if (codePage == Utf8CodePage)
        return text.toUtf8();
    if (codePage == AnsiCodePage)
        return StringToAnsi(text.normalized(QString::NormalizationForm_C));
    return ToCodePage(text, codePage);
}

QString TLayoutManagerCipherer::StringToHex(const QByteArray& source)
{
    return QString::fromLatin1(source.toHex()).toUpper();
}

QByteArray TLayoutManagerCipherer::HexToString(const QString& source)
{
    QByteArray out;
    out.reserve((source.size() + 1) / 2);
    for (qsizetype i = 0; i < source.size(); i += 2) {
        int byte = winstr::HexDigit(source[i].unicode());
        if (byte < 0)
            return {};
        if (i + 1 < source.size()) {
            const int low = winstr::HexDigit(source[i + 1].unicode());
            if (low < 0)
                return {};
            byte = byte * 16 + low;
        }
        out += static_cast<char>(byte);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// TLayoutManagerValue

TLayoutManagerValue::TLayoutManagerValue(TLayoutManagerValues* collection) : FCollection(collection) {}

TLayoutManagerValue::~TLayoutManagerValue() = default;

void TLayoutManagerValue::Assign(const TLayoutManagerValue& source)
{
    if (&source == this)
        return;
    FValue = source.FValue;
    SetDisplayName(source.FName);
    FKey = source.FKey;
}

void TLayoutManagerValue::Clear()
{
    FValue.clear();
}

QString TLayoutManagerValue::GetDisplayName() const
{
    return FName.isEmpty() ? ClassNameOf(typeid(*this)) : FName;
}

void TLayoutManagerValue::SetDisplayName(const QString& value)
{
    if (!value.isEmpty() && value.compare(FName, Qt::CaseInsensitive) != 0 && FCollection &&
        FCollection->IndexOf(value) >= 0)
        throw ELayoutManager(QStringLiteral("TLayoutManagerValue: Duplicates not allowed"));
    FName = value;
}

std::shared_ptr<ILayoutManagerStorage> TLayoutManagerValue::Storage() const
{
    const TLayoutManager* manager = FCollection ? FCollection->LayoutManager() : nullptr;
    return manager ? manager->Storage() : nullptr;
}

void TLayoutManagerValue::Save()
{
    const std::shared_ptr<ILayoutManagerStorage> storage = Storage();
    if (!storage)
        return;
    const QString& section = FCollection->Section();
    const std::shared_ptr<ILayoutManagerCipherer>& cipherer = FCollection->Cipherer();
    CloseAfter(*storage, [&] {
        if (!FKey.isEmpty() && cipherer) {
            storage->WriteString(section, FName, cipherer->EncryptText(FValue.toString(), FKey));
            return;
        }
        switch (KindOf(FValue)) {
        case TValueKind::Integer: storage->WriteInteger(section, FName, FValue.toLongLong()); break;
        case TValueKind::Float: storage->WriteFloat(section, FName, FValue.toDouble()); break;
        case TValueKind::DateTime: storage->WriteDateTime(section, FName, ToDateTime(FValue.toDateTime())); break;
        case TValueKind::Bool: storage->WriteBool(section, FName, FValue.toBool()); break;
        case TValueKind::Text: storage->WriteString(section, FName, FValue.toString()); break;
        }
    });
}

void TLayoutManagerValue::Restore()
{
    const std::shared_ptr<ILayoutManagerStorage> storage = Storage();
    if (!storage)
        return;
    const QString& section = FCollection->Section();
    const std::shared_ptr<ILayoutManagerCipherer>& cipherer = FCollection->Cipherer();
    // The current value, in the kind it is read back in, is the default.
    CloseAfter(*storage, [&] {
        if (!FKey.isEmpty() && cipherer) {
            const QString current = cipherer->EncryptText(FValue.toString(), FKey);
            FValue = cipherer->DecryptText(storage->ReadString(section, FName, current), FKey);
            return;
        }
        switch (KindOf(FValue)) {
        case TValueKind::Integer:
            FValue = QVariant::fromValue<qint64>(storage->ReadInteger(section, FName, FValue.toLongLong()));
            break;
        case TValueKind::Float: FValue = storage->ReadFloat(section, FName, FValue.toDouble()); break;
        case TValueKind::DateTime:
            FValue = FromDateTime(storage->ReadDateTime(section, FName, ToDateTime(FValue.toDateTime())));
            break;
        case TValueKind::Bool: FValue = storage->ReadBool(section, FName, FValue.toBool()); break;
        case TValueKind::Text: FValue = storage->ReadString(section, FName, FValue.toString()); break;
        }
    });
}

// ---------------------------------------------------------------------------------------------
// TLayoutManagerValues

TLayoutManagerValues::TLayoutManagerValues(TLayoutManager* owner)
    : FOwner(owner), FCipherer(std::make_shared<TLayoutManagerCipherer>()),
      FCph(std::static_pointer_cast<TLayoutManagerCipherer>(FCipherer))
{
}

TLayoutManagerValues::~TLayoutManagerValues() = default;

void TLayoutManagerValues::SetCipherer(std::shared_ptr<ILayoutManagerCipherer> value)
{
    FCipherer = value ? std::move(value) : FCph;
}

void TLayoutManagerValues::CheckIndex(int index) const
{
    if (index < 0 || index >= Count())
        throw ELayoutManager(QStringLiteral("List index out of bounds (%1)").arg(index));
}

TLayoutManagerValue* TLayoutManagerValues::GetItem(int index) const
{
    CheckIndex(index);
    return FItems[static_cast<size_t>(index)].get();
}

void TLayoutManagerValues::SetItem(int index, const TLayoutManagerValue& value)
{
    GetItem(index)->Assign(value);
}

int TLayoutManagerValues::IndexOf(const QString& name) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i]->FName.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

TLayoutManagerValue* TLayoutManagerValues::GetValue(const QString& name) const
{
    const int index = IndexOf(name);
    return index < 0 ? nullptr : FItems[static_cast<size_t>(index)].get();
}

void TLayoutManagerValues::SetValue(const QString& name, const TLayoutManagerValue& value)
{
    if (TLayoutManagerValue* item = GetValue(name))
        item->Assign(value);
}

QVariant TLayoutManagerValues::GetValueByName(const QString& name) const
{
    const TLayoutManagerValue* item = GetValue(name);
    return item ? item->Value() : QVariant();
}

void TLayoutManagerValues::SetValueByName(const QString& name, const QVariant& value)
{
    if (TLayoutManagerValue* item = GetValue(name))
        item->SetValue(value);
    else
        AddItem(name, value, {});
}

TLayoutManagerValue* TLayoutManagerValues::AddItem()
{
    FItems.push_back(std::make_unique<TLayoutManagerValue>(this));
    return FItems.back().get();
}

void TLayoutManagerValues::AddItem(const QString& name, const QVariant& value, const QString& key)
{
    if (IndexOf(name) >= 0)
        return;
    TLayoutManagerValue* item = AddItem();
    item->FName = name;
    item->FValue = value;
    item->FKey = key;
}

void TLayoutManagerValues::Delete(int index)
{
    CheckIndex(index);
    FItems.erase(FItems.begin() + index);
}

void TLayoutManagerValues::Clear()
{
    FItems.clear();
}

void TLayoutManagerValues::Assign(const TLayoutManagerValues& source)
{
    if (&source == this)
        return;
    Clear();
    for (const std::unique_ptr<TLayoutManagerValue>& item : source.FItems)
        AddItem()->Assign(*item);
}

void TLayoutManagerValues::Save()
{
    for (const std::unique_ptr<TLayoutManagerValue>& item : FItems)
        item->Save();
}

void TLayoutManagerValues::Restore()
{
    for (const std::unique_ptr<TLayoutManagerValue>& item : FItems)
        item->Restore();
}
