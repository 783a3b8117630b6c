#pragma once

// Reading pictures of cards in a helper process, so that a window never
// waits for the recogniser and a crash in it never takes the program down:
// `kelvo-tool scan --dry-run --json --lines` with OMP_THREAD_LIMIT=1, one
// process for a batch of pictures, each answered as soon as it is read.

#include "CaptureResult.h"
#include "CardOcr.h"

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

namespace kelvo::capture {

class CaptureProcess : public QObject
{
    Q_OBJECT

public:
    // `toolPath` empty: kelvo-tool beside the running program, else in the
    // build tree's tool folder, else in the PATH.
    explicit CaptureProcess(const QString &toolPath = QString(), QObject *parent = nullptr);
    ~CaptureProcess() override;

    // How long one picture may take before the helper is stopped (default
    // 60 s: the first picture includes the recogniser's start).
    void setTimeoutPerPicture(int milliseconds);

    // Starts reading `pictures`; false (and nothing is emitted) while a batch
    // is running or with no pictures.
    bool start(const QStringList &pictures, const OcrOptions &options = {});
    // Stops the helper; the pictures not answered yet are not reported.
    void cancel();
    bool isRunning() const;

    static QString defaultToolPath();

signals:
    // One picture read (or not: `result.error`), in the order given.
    void cardRead(const QString &picture, const kelvo::capture::CaptureResult &result);
    // The batch is over; `error` is empty when every picture was answered,
    // else it says why the rest were not (each of them also had a cardRead
    // with that error).
    void finished(const QString &error);

private:
    void readAnswers();
    void helperFinished(int exitCode, QProcess::ExitStatus status);
    void helperFailed(QProcess::ProcessError error);
    void end(const QString &error);

    QString m_toolPath;
    QProcess *m_process = nullptr;
    QTimer m_timer;
    QByteArray m_buffer;
    QStringList m_pending;
    int m_timeout = 60000;
};

} // namespace kelvo::capture
