#include "app/EventLoopTrackingApp.h"

#include <exception>

#include <QMessageBox>
#include <QMetaObject>
#include <QWidget>

#include <boost/throw_exception.hpp>

#include "app/DpiHackery.h"
#include "app/PostMessageBox.h"
#include "async/QtSlotCallPackage.h"
#include "comms/ExceptionWithString.h"

namespace {

std::unique_ptr<QtSlotCallPackage> CopyOf(const QtSlotCallPackage& call)
{
    return std::make_unique<QtSlotCallPackage>(
        call.Target(), call.SlotName().c_str(), call.Argument(0), call.Argument(1),
        call.Argument(2), call.Argument(3), call.Argument(4), call.Argument(5), call.Argument(6),
        call.Argument(7), call.Argument(8), call.Argument(9));
}

} // namespace

EventLoopTrackingApp::EventLoopTrackingApp(int& argc, char** argv) : QApplication(argc, argv)
{
    PostMessageBoxImpl::CreateInstance(this);
}

EventLoopTrackingApp::~EventLoopTrackingApp() = default;

void EventLoopTrackingApp::PostSlotCall(const QtSlotCallPackage& call)
{
    auto* app = qobject_cast<EventLoopTrackingApp*>(QCoreApplication::instance());
    if (!app)
        boost::throw_exception(ExceptionWithString("EventLoopTrackingApp not in use"));
    app->DeferOrInvoke(call);
}

void EventLoopTrackingApp::DeferOrInvoke(const QtSlotCallPackage& call)
{
    if (m_dispatchDepth <= 1) {
        Invoke(call);
        return;
    }
    // A nested event loop (a modal dialog or box) runs: the call waits for it to end.
    connect(call.Target(), SIGNAL(destroyed(QObject*)), this,
            SLOT(OnSlotOwnerDestroyed(QObject*)), Qt::UniqueConnection);
    m_deferredCalls.push_back(CopyOf(call));
}

void EventLoopTrackingApp::Invoke(const QtSlotCallPackage& call)
{
    QMetaObject::invokeMethod(call.Target(), call.SlotName().c_str(), Qt::AutoConnection,
                              call.Argument(0), call.Argument(1), call.Argument(2),
                              call.Argument(3), call.Argument(4), call.Argument(5),
                              call.Argument(6), call.Argument(7), call.Argument(8),
                              call.Argument(9));
}

void EventLoopTrackingApp::OnSlotOwnerDestroyed(QObject* slotOwner)
{
    m_deferredCalls.remove_if([slotOwner](const std::unique_ptr<QtSlotCallPackage>& call) {
        return call->Target() == slotOwner;
    });
}

bool EventLoopTrackingApp::notify(QObject* receiver, QEvent* event)
{
    if (m_criticalBox && receiver->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(receiver);
        if (widget != m_criticalBox && !m_criticalBox->isAncestorOf(widget))
            return false;
    }

    ++m_dispatchDepth;
    bool result = false;
    try {
        result = QApplication::notify(receiver, event);
        NudgeNewTopLevelWindow(receiver, event);
    } catch (const std::exception& e) {
        result = false;
        ShowCriticalErrorAndQuit(e.what());
    }
    --m_dispatchDepth;

    if (m_dispatchDepth == 0 && !m_deferredCalls.empty() && !m_draining)
        DrainDeferredCalls();
    return result;
}

void EventLoopTrackingApp::DrainDeferredCalls()
{
    m_draining = true;
    while (!m_deferredCalls.empty()) {
        // Taken out of the list before it runs: a slot that destroys its own target must not
        // free the arguments it is still using.
        std::unique_ptr<QtSlotCallPackage> call = std::move(m_deferredCalls.front());
        m_deferredCalls.pop_front();
        // The slot runs outside any event handler, so its errors are caught here and end the
        // program the same way as those of event handlers.
        try {
            Invoke(*call);
        } catch (const std::exception& e) {
            ShowCriticalErrorAndQuit(e.what());
        }
    }
    m_draining = false;
}

void EventLoopTrackingApp::ShowCriticalErrorAndQuit(const char* what)
{
    // One box per run: a second error while the first box is up only confirms the quit.
    if (!m_criticalBox) {
        QMessageBox box(QMessageBox::Critical, QString(),
                        QStringLiteral("Unexpected critical error: ") + QString::fromUtf8(what));
        m_criticalBox = &box;
        box.exec();
        m_criticalBox = nullptr;
    }
    QCoreApplication::quit();
}

void EventLoopTrackingApp::NudgeNewTopLevelWindow(QObject* receiver, QEvent* event)
{
    if (event->type() != QEvent::Show || !receiver->isWidgetType())
        return;
    auto* widget = static_cast<QWidget*>(receiver);
    if (!widget->isWindow() || widget->findChild<DpiHackery*>())
        return;
    new DpiHackery(widget);
}
