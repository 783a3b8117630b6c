// The windows' message pump: the first call and every call with an interval
// of 0 process events; otherwise the clock is read once in a round of calls
// and events are processed at the first read after the interval has passed.
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
    void clockReadOncePerRoundOfCalls();
    void eventsRunAtTheFirstReadPastTheInterval();
    void pumpNowStartsANewRound();
};

void TestEventLoopPump::firstCallProcessesEvents()
{
    Receiver receiver;
    EventLoopPump pump(3600 * 1000);
    post(receiver);
    pump.pump();
    QCOMPARE(receiver.delivered, 1);
    QCOMPARE(pump.runs(), 1);
    QCOMPARE(pump.clockReads(), 0);
    // An hour is not over: nothing more runs, however often it is called.
    post(receiver);
    for (int i = 0; i < 10 * pump.callsPerClockRead(); ++i)
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
    QCOMPARE(pump.clockReads(), 0);
}

void TestEventLoopPump::clockReadOncePerRoundOfCalls()
{
    EventLoopPump pump(3600 * 1000, 8);
    QCOMPARE(pump.callsPerClockRead(), 8);
    pump.pump(); // runs, and starts the clock
    for (int i = 0; i < 7; ++i)
        pump.pump();
    QCOMPARE(pump.clockReads(), 0);
    pump.pump();
    QCOMPARE(pump.clockReads(), 1);
    for (int i = 0; i < 80; ++i)
        pump.pump();
    QCOMPARE(pump.clockReads(), 11);
    QCOMPARE(pump.runs(), 1);

    // The default round, and a round of at least one call.
    QCOMPARE(EventLoopPump().callsPerClockRead(), EventLoopPump::DefaultCallsPerClockRead);
    EventLoopPump everyCall(3600 * 1000, 0);
    everyCall.pump();
    everyCall.pump();
    everyCall.pump();
    QCOMPARE(everyCall.clockReads(), 2);
}

void TestEventLoopPump::eventsRunAtTheFirstReadPastTheInterval()
{
    Receiver receiver;
    EventLoopPump pump(1, 8);
    pump.pump();
    QCOMPARE(pump.runs(), 1);
    QThread::msleep(20); // well past the interval
    post(receiver);
    // The rest of the round passes without a look at the clock...
    for (int i = 0; i < 7; ++i)
        pump.pump();
    QCOMPARE(pump.runs(), 1);
    QCOMPARE(receiver.delivered, 0);
    // ...the next call reads it and processes the events.
    pump.pump();
    QCOMPARE(pump.runs(), 2);
    QCOMPARE(receiver.delivered, 1);
}

void TestEventLoopPump::pumpNowStartsANewRound()
{
    Receiver receiver;
    EventLoopPump pump(3600 * 1000, 4);
    post(receiver);
    pump.pumpNow();
    QCOMPARE(receiver.delivered, 1);
    QCOMPARE(pump.runs(), 1);
    for (int i = 0; i < 3; ++i)
        pump.pump();
    QCOMPARE(pump.clockReads(), 0);
    pump.pump();
    QCOMPARE(pump.clockReads(), 1);
    QCOMPARE(pump.runs(), 1);
}

QTEST_GUILESS_MAIN(TestEventLoopPump)
#include "tst_eventlooppump.moc"
