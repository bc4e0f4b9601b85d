#include "tests/platform/shell32ui/FakeFileManager.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMutexLocker>

#include <atomic>

namespace shell32uitest {

namespace {

const QString ServiceName = QStringLiteral("org.freedesktop.FileManager1");
const QString ObjectPath = QStringLiteral("/org/freedesktop/FileManager1");
std::atomic<int> Instances{0};

} // namespace

class FakeFileManager::Service : public QDBusVirtualObject {
public:
    Service(FakeFileManager& owner, Answer answer) : FOwner(owner), FAnswer(answer) {}

    QString introspect(const QString&) const override
    {
        return QStringLiteral("<interface name=\"org.freedesktop.FileManager1\">"
                              "<method name=\"ShowItemProperties\"><arg type=\"as\" name=\"uris\" direction=\"in\"/>"
                              "<arg type=\"s\" name=\"startupId\" direction=\"in\"/></method></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != ServiceName || message.member() != QLatin1String("ShowItemProperties"))
            return false;
        const QList<QVariant> arguments = message.arguments();
        PropertiesCall call;
        if (arguments.size() == 2) {
            call.Uris = arguments[0].toStringList();
            call.StartupId = arguments[1].toString();
        }
        FOwner.Note(call);
        switch (FAnswer) {
        case Answer::Reply: connection.send(message.createReply()); break;
        case Answer::Error:
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                                     QStringLiteral("cannot show that")));
            break;
        case Answer::Silence: break; // the caller's time runs out
        }
        return true;
    }

private:
    FakeFileManager& FOwner;
    Answer FAnswer;
};

FakeFileManager::FakeFileManager(const QString& busAddress, Answer answer)
    : FConnectionName(QStringLiteral("fake-file-manager-%1").arg(++Instances)),
      FService(std::make_unique<Service>(*this, answer))
{
    FThread.start();
    FService->moveToThread(&FThread);
    QDBusConnection connection = QDBusConnection::connectToBus(busAddress, FConnectionName);
    FRegistered = connection.isConnected() && connection.registerVirtualObject(ObjectPath, FService.get()) &&
                  connection.registerService(ServiceName);
}

FakeFileManager::~FakeFileManager()
{
    {
        QDBusConnection connection(FConnectionName);
        connection.unregisterService(ServiceName);
        connection.unregisterObject(ObjectPath);
    }
    QDBusConnection::disconnectFromBus(FConnectionName);
    FThread.quit();
    FThread.wait();
}

QList<PropertiesCall> FakeFileManager::Calls() const
{
    const QMutexLocker locker(&FLock);
    return FCalls;
}

void FakeFileManager::Note(const PropertiesCall& call)
{
    const QMutexLocker locker(&FLock);
    FCalls.append(call);
}

} // namespace shell32uitest
