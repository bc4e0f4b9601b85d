// The update check's worker: fetches one address over HTTP or HTTPS with the Internet services,
// collecting the body as lines of text (the update page) or saving it to a file (the update file).
// It hands its progress to the thread that created it after every chunk and polls an abort flag;
// an abort also closes the request, which ends a wait for the server at once.
#pragma once

#include "platform/include/win/wininet.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

// Progress of a transfer: the announced body length (0 when none was announced) and the bytes
// received so far. Sender is the worker.
using TDownloadEvent = std::function<void(QObject* Sender, int32_t Total, int32_t Downloaded)>;

// A page collected in text mode is refused beyond this size: the update page is small, and what
// the network sends is not trusted.
inline constexpr uint32_t MaxPageSize = 1024 * 1024;

// Created running; its owner waits for Terminated(), reads Success, Error and Info, and frees it.
// It is started from its constructor, so it cannot be derived from. The object lives in the
// creating thread (progress is handed to it there); the transfer runs in a thread of its own, which
// freeing the object joins, so that nothing of it outlives the object.
class TDownloadThread final : public QObject {
public:
    // Each argument goes to the field of the same name. The progress callback runs in the thread
    // that creates the worker, which must process its events while the worker runs.
    TDownloadThread(const QString& AURL, const QString& AAltURL, const QString& AUserName, const QString& APassword,
                    uint16_t APort, bool ABinary, bool ASaveToFile, const QString& AFileName, TDownloadEvent ACallback);
    // Waits for the thread to end; a transfer still running is aborted first.
    ~TDownloadThread() override;
    TDownloadThread(const TDownloadThread&) = delete;
    TDownloadThread& operator=(const TDownloadThread&) = delete;

    // Ends the transfer from any thread: a send or read that waits for the server ends now (the
    // request is closed under it), and the worker stops at its next check: after sending, after
    // the length query, before each read. It then ends with Success false and Error unchanged.
    void Abort();

    // Set once the thread body has stored its result; Success, Error and Info are final then.
    [[nodiscard]] bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
    // Blocks until the thread has ended, for an owner without events to process.
    void WaitFor();
    [[nodiscard]] bool Success() const { return FSuccess; }
    [[nodiscard]] const QString& Error() const { return FError; }
    [[nodiscard]] const QStringList& Info() const { return FInfo; }
    // Null only when the thread could not be started.
    [[nodiscard]] Qt::HANDLE ThreadId() const { return FThreadId; }

    // Host and path of an address. "http://" or "https://" (in any letter case) is taken off when
    // the address begins with it; the host then runs up to the first "/" and the path from there
    // ("/" when there is none). Without a scheme the text up to the first "/" is the host, and an
    // address without any "/" is a path with no host (a name relative to another address). A port
    // or user information written into the address stays part of the host.
    static void ParseURL(const QString& URL, QString& Host, QString& Path);

private:
    // The thread body.
    void Execute();
    [[nodiscard]] bool DoDownload();
    void DoProgress();
    // Hands DoProgress to the creating thread and waits until it has run there.
    void Synchronize();

    QString FURL;
    QString FAltURL;
    QString FUserName;
    QString FPassword;
    QString FFileName;
    QString FError;
    uint16_t FPort;
    bool FBinary;
    bool FSaveToFile;
    std::atomic<bool> FAborting{false};
    // The open request, closed by whichever comes first: the worker when it is done, or Abort.
    std::atomic<HINTERNET> FRequest{nullptr};
    bool FSuccess = false;
    TDownloadEvent FCallback;
    int32_t FFileSize = 0;
    uint32_t FDownloadSize = 0;
    uint32_t FDownloadedSize = 0;
    QStringList FInfo;

    std::atomic<bool> FTerminated{false};
    Qt::HANDLE FThreadId = nullptr;
    std::thread FThread;

    // The progress hand-over: the worker waits until the creating thread has run DoProgress, or
    // until the worker is being destroyed (then nothing runs any more).
    std::mutex FHandoverLock;
    std::condition_variable FHandoverDone;
    uint64_t FHandoversPosted = 0;
    uint64_t FHandoversRun = 0;
    bool FHandoverClosed = false;
};
