// Named values a layout manager keeps besides the layout (settings a form wants back next time),
// all in one section of the manager's storage, and the cipher that hides values given a key.
#pragma once

#include "support/Exceptions.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>
#include <vector>

class ILayoutManagerStorage;
class TLayoutManager;
class TLayoutManagerValues;

class ELayoutManager : public Exception {
public:
    using Exception::Exception;
};

class ILayoutManagerCipherer {
public:
    virtual ~ILayoutManagerCipherer() = default;
    [[nodiscard]] virtual QString EncryptText(const QString& text, const QString& key) = 0;
    [[nodiscard]] virtual QString DecryptText(const QString& text, const QString& key) = 0;
};

Q_DECLARE_INTERFACE(ILayoutManagerCipherer, "{F37D0452-5F67-4EFD-A5C8-E8C142EFE358}")

// The built-in cipher: the text's "ANSI" bytes combined by exclusive or with the key's, written
// as hexadecimal. It hides a value from a casual reader of the storage, no more.
class TLayoutManagerCipherer : public ILayoutManagerCipherer {
public:
    // The system's "ANSI" code page: the character set of the C library's locale.
    static constexpr unsigned AnsiCodePage = 0;
    static constexpr unsigned Utf8CodePage = 65001;

    // Empty text gives empty text. Byte j of the text meets byte (j + 1) mod n of an n-byte key;
    // an empty key leaves the bytes as they are.
    [[nodiscard]] QString EncryptText(const QString& text, const QString& key) override;
    // The deciphered bytes read in the "ANSI" code page, so that every character it holds comes
    // back as it was enciphered; hexadecimal text that does not read deciphers to empty text.
    [[nodiscard]] QString DecryptText(const QString& text, const QString& key) override;

    // Text in a code page: AnsiCodePage, Utf8CodePage, or a Windows code page number. Except in
    // Utf8CodePage, characters are composed first and what the code page cannot hold becomes "?",
    // though in a numbered code page a non-spacing mark it cannot hold is dropped instead. A code
    // page unknown here gives nothing.
    [[nodiscard]] static QByteArray WideToAnsi(const QString& text, unsigned codePage);
    // Every byte as two upper-case hexadecimal digits.
    [[nodiscard]] static QString StringToHex(const QByteArray& source);
    // Two digits to a byte from the first character on, a last single digit making a byte of its
    // own; empty when any group is not hexadecimal.
    [[nodiscard]] static QByteArray HexToString(const QString& source);
};

// One named value. With a key it is stored enciphered, as text; without, by its kind.
class TLayoutManagerValue {
public:
    explicit TLayoutManagerValue(TLayoutManagerValues* collection = nullptr);
    virtual ~TLayoutManagerValue();
    TLayoutManagerValue(const TLayoutManagerValue&) = delete;
    TLayoutManagerValue& operator=(const TLayoutManagerValue&) = delete;

    // Value, then name, then key; an empty value of the source empties this one.
    void Assign(const TLayoutManagerValue& source);
    // Makes the value empty.
    void Clear();

    // The name, or the class name when there is none.
    [[nodiscard]] QString GetDisplayName() const;
    // Raises ELayoutManager when another value of the collection has the name (ignoring case);
    // the name stays as it was then.
    void SetDisplayName(const QString& value);
    [[nodiscard]] QString Name() const { return GetDisplayName(); }
    void SetName(const QString& value) { SetDisplayName(value); }
    [[nodiscard]] const QVariant& Value() const { return FValue; }
    void SetValue(const QVariant& value) { FValue = value; }
    [[nodiscard]] const QString& Key() const { return FKey; }
    void SetKey(const QString& value) { FKey = value; }
    // Only a value that is not empty is worth keeping in a form's design.
    [[nodiscard]] bool IsValueStored() const { return FValue.isValid(); }
    [[nodiscard]] TLayoutManagerValues* Values() const { return FCollection; }

    // Under the value's name in the collection's section of its manager's storage; nothing without
    // a manager or a storage. Restore reads with the current value as the default and widens the
    // kind: an integer comes back as a 64-bit integer, a float as a double, anything stored as
    // text (a keyed value among them) as a text.
    virtual void Save();
    virtual void Restore();

private:
    // The collection names its values without the duplicate check of a renaming.
    friend class TLayoutManagerValues;

    // The storage of the collection's manager, if there are both.
    [[nodiscard]] std::shared_ptr<ILayoutManagerStorage> Storage() const;

    TLayoutManagerValues* FCollection;
    QString FName;
    QVariant FValue;
    QString FKey;
};

// The values of one layout manager, with unique names (ignoring case), and the cipher in use.
class TLayoutManagerValues {
public:
    explicit TLayoutManagerValues(TLayoutManager* owner = nullptr);
    virtual ~TLayoutManagerValues();
    TLayoutManagerValues(const TLayoutManagerValues&) = delete;
    TLayoutManagerValues& operator=(const TLayoutManagerValues&) = delete;

    [[nodiscard]] TLayoutManager* Owner() const { return FOwner; }
    [[nodiscard]] TLayoutManager* LayoutManager() const { return FLayoutManager; }
    void SetLayoutManager(TLayoutManager* value) { FLayoutManager = value; }
    [[nodiscard]] const QString& Section() const { return FSection; }
    void SetSection(const QString& value) { FSection = value; }
    // Never empty: assigning an empty cipherer brings back the built-in one.
    [[nodiscard]] const std::shared_ptr<ILayoutManagerCipherer>& Cipherer() const { return FCipherer; }
    void SetCipherer(std::shared_ptr<ILayoutManagerCipherer> value);

    [[nodiscard]] int Count() const { return static_cast<int>(FItems.size()); }
    // Raises ELayoutManager for an index outside the collection.
    [[nodiscard]] TLayoutManagerValue* GetItem(int index) const;
    void SetItem(int index, const TLayoutManagerValue& value);
    [[nodiscard]] int IndexOf(const QString& name) const;
    // The value of that name, or none.
    [[nodiscard]] TLayoutManagerValue* GetValue(const QString& name) const;
    // Copies onto the value of that name; nothing when there is none.
    void SetValue(const QString& name, const TLayoutManagerValue& value);
    // An absent name reads as a null variant.
    [[nodiscard]] QVariant GetValueByName(const QString& name) const;
    // Replaces the value of an existing name; a new name is added without a key.
    void SetValueByName(const QString& name, const QVariant& value);

    // A new empty value at the end.
    TLayoutManagerValue* AddItem();
    // Nothing when the name is taken.
    void AddItem(const QString& name, const QVariant& value, const QString& key);
    void Delete(int index);
    void Clear();
    // The values of another collection in place of these; section and cipher stay.
    void Assign(const TLayoutManagerValues& source);

    // Every value in order; a storage failure ends the series.
    virtual void Save();
    virtual void Restore();

private:
    void CheckIndex(int index) const;

    TLayoutManager* FOwner;
    TLayoutManager* FLayoutManager = nullptr;
    QString FSection;
    std::shared_ptr<ILayoutManagerCipherer> FCipherer;
    const std::shared_ptr<TLayoutManagerCipherer> FCph;
    std::vector<std::unique_ptr<TLayoutManagerValue>> FItems;
};
