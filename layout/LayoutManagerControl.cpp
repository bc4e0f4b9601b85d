#include "layout/LayoutManagerControl.h"

#include "layout/LayoutManagerForm.h"
#include "support/AnsiText.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <limits>
#include <utility>

namespace {

const QString PosName = QStringLiteral("Pos");
const QString SizeName = QStringLiteral("Size");
const QString AlignName = QStringLiteral("Align");
const QString StateName = QStringLiteral("State");
const QString StyleName = QStringLiteral("Style");
const QString LayoutReadOnlyName = QStringLiteral("LayoutReadOnly");
const QString MonitorName = QStringLiteral("Monitor");
const QString ResolutionName = QStringLiteral("Resolution");
const QString LeftName = QStringLiteral("Left");
const QString TopName = QStringLiteral("Top");
const QString WidthName = QStringLiteral("Width");
const QString HeightName = QStringLiteral("Height");
const QString VisibleName = QStringLiteral("Visible");
const QString EnabledName = QStringLiteral("Enabled");
const QString CountName = QStringLiteral("Count");

// ---- Forms and controls -----------------------------------------------------------------------

TWindowState WindowStateOf(const QWidget& form)
{
    const Qt::WindowStates state = form.windowState();
    if (state & Qt::WindowMinimized)
        return wsMinimized;
    // A full-screen window, like a maximized one, covers its monitor rather than its own bounds.
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return wsMaximized;
    return wsNormal;
}

void SetWindowStateOf(QWidget& form, int64_t value)
{
    if (value < wsNormal || value > wsMaximized || value == WindowStateOf(form))
        return;
    Qt::WindowStates state = form.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (value == wsMinimized)
        state |= Qt::WindowMinimized;
    else if (value == wsMaximized)
        state |= Qt::WindowMaximized;
    form.setWindowState(state);
}

// A top-level Qt window is never an MDI child or frame: those are widgets inside a QMdiArea.
TFormStyle FormStyleOf(const QWidget& form)
{
    return form.windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? fsStayOnTop : fsNormal;
}

void SetFormStyleOf(QWidget& form, int64_t value)
{
    if (value != fsNormal && value != fsStayOnTop)
        return;
    const bool onTop = value == fsStayOnTop;
    if (form.windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    // New window flags hide a window.
    const bool visible = form.isVisible();
    form.setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible)
        form.show();
}

// Qt lays children out with layouts rather than by docking them to an edge; a widget that
// declares an "Align" property takes part all the same.
TAlign AlignOf(const QWidget& control)
{
    bool ok = false;
    const int value = control.property("Align").toInt(&ok);
    return ok && value >= alNone && value <= alCustom ? static_cast<TAlign>(value) : alNone;
}

void SetAlignOf(QWidget& control, int64_t value)
{
    if (value < alNone || value > alCustom || value == AlignOf(control))
        return;
    if (control.metaObject()->indexOfProperty("Align") >= 0 || control.dynamicPropertyNames().contains("Align"))
        control.setProperty("Align", static_cast<int>(value));
}

// The control's own flags, whatever its parent's: a control in a hidden or disabled form is still
// visible and enabled.
bool ControlVisible(const QWidget& control)
{
    return !control.isHidden() || !control.testAttribute(Qt::WA_WState_ExplicitShowHide);
}

bool ControlEnabled(const QWidget& control)
{
    return !control.testAttribute(Qt::WA_ForceDisabled);
}

// The smallest a stored value may make a form: a window one can still see and take hold of.
constexpr int MinFormWidth = 120;
constexpr int MinFormHeight = 60;
// What a screen must show of a restored form for the user to reach it.
constexpr int MinVisibleWidth = 100;
constexpr int MinVisibleHeight = 50;

// Windows cannot grow beyond the desktop; neither can a form that a stored value asks to. Nor can
// a stored value shrink one to nothing.
QSize BoundedFormSize(int width, int height)
{
    const QRect desktop = monitors::VirtualDesktop();
    const int maxWidth = desktop.isEmpty() ? QWIDGETSIZE_MAX : desktop.width();
    const int maxHeight = desktop.isEmpty() ? QWIDGETSIZE_MAX : desktop.height();
    return {std::max(MinFormWidth, std::min(width, maxWidth)), std::max(MinFormHeight, std::min(height, maxHeight))};
}

QSize BoundedControlSize(int64_t width, int64_t height)
{
    return {static_cast<int>(std::clamp<int64_t>(width, 0, QWIDGETSIZE_MAX)),
            static_cast<int>(std::clamp<int64_t>(height, 0, QWIDGETSIZE_MAX))};
}

// Positions as far out as sizes can reach, so that no edge of a placed widget overflows.
QPoint BoundedPosition(int64_t x, int64_t y)
{
    return {static_cast<int>(std::clamp<int64_t>(x, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)),
            static_cast<int>(std::clamp<int64_t>(y, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX))};
}

// "Pos" and "Size" are "first,second". Without a comma nothing changes; a part that is not an
// integer keeps its current value.
bool ReadPair(const QString& text, int& first, int& second)
{
    const qsizetype comma = text.indexOf(u',');
    if (comma < 0)
        return false;
    bool ok = false;
    const int a = text.first(comma).toInt(&ok);
    if (ok)
        first = a;
    const int b = text.mid(comma + 1, 255).toInt(&ok);
    if (ok)
        second = b;
    return true;
}

QString PairText(int first, int second)
{
    return QStringLiteral("%1,%2").arg(first).arg(second);
}

// ---- Owners ------------------------------------------------------------------------------------

// An empty name finds nothing.
QObject* FindOwnedComponent(const QObject* owner, const QString& name)
{
    if (!owner || name.isEmpty())
        return nullptr;
    for (QObject* child : owner->children())
        if (IsComponent(child) && child->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return child;
    return nullptr;
}

QObject* FindTopLevelComponent(const QString& name)
{
    if (name.isEmpty())
        return nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return widget;
    return nullptr;
}

QString OwnerName(const QObject* object)
{
    return object->parent() ? object->parent()->objectName() : QString();
}

// ---- Property values ---------------------------------------------------------------------------

// Integers, enumerations and sets by the bytes of their type, so that every size, signedness and
// Q_ENUM or Q_FLAG type reads and writes alike.
int64_t ReadOrdinal(const QVariant& value)
{
    const QMetaType type = value.metaType();
    const bool isUnsigned = type.id() == QMetaType::UChar || type.id() == QMetaType::UShort ||
                            type.id() == QMetaType::UInt || type.id() == QMetaType::ULong ||
                            type.id() == QMetaType::ULongLong ||
                            type.flags().testFlag(QMetaType::IsUnsignedEnumeration);
    const void* data = value.constData();
    switch (type.sizeOf()) {
    case 1: {
        uint8_t v;
        std::memcpy(&v, data, 1);
        return isUnsigned ? int64_t{v} : int64_t{static_cast<int8_t>(v)};
    }
    case 2: {
        uint16_t v;
        std::memcpy(&v, data, 2);
        return isUnsigned ? int64_t{v} : int64_t{static_cast<int16_t>(v)};
    }
    case 4: {
        uint32_t v;
        std::memcpy(&v, data, 4);
        return isUnsigned ? int64_t{v} : int64_t{static_cast<int32_t>(v)};
    }
    case 8: {
        int64_t v;
        std::memcpy(&v, data, 8);
        return v;
    }
    default: return 0;
    }
}

QVariant OrdinalValue(QMetaType type, int64_t value)
{
    if (type.id() == QMetaType::Bool)
        return QVariant(value != 0);
    const auto from = [&](auto v) { return QVariant(type, &v); };
    switch (type.sizeOf()) {
    case 1: return from(static_cast<uint8_t>(value));
    case 2: return from(static_cast<uint16_t>(value));
    case 4: return from(static_cast<uint32_t>(value));
    case 8: return from(static_cast<uint64_t>(value));
    default: return {};
    }
}

QString ReadText(const QVariant& value, TTypeKind kind)
{
    switch (kind) {
    case tkChar: {
        const char c = value.value<char>();
        return AnsiToString(std::string_view(&c, 1));
    }
    case tkWChar:
        return value.typeId() == QMetaType::QChar ? QString(value.toChar()) : QString(QChar(value.value<char16_t>()));
    case tkLString: {
        const QByteArray bytes = value.toByteArray();
        return AnsiToString(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    }
    default: return value.toString();
    }
}

QVariant TextValue(QMetaType type, TTypeKind kind, const QString& text)
{
    switch (kind) {
    case tkChar: {
        const QByteArray bytes = StringToAnsi(text);
        return QVariant::fromValue<char>(bytes.isEmpty() ? '\0' : bytes[0]);
    }
    case tkWChar: {
        const QChar c = text.isEmpty() ? QChar() : text[0];
        return type.id() == QMetaType::QChar ? QVariant(c) : QVariant::fromValue<char16_t>(c.unicode());
    }
    case tkLString: return QVariant(StringToAnsi(text));
    default: return QVariant(text);
    }
}

// While an object is being destroyed it is no longer of the classes below the one whose
// destructor runs, and their properties must not be touched.
bool Declares(const QObject& object, const TPropInfo& info)
{
    return object.metaObject()->inherits(info.Property.enclosingMetaObject());
}

// ---- Monitors ----------------------------------------------------------------------------------

QScreen* NearestTo(const QRect& area)
{
    QScreen* best = nullptr;
    int64_t bestShared = 0;
    int64_t bestDistance = std::numeric_limits<int64_t>::max();
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect bounds = screen->geometry();
        const QRect shared = bounds.intersected(area);
        const int64_t sharedArea = shared.isEmpty() ? 0 : int64_t{shared.width()} * shared.height();
        if (sharedArea > bestShared) {
            best = screen;
            bestShared = sharedArea;
            continue;
        }
        if (bestShared > 0)
            continue;
        const int64_t dx =
            std::max<int64_t>({0, int64_t{bounds.left()} - area.right(), int64_t{area.left()} - bounds.right()});
        const int64_t dy =
            std::max<int64_t>({0, int64_t{bounds.top()} - area.bottom(), int64_t{area.top()} - bounds.bottom()});
        const int64_t distance = dx + dy;
        if (distance < bestDistance) {
            best = screen;
            bestDistance = distance;
        }
    }
    return best;
}

QPointer<QWidget>& MainForm()
{
    static QPointer<QWidget> form;
    return form;
}

// A form no screen shows enough of (stored far off, or on a screen that has gone) is brought onto
// the screen nearest to it, whole when it fits there.
void BringOntoScreen(QWidget& form)
{
    const QRect frame = form.frameGeometry();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect shown = screen->availableGeometry().intersected(frame);
        if (shown.width() >= std::min(frame.width(), MinVisibleWidth) &&
            shown.height() >= std::min(frame.height(), MinVisibleHeight))
            return;
    }
    const QScreen* screen = NearestTo(frame);
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const int x = std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width()));
    const int y = std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height()));
    form.move(x, y);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The framework's notions

