// A file manager on the test's private bus: it owns org.freedesktop.FileManager1, notes every
// ShowItemProperties call and answers as told. It runs in a thread of its own, so that it answers
// while the caller waits for it.
#pragma once

#include <QDBusConnection>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>

namespace shell32uitest {

struct PropertiesCall {
    QStringList Uris;
    QString StartupId;
};

class FakeFileManager {
public:
    enum class Answer { Reply, Error, Silence };

    FakeFileManager(const QString& busAddress, Answer answer);
    ~FakeFileManager();
    FakeFileManager(const FakeFileManager&) = delete;
    FakeFileManager& operator=(const FakeFileManager&) = delete;

    [[nodiscard]] bool Registered() const { return FRegistered; }
    [[nodiscard]] QList<PropertiesCall> Calls() const;

    // Called from the service's thread.
    void Note(const PropertiesCall& call);

private:
    class Service;
    QString FConnectionName;
    QThread FThread;
    std::unique_ptr<Service> FService;
    bool FRegistered = false;
    mutable QMutex FLock;
    QList<PropertiesCall> FCalls;
};

} // namespace shell32uitest
