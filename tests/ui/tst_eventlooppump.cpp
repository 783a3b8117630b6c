// The windows' message pump: the first call and every call with an interval
// of 0 process events; otherwise events are processed once the interval has
// passed since the last time, and not before.
#include "EventLoopPump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QThread>

using namespace kelvo;

namespace {

// Counts the events posted to it that have been delivered.
class Receiver : public QObject
{
public:
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        ++delivered;
        return true;
    }
    int delivered = 0;
};

void post(Receiver &receiver)
{
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
}

} // namespace

class TestEventLoopPump : public QObject
{
    Q_OBJECT

private slots:
    void firstCallProcessesEvents();
    void intervalZeroProcessesEveryCall();
    void eventsRunOnceTheIntervalHasPassed();
    void aShortLoopAfterAPauseRunsEventsAtOnce();
    void pumpNowStartsTheIntervalAgain();
};

void TestEventLoopPump::firstCallProcessesEvents()
{
    Receiver receiver;
    EventLoopPump pump(3600 * 1000);
    post(receiver);
    pump.pump();
    QCOMPARE(receiver.delivered, 1);
    QCOMPARE(pump.runs(), 1);
    // An hour is not over: nothing more runs, however often it is called.
    post(receiver);
    for (int i = 0; i < 100000; ++i)
        pump.pump();
    QCOMPARE(receiver.delivered, 1);
    QCOMPARE(pump.runs(), 1);
}

void TestEventLoopPump::intervalZeroProcessesEveryCall()
{
    Receiver receiver;
    EventLoopPump pump(0);
    for (int i = 1; i <= 100; ++i) {
        post(receiver);
        pump.pump();
        QCOMPARE(receiver.delivered, i);
    }
    QCOMPARE(pump.runs(), 100);
}

void TestEventLoopPump::eventsRunOnceTheIntervalHasPassed()
{
    Receiver receiver;
    EventLoopPump pump(1);
    pump.pump();
    QCOMPARE(pump.runs(), 1);
    QThread::msleep(20); // well past the interval and the clock's steps
    post(receiver);
    pump.pump();
    QCOMPARE(pump.runs(), 2);
    QCOMPARE(receiver.delivered, 1);
}

void TestEventLoopPump::aShortLoopAfterAPauseRunsEventsAtOnce()
{
    // A save of a few nodes some time after a long loop: its first call
    // lets the events that came meanwhile run.
    Receiver receiver;
    EventLoopPump pump(10);
    for (int i = 0; i < 1000; ++i)
        pump.pump();
    QCOMPARE(pump.runs(), 1);
    QTest::qWait(40);
    post(receiver);
    pump.pump();
    QCOMPARE(pump.runs(), 2);
    QCOMPARE(receiver.delivered, 1);
}

void TestEventLoopPump::pumpNowStartsTheIntervalAgain()
{
    Receiver receiver;
    EventLoopPump pump(3600 * 1000);
    post(receiver);
    pump.pumpNow();
    QCOMPARE(receiver.delivered, 1);
    post(receiver);
    pump.pumpNow(); // now, whatever the interval
    QCOMPARE(receiver.delivered, 2);
    pump.pump();
    QCOMPARE(pump.runs(), 2);
}

QTEST_GUILESS_MAIN(TestEventLoopPump)
#include "tst_eventlooppump.moc"