TStringList::TStringList(QObject* parent) : QObject(parent) {}

QString ClassNameOf(const std::type_info& type)
{
    int status = 0;
    const std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                           std::free);
    if (status != 0 || !demangled)
        return QString::fromLatin1(type.name());
    // A class is named without its namespaces, whose names would only lengthen every section.
    const QString name = QString::fromUtf8(demangled.get());
    qsizetype start = 0;
    int depth = 0;
    for (qsizetype i = 0; i + 1 < name.size(); ++i) {
        if (name[i] == u'<')
            ++depth;
        else if (name[i] == u'>')
            --depth;
        else if (depth == 0 && name[i] == u':' && name[i + 1] == u':')
            start = i + 2;
    }
    return name.sliced(start);
}

QString ClassName(const QObject* object)
{
    if (const auto* form = qobject_cast<const TLMForm*>(object))
        return form->FormClassName();
    return ClassNameOf(typeid(*object));
}

bool IsForm(const QObject* object)
{
    const auto* widget = qobject_cast<const QWidget*>(object);
    return widget && widget->isWindow();
}

bool IsWindowedControl(const QObject* object)
{
    return qobject_cast<const QWidget*>(object) != nullptr;
}

bool IsStringList(const QObject* object)
{
    return qobject_cast<const TStringList*>(object) != nullptr;
}

