// The layout manager remembers how a form and chosen components on it looked (position, size,
// alignment, window state, form style, visibility, enablement and listed properties) and puts
// them back next time. It writes through an ILayoutManagerStorage and names its sections after
// the form's class, the owner chain of each component and, unless told otherwise, the display
// resolution, so that every display configuration keeps a layout of its own. Without a storage
// every operation is safe and does nothing.
//
// Qt's notions stand in for the window framework's: a component is a QObject (its name the object
// name, its owner the parent); a form is a top-level QWidget; a windowed control is any QWidget,
// its window handle that of its window; a widget's alignment is its property "Align" if it has
// one; published properties are the readable, designable and stored Q_PROPERTYs; a string list is
// a TStringList; monitors are the application's screens, numbered by their index in
// QGuiApplication::screens().
#pragma once

#include "layout/LayoutManagerStorage.h"
#include "layout/LayoutManagerValues.h"

#include <QMetaProperty>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <typeinfo>
#include <vector>

class QScreen;
class QWidget;
class TLayoutManager;
class TLayoutManagerControl;

using TNotifyEvent = std::function<void(QObject* sender)>;

// A set of a small enumeration, one bit per ordinal.
template <typename Enum, typename Bits> class TSmallSet {
public:
    constexpr TSmallSet() = default;
    constexpr TSmallSet(std::initializer_list<Enum> members)
    {
        for (const Enum member : members)
            FBits |= Bit(member);
    }
    [[nodiscard]] static constexpr TSmallSet FromBits(Bits bits)
    {
        TSmallSet set;
        set.FBits = bits;
        return set;
    }
    [[nodiscard]] constexpr Bits ToBits() const { return FBits; }
    [[nodiscard]] constexpr bool Contains(Enum member) const { return (FBits & Bit(member)) != 0; }
    [[nodiscard]] constexpr bool IsEmpty() const { return FBits == 0; }
    [[nodiscard]] constexpr TSmallSet operator+(Enum member) const
    {
        return FromBits(static_cast<Bits>(FBits | Bit(member)));
    }
    [[nodiscard]] constexpr TSmallSet operator-(Enum member) const
    {
        return FromBits(static_cast<Bits>(FBits & ~Bit(member)));
    }
    constexpr bool operator==(const TSmallSet&) const = default;

private:
    static constexpr Bits Bit(Enum member) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(member)); }
    Bits FBits = 0;
};

// What of a form or a windowed control is kept, in the order of their bits.
enum TLayoutManagerControlOption : uint8_t {
    loPosition,           // form: "Pos", "Align"; control: "Left", "Top" ("Align" restored only)
    loSize,               // form: "Size"; control: "Width", "Height"
    loState,              // form: "State"; control: "Visible", "Enabled"
    loStyle,              // form: "Style"
    loDisplayIndependent, // one layout for every display: the plain section only
};
using TLayoutManagerControlOptions = TSmallSet<TLayoutManagerControlOption, uint8_t>;

// The values the storage holds for a form's window state, form style and a control's alignment.
enum TWindowState : uint8_t { wsNormal, wsMinimized, wsMaximized };
enum TFormStyle : uint8_t { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };

// A list of lines that a component publishes as an object property; kept by its lines, which a
// restore appends to what the list already holds.
class TStringList : public QObject {
    Q_OBJECT
public:
    explicit TStringList(QObject* parent = nullptr);

    [[nodiscard]] qsizetype Count() const { return FLines.size(); }
    [[nodiscard]] const QString& Strings(qsizetype index) const { return FLines.at(index); }
    void Add(const QString& line) { FLines.append(line); }
    void Clear() { FLines.clear(); }
    [[nodiscard]] const QStringList& Lines() const { return FLines; }
    void SetLines(const QStringList& lines) { FLines = lines; }

private:
    QStringList FLines;
};

// ---------------------------------------------------------------------------------------------
// The framework's notions in Qt.

