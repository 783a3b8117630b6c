#pragma once

#include <QObject>

class QSocketNotifier;

namespace kelvo {

// Turns SIGTERM and SIGINT into a Qt signal on the main thread. The signal
// handler only writes one byte into a socket pair; everything else happens
// when the event loop reads it. One object per process.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace kelvo