bool IsComponent(const QObject* object)
{
    return object && !IsStringList(object);
}

QString NamePath(const QObject* object)
{
    if (IsComponent(object))
        return object->objectName();
    const QString name = object->objectName().isEmpty() ? ClassName(object) : object->objectName();
    const QString ownerPath = object->parent() ? NamePath(object->parent()) : QString();
    return ownerPath.isEmpty() ? name : ownerPath + u'.' + name;
}

bool IsValidWindow(QWidget* control)
{
    return control && control->window()->winId() != 0;
}

QWidget* ApplicationMainForm()
{
    return MainForm();
}

void SetApplicationMainForm(QWidget* form)
{
    MainForm() = form;
}

namespace monitors {

QRect VirtualDesktop()
{
    QRect desktop;
    for (const QScreen* screen : QGuiApplication::screens())
        desktop = desktop.united(screen->geometry());
    return desktop;
}

int Number(const QScreen* monitor)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (qsizetype i = 0; i < screens.size(); ++i)
        if (screens[i] == monitor)
            return static_cast<int>(i);
    return -1;
}

QScreen* ByNumber(int number)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    return number >= 0 && number < screens.size() ? screens[number] : nullptr;
}

int PrimaryNumber()
{
    return Number(QGuiApplication::primaryScreen());
}

QScreen* Nearest(const QWidget* widget)
{
    if (!widget)
        return nullptr;
    const QRect area =
        widget->isWindow() ? widget->frameGeometry() : QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    return NearestTo(area);
}

int PixelsPerInch(const QScreen* monitor)
{
    if (!monitor)
        monitor = QGuiApplication::primaryScreen();
    return monitor ? qRound(monitor->logicalDotsPerInch()) : 96;
}

} // namespace monitors

// ---------------------------------------------------------------------------------------------
// TPropInfoList

TPropInfoList::TPropInfoList(const QObject* object, TTypeKinds filter)
{
    if (!object)
        return;
    const QMetaObject* meta = object->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (!property.isReadable() || !property.isDesignable() || !property.isStored())
            continue;
        const TTypeKind kind = KindOf(property);
        if (kind == tkUnknown || !filter.Contains(kind))
            continue;
        const QMetaObject* classType = kind == tkClass ? property.metaType().metaObject() : nullptr;
        FList.push_back({property, kind, QString::fromLatin1(property.name()), classType});
    }
    std::stable_sort(FList.begin(), FList.end(), [](const TPropInfo& a, const TPropInfo& b) {
        return a.Name.compare(b.Name, Qt::CaseInsensitive) < 0;
    });
}