// A C++ class's name as written in its declaration, without namespaces. Forms rarely declare
// Q_OBJECT, so the meta-object's class name would name a base class.
[[nodiscard]] QString ClassNameOf(const std::type_info& type);
// The object's class name; a layout-aware form's is the one it had when complete, also while it
// is being destroyed.
[[nodiscard]] QString ClassName(const QObject* object);
[[nodiscard]] bool IsForm(const QObject* object);
[[nodiscard]] bool IsWindowedControl(const QObject* object);
[[nodiscard]] bool IsStringList(const QObject* object);
// Everything but a string list: string lists are kept by their lines, components by their names.
[[nodiscard]] bool IsComponent(const QObject* object);
// A component's name; anything else's is the dotted path through its owners to its own name, or
// to its class name when it has none.
[[nodiscard]] QString NamePath(const QObject* object);
// True when the control exists and its window has a handle, made now if need be.
[[nodiscard]] bool IsValidWindow(QWidget* control);

// The application's main form. Qt has no such notion: the first layout-aware form made while
// there is none becomes it, or a program names one.
[[nodiscard]] QWidget* ApplicationMainForm();
void SetApplicationMainForm(QWidget* form);

namespace monitors {

// The rectangle spanning all monitors.
[[nodiscard]] QRect VirtualDesktop();
// A monitor's number, -1 for none.
[[nodiscard]] int Number(const QScreen* monitor);
// The monitor of a number, or none.
[[nodiscard]] QScreen* ByNumber(int number);
[[nodiscard]] int PrimaryNumber();
// The monitor sharing most of the widget's window, else the closest one; none without monitors.
[[nodiscard]] QScreen* Nearest(const QWidget* widget);
// The monitor's logical dots per inch, the primary monitor's for none.
[[nodiscard]] int PixelsPerInch(const QScreen* monitor);

} // namespace monitors

// ---------------------------------------------------------------------------------------------
// Published properties.

enum TTypeKind : uint8_t {
    tkUnknown,
    tkInteger,
    tkChar,
    tkEnumeration,
    tkFloat,
    tkString,
    tkSet,
    tkClass,
    tkMethod,
    tkWChar,
    tkLString,
    tkWString,
    tkVariant,
    tkArray,
    tkRecord,
    tkInterface,
    tkInt64,
    tkDynArray,
    tkUString,
};
using TTypeKinds = TSmallSet<TTypeKind, uint32_t>;

// The kinds a layout manager keeps: every kind but methods, variants, arrays, records, interfaces
// and dynamic arrays.
inline constexpr TTypeKinds LayoutPropertyKinds = {tkInteger, tkChar,  tkEnumeration, tkFloat,   tkString, tkSet,
                                                   tkClass,   tkWChar, tkLString,     tkWString, tkInt64,  tkUString};

struct TPropInfo {
    QMetaProperty Property;
    TTypeKind Kind = tkUnknown;
    QString Name;
    // The class an object property is declared with; none for other kinds.
    const QMetaObject* ClassType = nullptr;
};

// An object's published properties of some kinds, sorted by name ignoring case.
class TPropInfoList {
public:
    TPropInfoList(const QObject* object, TTypeKinds filter);

    [[nodiscard]] int Count() const { return static_cast<int>(FList.size()); }
    [[nodiscard]] const TPropInfo& Get(int index) const { return FList.at(static_cast<size_t>(index)); }
    // The first property of that name ignoring case, or none.
    [[nodiscard]] const TPropInfo* Find(const QString& name) const;
    // True when a property has the same type as info and its name ignoring case.
    [[nodiscard]] bool Contains(const TPropInfo& info) const;

    // A property's kind: booleans are enumerations, Q_FLAGs sets, QString a UTF-16 string,
    // QByteArray an ANSI string, QChar a wide character, pointers to QObjects classes.
    [[nodiscard]] static TTypeKind KindOf(const QMetaProperty& property);

private:
    std::vector<TPropInfo> FList;
};

// ---------------------------------------------------------------------------------------------
// Layout hooks: layout the manager itself does not know, such as a grid's column widths.

class ILayoutManagerControlLayout {
public:
    virtual ~ILayoutManagerControlLayout() = default;
    [[nodiscard]] virtual TLayoutManagerControl* GetLayoutManagerControl() const = 0;
    virtual void SetLayoutManagerControl(TLayoutManagerControl* value) = 0;
    virtual void SaveDefault(bool force) = 0;
    virtual void Save() = 0;
    virtual void RestoreDefault() = 0;
    virtual void Restore() = 0;
    virtual void DeleteData() = 0;
};

Q_DECLARE_INTERFACE(ILayoutManagerControlLayout, "{DC36B5C0-FFB7-4A4A-A501-4149947146C3}")

