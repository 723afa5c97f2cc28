#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <boost/thread/future.hpp>

#include <gtest/gtest.h>

#include "async/FuturePtr.h"
#include "modbus/ModbusErrors.h"

namespace {

class Receiver : public QObject
{
    Q_OBJECT
public:
    int calls = 0;
    QThread* thread = nullptr;
    FuturePtr<std::string>::type text;
    FuturePtr<void>::type done;
    FuturePtr<ByteVec>::type bytes;

public slots:
    void HandleNewData(FuturePtr<std::string>::type fut)
    {
        ++calls;
        thread = QThread::currentThread();
        text = fut;
    }
    void HandleSnapshotGathered(FuturePtr<void>::type fut)
    {
        ++calls;
        done = fut;
    }
    void HandleBytes(FuturePtr<ByteVec>::type fut)
    {
        ++calls;
        bytes = fut;
    }
    void HandleInt(int) { ++calls; }
};

// Runs the event loop until pred holds, at most a generous 10 s.
template <class Pred> bool ProcessEventsUntil(Pred pred)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred() && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return pred();
}

TEST(DeliverFutureToSlotTest, DeliveryIsQueuedIntoTheReceiversThread)
{
    Receiver receiver;
    FutureThen then;
    boost::promise<std::string> source;
    ThenDeliverToSlot(then, source.get_future(), &receiver, "HandleNewData");
    source.set_value("config text");

    ASSERT_TRUE(ProcessEventsUntil([&] { return receiver.calls == 1; }));
    EXPECT_EQ(receiver.thread, QThread::currentThread());
    ASSERT_TRUE(receiver.text);
    EXPECT_EQ(receiver.text->get(), "config text");
    // Registered under the normalised form of its name.
    EXPECT_NE(QMetaType::type("FuturePtr<std::string>::type"), 0);
}

TEST(DeliverFutureToSlotTest, ErrorsReachTheSlotInsideTheFuture)
{
    Receiver receiver;
    FutureThen then;
    boost::promise<void> source;
    ThenDeliverToSlot(then, source.get_future(), &receiver, "HandleSnapshotGathered");
    try {
        boost::throw_exception(Modbus::TimeoutError("No reply from node"));
    } catch (...) {
        source.set_exception(boost::current_exception());
    }
    ASSERT_TRUE(ProcessEventsUntil([&] { return receiver.calls == 1; }));
    ASSERT_TRUE(receiver.done);
    EXPECT_THROW(receiver.done->get(), Modbus::TimeoutError);
}

TEST(DeliverFutureToSlotTest, DestroyedFutureThenStillPostsItsPendingDelivery)
{
    Receiver receiver;
    boost::promise<ByteVec> source;
    {
        auto then = std::make_unique<FutureThen>();
        FutureThen* raw = then.get();
        ThenDeliverToSlot(*then, source.get_future(), &receiver, "HandleBytes");
        boost::thread fulfiller([&] {
            while (raw->OutstandingCount() != 0) {
                boost::this_thread::yield();
            }
            source.set_value(ByteVec{1, 2, 3});
        });
        then.reset();
        fulfiller.join();
    }
    EXPECT_EQ(receiver.calls, 0); // queued, not yet run
    ASSERT_TRUE(ProcessEventsUntil([&] { return receiver.calls == 1; }));
    EXPECT_EQ(receiver.bytes->get(), (ByteVec{1, 2, 3}));
}

QtMsgType lastType;
std::string lastMessage;

void CaptureMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    lastType = type;
    lastMessage = message.toStdString();
}

TEST(DeliverFutureToSlotTest, UndeclaredTypeIsReportedAndNotDelivered)
{
    Receiver receiver;
    boost::promise<int> source;
    source.set_value(1);
    boost::future<int> fut = source.get_future();
    lastMessage.clear();
    QtMessageHandler previous = qInstallMessageHandler(CaptureMessage);
    DeliverFutureToSlot(fut, &receiver, "HandleInt");
    qInstallMessageHandler(previous);
    EXPECT_EQ(lastType, QtCriticalMsg);
    EXPECT_EQ(lastMessage, "Calling method HandleInt the argument type is not declared "
                           "(use Q_DECLARE_METATYPE).");
    QCoreApplication::processEvents();
    EXPECT_EQ(receiver.calls, 0);
}

TEST(DeliverFutureToSlotTest, AllDeliveredTypesAreRegisteredUnderTheirNames)
{
    RegisterFuturePtrMetaType<void>();
    RegisterFuturePtrMetaType<std::string>();
    RegisterFuturePtrMetaType<std::vector<std::string>>();
    RegisterFuturePtrMetaType<std::vector<float>>();
    RegisterFuturePtrMetaType<ByteVec>();
    for (const char* name :
         {"FuturePtr<void>::type", "FuturePtr< std::string >::type",
          "FuturePtr< std::vector<std::string> >::type", "FuturePtr< std::vector<float> >::type",
          "FuturePtr< ByteVec >::type"}) {
        EXPECT_NE(QMetaType::type(QMetaObject::normalizedType(name)), 0) << name;
    }
}

} // namespace

#include "DeliverFutureToSlotTest.moc"