const TPropInfo* TPropInfoList::Find(const QString& name) const
{
    for (const TPropInfo& info : FList)
        if (info.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &info;
    return nullptr;
}

bool TPropInfoList::Contains(const TPropInfo& info) const
{
    return std::any_of(FList.begin(), FList.end(), [&](const TPropInfo& own) {
        return own.Property.metaType() == info.Property.metaType() &&
               own.Name.compare(info.Name, Qt::CaseInsensitive) == 0;
    });
}

TTypeKind TPropInfoList::KindOf(const QMetaProperty& property)
{
    if (property.isFlagType())
        return tkSet;
    if (property.isEnumType())
        return tkEnumeration;
    const QMetaType type = property.metaType();
    switch (type.id()) {
    case QMetaType::Bool: return tkEnumeration;
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt: return tkInteger;
    case QMetaType::Long:
    case QMetaType::ULong: return type.sizeOf() == 8 ? tkInt64 : tkInteger;
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return tkInt64;
    case QMetaType::Char: return tkChar;
    case QMetaType::QChar:
    case QMetaType::Char16: return tkWChar;
    case QMetaType::Float:
    case QMetaType::Double: return tkFloat;
    case QMetaType::QString: return tkUString;
    case QMetaType::QByteArray: return tkLString;
    default: return type.flags().testFlag(QMetaType::PointerToQObject) ? tkClass : tkUnknown;
    }
}

// ---------------------------------------------------------------------------------------------
// TLayoutManagerControlLayout

QString TLayoutManagerControlLayout::GetLayoutSection(bool withResolution, int monitorNum) const
{
    return FLMC ? FLMC->GetSection(withResolution, monitorNum) + QStringLiteral("\\Layout") : QString();
}

void TLayoutManagerControlLayout::DeleteData()
{
    const std::shared_ptr<ILayoutManagerStorage> storage = FLMC ? FLMC->Storage() : nullptr;
    if (storage)
        CloseAfter(*storage, [&] { storage->EraseSection(GetLayoutSection(false, -1), true); });
}

// ---------------------------------------------------------------------------------------------
// TLayoutManagerControl

TLayoutManagerControl::TLayoutManagerControl(TLayoutManager* manager) : FLM(manager) {}

TLayoutManagerControl::~TLayoutManagerControl()
{
    SetLayout(nullptr);
}

void TLayoutManagerControl::SetStorage(std::shared_ptr<ILayoutManagerStorage> value)
{
    if (value == FStorage)
        return;
    if (FStorage)
        FStorage->Close();
    FStorage = std::move(value);
}

void TLayoutManagerControl::SetComponent(QObject* value)
{
    FComponent = value;
    if (!IsWindowedControl(value))
        FOptions = {};
    FPropList = std::make_unique<TPropInfoList>(value, LayoutPropertyKinds);
}

void TLayoutManagerControl::SetProperties(const QStringList& names)
{
    FProps.clear();
    for (const QString& name : names) {
        const auto at = std::lower_bound(FProps.begin(), FProps.end(), name, [](const QString& a, const QString& b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
        if (at == FProps.end() || at->compare(name, Qt::CaseInsensitive) != 0)
            FProps.insert(at, name);
    }
}

void TLayoutManagerControl::SetOptions(TLayoutManagerControlOptions value)
{
    if (IsWindowedControl(FComponent))
        FOptions = value;
}

void TLayoutManagerControl::SetLayout(std::shared_ptr<ILayoutManagerControlLayout> value)
{
    if (value == FLayout)
        return;
    // A hook kept elsewhere must not point at an entry it no longer belongs to.
    if (FLayout && FLayout->GetLayoutManagerControl() == this)
        FLayout->SetLayoutManagerControl(nullptr);
    FLayout = std::move(value);
    if (FLayout)
        FLayout->SetLayoutManagerControl(this);
}

QString TLayoutManagerControl::GetResolutionText(int monitorNum) const
{
    const QScreen* monitor = monitorNum >= 0 ? monitors::ByNumber(monitorNum) : nullptr;
    if (!monitor) {
        if (const auto* control = qobject_cast<const QWidget*>(FComponent))
            monitor = monitors::Nearest(control);
        else if (IsComponent(FComponent))
            monitor = monitors::Nearest(qobject_cast<const QWidget*>(FComponent->parent()));
    }
    const QRect desktop = monitors::VirtualDesktop();
    return QStringLiteral("%1x%2x%3").arg(desktop.width()).arg(desktop.height()).arg(monitors::PixelsPerInch(monitor));
}

QString TLayoutManagerControl::GetFormClassName() const
{
    const QObject* component = FComponent;
    if (!component)
        return {};
    if (IsForm(component) || !IsComponent(component) || !component->parent())
        return ClassName(component);
    for (const QObject* owner = component->parent(); owner; owner = owner->parent())
        if (IsForm(owner))
            return ClassName(owner);
    return {};
}

QString TLayoutManagerControl::GetSection(bool withResolution, int monitorNum) const
{
    const QObject* component = FComponent;
    if (!component)
        return {};
    if (IsForm(component) || !IsComponent(component) || !component->parent())
        return withResolution ? ClassName(component) + u'#' + GetResolutionText(monitorNum) : ClassName(component);
    QString section = component->objectName();
    for (const QObject* owner = component->parent(); owner; owner = owner->parent()) {
        if (IsForm(owner)) {
            const QString form =
                withResolution ? ClassName(owner) + u'#' + GetResolutionText(monitorNum) : ClassName(owner);
            return form + u'\\' + section;
        }
        section = ClassName(owner) + u'\\' + section;
    }
    return section;
}

QString TLayoutManagerControl::GetRestoreSection() const
{
    int monitorNum = -1;
    if (FStorage) {
        const int64_t stored = FStorage->ReadInteger(GetFormClassName(), MonitorName, monitors::PrimaryNumber());
        if (stored >= 0 && stored <= std::numeric_limits<int>::max())
            monitorNum = static_cast<int>(stored);
    }
    return GetSection(true, monitorNum);
}

void TLayoutManagerControl::Save()
{
    const std::shared_ptr<ILayoutManagerStorage> storage = FStorage;
    if (!storage || !FComponent)
        return;
    CloseAfter(*storage, [&] {
        storage->Open(false);
        const QString plain = GetSection(false, -1);
        if (storage->SectionExists(plain))
            storage->ClearSection(plain);
        QString target = plain;
        if (!FOptions.Contains(loDisplayIndependent)) {
            target = GetSection(true, -1);
            if (storage->SectionExists(target))
                storage->ClearSection(target);
        }
        if (auto* widget = qobject_cast<QWidget*>(FComponent)) {
            if (IsForm(widget))
                SaveForm(*storage, *widget, plain, target);
            else
                SaveControl(*storage, *widget, target);
        }
        SaveProperties(*storage, target);
    });
}

void TLayoutManagerControl::SaveForm(ILayoutManagerStorage& storage, QWidget& form, const QString& plain,
                                     const QString& target)
{
    // Only a normal window's bounds are its own; a maximized or minimized one keeps them for
    // later. Its position is the frame's, its size the client area's: the two a form is placed
    // with whether or not the window system has framed it yet.
    const TWindowState state = WindowStateOf(form);
    if (FOptions.Contains(loSize) && state == wsNormal)
        storage.WriteString(target, SizeName, PairText(form.width(), form.height()));
    if (FOptions.Contains(loPosition)) {
        if (state == wsNormal)
            storage.WriteString(target, PosName, PairText(form.pos().x(), form.pos().y()));
        storage.WriteInteger(target, AlignName, AlignOf(form));
    }
    // Restoring a minimized form would hide it at its next start.
    if (FOptions.Contains(loState) && state != wsMinimized)
        storage.WriteInteger(target, StateName, state);
    if (FOptions.Contains(loStyle))
        storage.WriteInteger(target, StyleName, FormStyleOf(form));
    if (const auto* layoutForm = qobject_cast<const TLMForm*>(&form)) {
        const int monitorNum = monitors::Number(monitors::Nearest(&form));
        storage.WriteBool(plain, LayoutReadOnlyName, layoutForm->LayoutReadOnly());
        storage.WriteInteger(plain, MonitorName, monitorNum);
        storage.WriteString(plain, ResolutionName, GetResolutionText(monitorNum));
    }
}

void TLayoutManagerControl::SaveControl(ILayoutManagerStorage& storage, QWidget& control, const QString& target)
{
    if (FOptions.Contains(loSize)) {
        storage.WriteInteger(target, WidthName, control.width());
        storage.WriteInteger(target, HeightName, control.height());
    }
    if (FOptions.Contains(loPosition)) {
        storage.WriteInteger(target, LeftName, control.x());
        storage.WriteInteger(target, TopName, control.y());
    }
    if (FOptions.Contains(loState)) {
        storage.WriteBool(target, VisibleName, ControlVisible(control));
        storage.WriteBool(target, EnabledName, ControlEnabled(control));
    }
    if (FLayout)
        FLayout->Save();
}

void TLayoutManagerControl::SaveProperties(ILayoutManagerStorage& storage, const QString& target)
{
    QObject* object = FComponent;
    for (const QString& name : FProps) {
        const TPropInfo* info = FPropList ? FPropList->Find(name) : nullptr;
        if (!info || !Declares(*object, *info))
            continue;
        const QVariant value = info->Property.read(object);
        switch (info->Kind) {
        case tkInteger:
        case tkEnumeration:
        case tkSet: storage.WriteInteger(target, info->Name, static_cast<int32_t>(ReadOrdinal(value))); break;
        case tkInt64: storage.WriteInteger(target, info->Name, ReadOrdinal(value)); break;
        case tkChar:
        case tkString:
        case tkWChar:
        case tkLString:
        case tkWString:
        case tkUString: storage.WriteString(target, info->Name, ReadText(value, info->Kind)); break;
        case tkFloat: storage.WriteFloat(target, info->Name, value.toDouble()); break;
        case tkClass:
            if (IsComponent(object))
                SaveObjectProperty(storage, target, name, *info);
            break;
        default: break;
        }
    }
}

void TLayoutManagerControl::SaveObjectProperty(ILayoutManagerStorage& storage, const QString& target,
                                               const QString& name, const TPropInfo& info)
{
    const QObject* object = FComponent;
    const QObject* value = info.Property.read(object).value<QObject*>();
    if (const auto* list = qobject_cast<const TStringList*>(value)) {
        // Lines of an earlier, longer list must not come back with this one.
        const QString lines = target + u'\\' + name;
        if (storage.SectionExists(lines))
            storage.ClearSection(lines);
        if (list->Count() > 0) {
            storage.WriteInteger(lines, CountName, list->Count());
            for (qsizetype i = 0; i < list->Count(); ++i)
                storage.WriteString(lines, QString::number(i), list->Strings(i));
            return;
        }
    }
    if (!value) {
        storage.DeleteValue(target, info.Name);
    } else if (IsComponent(value)) {
        const QString ownerName = OwnerName(value);
        const bool sameOwner = ownerName.compare(OwnerName(object), Qt::CaseInsensitive) == 0;
        storage.WriteString(target, info.Name,
                            sameOwner ? value->objectName() : ownerName + u'.' + value->objectName());
    } else {
        storage.WriteString(target, info.Name, NamePath(value));
    }
}

void TLayoutManagerControl::Restore()
{
    const std::shared_ptr<ILayoutManagerStorage> storage = FStorage;
    if (!storage || !FComponent)
        return;
    CloseAfter(*storage, [&] {
        storage->Open(true);
        const QString plain = GetSection(false, -1);
        QString source = plain;
        if (!FOptions.Contains(loDisplayIndependent)) {
            const QString resolution = GetRestoreSection();
            if (storage->SectionExists(resolution))
                source = resolution;
        }
        if (auto* widget = qobject_cast<QWidget*>(FComponent)) {
            if (IsForm(widget))
                RestoreForm(*storage, *widget, plain, source);
            else
                RestoreControl(*storage, *widget, source);
        }
        RestoreProperties(*storage, source);
    });
}

void TLayoutManagerControl::RestoreForm(ILayoutManagerStorage& storage, QWidget& form, const QString& plain,
                                        const QString& source)
{
    if (FOptions.Contains(loPosition)) {
        SetAlignOf(form, storage.ReadInteger(source, AlignName, AlignOf(form)));
        const QString pos = storage.ReadString(source, PosName, {});
        QPoint at = form.pos();
        if (!pos.isEmpty() && ReadPair(pos, at.rx(), at.ry()))
            form.move(BoundedPosition(at.x(), at.y()));
    }
    if (FOptions.Contains(loSize)) {
        int width = form.width();
        int height = form.height();
        if (ReadPair(storage.ReadString(source, SizeName, {}), width, height))
            form.resize(BoundedFormSize(width, height));
    }
    if (FOptions.Contains(loPosition) || FOptions.Contains(loSize))
        BringOntoScreen(form);
    if (FOptions.Contains(loState) && storage.ValueExists(source, StateName))
        SetWindowStateOf(form, storage.ReadInteger(source, StateName, WindowStateOf(form)));
    // The main form keeps the style it was made with.
    if (FOptions.Contains(loStyle) && &form != ApplicationMainForm() && storage.ValueExists(source, StyleName))
        SetFormStyleOf(form, storage.ReadInteger(source, StyleName, FormStyleOf(form)));
    if (auto* layoutForm = qobject_cast<TLMForm*>(&form))
        layoutForm->SetLayoutReadOnly(storage.ReadBool(plain, LayoutReadOnlyName, layoutForm->LayoutReadOnly()));
}

void TLayoutManagerControl::RestoreControl(ILayoutManagerStorage& storage, QWidget& control, const QString& source)
{
    if (FOptions.Contains(loSize)) {
        const int64_t width = storage.ReadInteger(source, WidthName, control.width());
        const int64_t height = storage.ReadInteger(source, HeightName, control.height());
        control.resize(BoundedControlSize(width, height));
    }
    if (FOptions.Contains(loPosition)) {
        SetAlignOf(control, storage.ReadInteger(source, AlignName, AlignOf(control)));
        const int64_t left = storage.ReadInteger(source, LeftName, control.x());
        const int64_t top = storage.ReadInteger(source, TopName, control.y());
        control.move(BoundedPosition(left, top));
    }
    if (FOptions.Contains(loState)) {
        const bool visible = storage.ReadBool(source, VisibleName, ControlVisible(control));
        if (visible != ControlVisible(control))
            control.setVisible(visible);
        const bool enabled = storage.ReadBool(source, EnabledName, ControlEnabled(control));
        if (enabled != ControlEnabled(control))
            control.setEnabled(enabled);
    }
    if (FLayout)
        FLayout->Restore();
}

void TLayoutManagerControl::RestoreProperties(ILayoutManagerStorage& storage, const QString& source)
{
    QObject* object = FComponent;
    for (const QString& name : FProps) {
        const TPropInfo* info = FPropList ? FPropList->Find(name) : nullptr;
        if (!info || !Declares(*object, *info))
            continue;
        const QMetaType type = info->Property.metaType();
        const QVariant current = info->Property.read(object);
        switch (info->Kind) {
        case tkInteger:
        case tkEnumeration:
        case tkSet: {
            const int64_t value = storage.ReadInteger(source, info->Name, static_cast<int32_t>(ReadOrdinal(current)));
            info->Property.write(object, OrdinalValue(type, static_cast<int32_t>(value)));
            break;
        }
        case tkInt64:
            info->Property.write(object,
                                 OrdinalValue(type, storage.ReadInteger(source, info->Name, ReadOrdinal(current))));
            break;
        case tkChar:
        case tkString:
        case tkWChar:
        case tkLString:
        case tkWString:
        case tkUString: {
            const QString text = storage.ReadString(source, info->Name, ReadText(current, info->Kind));
            info->Property.write(object, TextValue(type, info->Kind, text));
            break;
        }
        case tkFloat: info->Property.write(object, storage.ReadFloat(source, info->Name, current.toDouble())); break;
        case tkClass:
            if (IsComponent(object))
                RestoreObjectProperty(storage, source, name, *info);
            break;
        default: break;
        }
    }
}

void TLayoutManagerControl::RestoreObjectProperty(ILayoutManagerStorage& storage, const QString& source,
                                                  const QString& name, const TPropInfo& info)
{
    QObject* object = FComponent;
    if (auto* list = qobject_cast<TStringList*>(info.Property.read(object).value<QObject*>())) {
        // Lines add to those the list holds. The count is input from outside: no more lines are
        // read than the section has values besides it.
        const QString lines = source + u'\\' + name;
        const int64_t count = storage.ReadInteger(lines, CountName, 0);
        QStringList stored;
        if (count > 0)
            storage.ReadSection(lines, stored);
        const int64_t available = std::min<int64_t>(count, stored.size() - 1);
        for (int64_t i = 0; i < available; ++i)
            list->Add(storage.ReadString(lines, QString::number(i), {}));
        return;
    }
    const QString text = storage.ReadString(source, info.Name, {});
    const qsizetype dot = text.indexOf(u'.');
    const QObject* owner = nullptr;
    QString componentName = text;
    if (dot >= 0) {
        owner = FindTopLevelComponent(text.first(dot));
        componentName = text.sliced(dot + 1);
    } else if (object->parent()) {
        owner = object->parent();
    } else if (FLM && FLM->Owner()) {
        owner = FLM->Owner();
    } else {
        owner = ApplicationMainForm();
    }
    QObject* found = FindOwnedComponent(owner, componentName);
    if (found && info.ClassType && found->metaObject()->inherits(info.ClassType))
        info.Property.write(object, QVariant::fromValue(found));
}

void TLayoutManagerControl::DeleteData()
{
    const std::shared_ptr<ILayoutManagerStorage> storage = FStorage;
    if (storage)
        CloseAfter(*storage, [&] { storage->EraseSection(GetSection(false, -1), true); });
}

// ---------------------------------------------------------------------------------------------
// TLayoutManager

TLayoutManager::TLayoutManager(QObject* owner) : FOwner(owner), FValues(std::make_unique<TLayoutManagerValues>(this))
{
    FValues->SetLayoutManager(this);
    FValues->SetSection(QStringLiteral("Settings"));
}

TLayoutManager::~TLayoutManager()
{
    FOnAfterRestore = nullptr;
    FOnAfterSave = nullptr;
    FOnBeforeRestore = nullptr;
    FOnBeforeSave = nullptr;
    Clear(false);
}

int TLayoutManager::Add(QObject* component, const QStringList& props)
{
    if (!component || FindComponent(component) >= 0)
        return -1;
    auto entry = std::make_unique<TLayoutManagerControl>(this);
    entry->SetStorage(FStorage);
    entry->SetComponent(component);
    entry->SetProperties(props);
    FList.push_back(std::move(entry));
    return Count() - 1;
}

int TLayoutManager::Add(QWidget* control, const QStringList& props, TLayoutManagerControlOptions options,
                        const TLayoutManagerControlLayoutClass& layoutClass)
{
    // Registered first: asking for a window handle may make one.
    if (FindComponent(control) >= 0 || !IsValidWindow(control))
        return -1;
    auto entry = std::make_unique<TLayoutManagerControl>(this);
    entry->SetStorage(FStorage);
    entry->SetComponent(control);
    entry->SetOptions(options);
    entry->SetProperties(props);
    if (layoutClass) {
        entry->SetLayout(layoutClass());
        if (!FRO && entry->Layout())
            entry->Layout()->SaveDefault(false);
    }
    FList.push_back(std::move(entry));
    return Count() - 1;
}

void TLayoutManager::Delete(QObject* component)
{
    const int index = FindComponent(component);
    if (index >= 0) {
        FList[static_cast<size_t>(index)]->SetLayout(nullptr);
        FList.erase(FList.begin() + index);
    }
    FList.shrink_to_fit();
}

void TLayoutManager::Clear(bool deleteData)
{
    for (const std::unique_ptr<TLayoutManagerControl>& entry : FList) {
        entry->SetLayout(nullptr);
        if (deleteData)
            entry->DeleteData();
    }
    FList.clear();
}

void TLayoutManager::Notify(const TNotifyEvent& event)
{
    if (event)
        event(this);
}

void TLayoutManager::Restore()
{
    // Handlers and hooks may restore again; only the outermost restore ends the restoring state.
    struct RestoringScope {
        bool& Flag;
        const bool Previous;
        explicit RestoringScope(bool& flag) : Flag(flag), Previous(std::exchange(flag, true)) {}
        ~RestoringScope() { Flag = Previous; }
        RestoringScope(const RestoringScope&) = delete;
        RestoringScope& operator=(const RestoringScope&) = delete;
    } restoring(FRestoring);
    Notify(FOnBeforeRestore);
    // By index: a handler may change the list.
    for (size_t i = 0; i < FList.size(); ++i)
        FList[i]->Restore();
    FValues->Restore();
    Notify(FOnAfterRestore);
}

void TLayoutManager::Save()
{
    if (FRO || FRestoring)
        return;
    Notify(FOnBeforeSave);
    for (size_t i = 0; i < FList.size(); ++i)
        FList[i]->Save();
    FValues->Save();
    Notify(FOnAfterSave);
}

void TLayoutManager::Restore(QObject* component)
{
    const int index = FindComponent(component);
    if (index >= 0)
        FList[static_cast<size_t>(index)]->Restore();
}

void TLayoutManager::Save(QObject* component)
{
    if (FRO || !component)
        return;
    const int index = FindComponent(component);
    if (index >= 0)
        FList[static_cast<size_t>(index)]->Save();
}

void TLayoutManager::DeleteData()
{
    for (size_t i = 0; i < FList.size(); ++i)
        FList[i]->DeleteData();
}

void TLayoutManager::DeleteData(QObject* component)
{
    const int index = FindComponent(component);
    if (index >= 0)
        FList[static_cast<size_t>(index)]->DeleteData();
}

int TLayoutManager::FindComponent(const QObject* component) const
{
    if (!component)
        return -1;
    for (size_t i = 0; i < FList.size(); ++i)
        if (FList[i]->Component() == component)
            return static_cast<int>(i);
    return -1;
}

void TLayoutManager::SetOptions(QWidget* control, TLayoutManagerControlOptions options)
{
    const int index = FindComponent(control);
    if (index >= 0 && IsValidWindow(control))
        FList[static_cast<size_t>(index)]->SetOptions(options);
}

TLayoutManagerControl* TLayoutManager::GetControl(int index) const
{
    if (index < 0 || index >= Count())
        throw ELayoutManager(QStringLiteral("List index out of bounds (%1)").arg(index));
    return FList[static_cast<size_t>(index)].get();
}

void TLayoutManager::SetStorage(std::shared_ptr<ILayoutManagerStorage> value)
{
    if (value == FStorage)
        return;
    FStorage = std::move(value);
    for (const std::unique_ptr<TLayoutManagerControl>& entry : FList)
        entry->SetStorage(FStorage);
}

void TLayoutManager::ReadSavedProps(const QString& section, QStringList& list)
{
    list.clear();
    const std::shared_ptr<ILayoutManagerStorage> storage = FStorage;
    if (!storage)
        return;
    CloseAfter(*storage, [&] {
        storage->Open(true);
        storage->ReadSection(section, list);
    });
}

QVariant TLayoutManager::ReadSavedProp(const QString& section, const QString& name, const QVariant& defaultValue)
{
    const std::shared_ptr<ILayoutManagerStorage> storage = FStorage;
    if (!storage)
        return defaultValue.toString();
    QString value;
    CloseAfter(*storage, [&] {
        storage->Open(true);
        value = storage->ReadString(section, name, defaultValue.toString());
    });
    return value;
}

void TLayoutManager::SetStoredValues(const TLayoutManagerValues& value)
{
    FValues->Assign(value);
}

QVariant TLayoutManager::GetValueByName(const QString& name) const
{
    return FValues->GetValueByName(name);
}

void TLayoutManager::SetValueByName(const QString& name, const QVariant& value)
{
    FValues->SetValueByName(name, value);
}