class TLayoutManagerControlLayout : public ILayoutManagerControlLayout {
public:
    [[nodiscard]] TLayoutManagerControl* GetLayoutManagerControl() const override { return FLMC; }
    void SetLayoutManagerControl(TLayoutManagerControl* value) override { FLMC = value; }

    // The entry's section followed by "\Layout"; empty while no entry is attached.
    [[nodiscard]] QString GetLayoutSection(bool withResolution, int monitorNum) const;
    // Erases the hook's plain section, and what is nested below it, through the entry's storage.
    void DeleteData() override;

protected:
    TLayoutManagerControl* FLMC = nullptr;
};

// Makes the hook an entry gets at registration.
using TLayoutManagerControlLayoutClass = std::function<std::shared_ptr<ILayoutManagerControlLayout>()>;

// ---------------------------------------------------------------------------------------------

// One registered component.
class TLayoutManagerControl {
public:
    explicit TLayoutManagerControl(TLayoutManager* manager = nullptr);
    ~TLayoutManagerControl();
    TLayoutManagerControl(const TLayoutManagerControl&) = delete;
    TLayoutManagerControl& operator=(const TLayoutManagerControl&) = delete;

    [[nodiscard]] const std::shared_ptr<ILayoutManagerStorage>& Storage() const { return FStorage; }
    // Closes the storage it drops.
    void SetStorage(std::shared_ptr<ILayoutManagerStorage> value);
    // None once the component is destroyed: the entry then saves and restores nothing.
    [[nodiscard]] QObject* Component() const { return FComponent; }
    // Also lists the component's published properties; a component that is not a windowed
    // control loses its options.
    void SetComponent(QObject* value);
    // Sorted ignoring case, without duplicates.
    [[nodiscard]] const QStringList& Properties() const { return FProps; }
    void SetProperties(const QStringList& names);
    [[nodiscard]] TLayoutManagerControlOptions Options() const { return FOptions; }
    // Takes effect for a windowed control only.
    void SetOptions(TLayoutManagerControlOptions value);
    [[nodiscard]] const std::shared_ptr<ILayoutManagerControlLayout>& Layout() const { return FLayout; }
    // Attaches the hook, detaching the previous one.
    void SetLayout(std::shared_ptr<ILayoutManagerControlLayout> value);
    [[nodiscard]] TLayoutManager* LayoutManager() const { return FLM; }
    [[nodiscard]] const TPropInfoList* PropList() const { return FPropList.get(); }

    void Save();
    void Restore();
    // Erases the plain section and what is nested below it; resolution sections stay.
    void DeleteData();

    // The form's class name, then the resolution text after "#" (with withResolution), for a
    // form, an object that is not a component, or one without an owner. Else the component's name
    // behind the class names of its owners up to the first form, which carries the resolution.
    [[nodiscard]] QString GetSection(bool withResolution, int monitorNum) const;
    // The resolution section of the monitor the form was saved on.
    [[nodiscard]] QString GetRestoreSection() const;
    // "%dx%dx%d": the virtual desktop's width and height and the dots per inch of the monitor of
    // that number, else of the monitor nearest the component's window or its owner's.
    [[nodiscard]] QString GetResolutionText(int monitorNum) const;
    // The class of the component's form: itself when its section is its class name, else the
    // first form among its owners, or empty.
    [[nodiscard]] QString GetFormClassName() const;

private:
    void SaveForm(ILayoutManagerStorage& storage, QWidget& form, const QString& plain, const QString& target);
    void SaveControl(ILayoutManagerStorage& storage, QWidget& control, const QString& target);
    void SaveProperties(ILayoutManagerStorage& storage, const QString& target);
    void RestoreForm(ILayoutManagerStorage& storage, QWidget& form, const QString& plain, const QString& source);
    void RestoreControl(ILayoutManagerStorage& storage, QWidget& control, const QString& source);
    void RestoreProperties(ILayoutManagerStorage& storage, const QString& source);
    void SaveObjectProperty(ILayoutManagerStorage& storage, const QString& target, const QString& name,
                            const TPropInfo& info);
    void RestoreObjectProperty(ILayoutManagerStorage& storage, const QString& source, const QString& name,
                               const TPropInfo& info);

    std::shared_ptr<ILayoutManagerStorage> FStorage;
    QPointer<QObject> FComponent;
    QStringList FProps;
    std::unique_ptr<TPropInfoList> FPropList;
    std::shared_ptr<ILayoutManagerControlLayout> FLayout;
    TLayoutManagerControlOptions FOptions;
    TLayoutManager* FLM;
};

class TLayoutManager : public QObject {
    Q_OBJECT
public:
    // The owner is the form the manager belongs to; it is not owned.
    explicit TLayoutManager(QObject* owner = nullptr);
    ~TLayoutManager() override;

    // Registers any object for its properties only; -1 for none or one already registered.
    int Add(QObject* component, const QStringList& props);
    // Registers a windowed control with options and a hook; -1 for one already registered or
    // without a valid window. The new hook saves its defaults unless the manager is read-only.
    int Add(QWidget* control, const QStringList& props, TLayoutManagerControlOptions options,
            const TLayoutManagerControlLayoutClass& layoutClass = {});
    void Delete(QObject* component);
    // Detaches every hook and, with deleteData, erases every entry's data; then forgets them all.
    void Clear(bool deleteData);

    // The entries in order, then the stored values, between the restore events. A save does
    // nothing while read-only or restoring.
    void Restore();
    void Save();
    // One component's entry without events; a save does nothing while read-only.
    void Restore(QObject* component);
    void Save(QObject* component);
    void DeleteData();
    void DeleteData(QObject* component);

    [[nodiscard]] int FindComponent(const QObject* component) const;
    void SetOptions(QWidget* control, TLayoutManagerControlOptions options);
    [[nodiscard]] int Count() const { return static_cast<int>(FList.size()); }
    // LayoutControls[index]; raises ELayoutManager for an index outside the list.
    [[nodiscard]] TLayoutManagerControl* GetControl(int index) const;

    [[nodiscard]] const std::shared_ptr<ILayoutManagerStorage>& Storage() const { return FStorage; }
    // Hands the storage to every entry.
    void SetStorage(std::shared_ptr<ILayoutManagerStorage> value);
    // The names of a section's values; empty without a storage.
    void ReadSavedProps(const QString& section, QStringList& list);
    // A stored value as text, or the default as text.
    [[nodiscard]] QVariant ReadSavedProp(const QString& section, const QString& name, const QVariant& defaultValue);

    [[nodiscard]] bool ReadOnly() const { return FRO; }
    void SetReadOnly(bool value) { FRO = value; }
    [[nodiscard]] bool Restoring() const { return FRestoring; }
    [[nodiscard]] QObject* Owner() const { return FOwner; }
    void SetOwner(QObject* value) { FOwner = value; }
    [[nodiscard]] TLayoutManagerValues& StoredValues() const { return *FValues; }
    // Copies the values of another collection.
    void SetStoredValues(const TLayoutManagerValues& value);
    [[nodiscard]] QVariant GetValueByName(const QString& name) const;
    void SetValueByName(const QString& name, const QVariant& value);

    [[nodiscard]] const TNotifyEvent& OnBeforeRestore() const { return FOnBeforeRestore; }
    void SetOnBeforeRestore(TNotifyEvent value) { FOnBeforeRestore = std::move(value); }
    [[nodiscard]] const TNotifyEvent& OnAfterRestore() const { return FOnAfterRestore; }
    void SetOnAfterRestore(TNotifyEvent value) { FOnAfterRestore = std::move(value); }
    [[nodiscard]] const TNotifyEvent& OnBeforeSave() const { return FOnBeforeSave; }
    void SetOnBeforeSave(TNotifyEvent value) { FOnBeforeSave = std::move(value); }
    [[nodiscard]] const TNotifyEvent& OnAfterSave() const { return FOnAfterSave; }
    void SetOnAfterSave(TNotifyEvent value) { FOnAfterSave = std::move(value); }

private:
    void Notify(const TNotifyEvent& event);

    std::vector<std::unique_ptr<TLayoutManagerControl>> FList;
    std::shared_ptr<ILayoutManagerStorage> FStorage;
    TNotifyEvent FOnAfterRestore;
    TNotifyEvent FOnAfterSave;
    TNotifyEvent FOnBeforeRestore;
    TNotifyEvent FOnBeforeSave;
    QPointer<QObject> FOwner;
    const std::unique_ptr<TLayoutManagerValues> FValues;
    bool FRestoring = false;
    bool FRO = false;
};
