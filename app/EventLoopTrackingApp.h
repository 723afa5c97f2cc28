#pragma once

#include <list>
#include <memory>

#include <QApplication>

class QMessageBox;
class QtSlotCallPackage;

// The program's application object. It counts how deeply event dispatch is nested, so that
// slot calls that replace whole windows (PostSlotCall) never run inside a modal loop opened by an
// event handler; it turns any std::exception escaping an event handler into one critical box
// followed by an orderly quit; and it gives every top-level window its one-pixel nudge
// (DpiHackery).
//
// Threads: user-interface thread only.
class EventLoopTrackingApp : public QApplication
{
    Q_OBJECT

public:
    EventLoopTrackingApp(int& argc, char** argv);
    ~EventLoopTrackingApp() override;

    // Runs call's slot at once when called from the outermost event handler (or outside event
    // dispatch); otherwise keeps a copy and runs it when the outermost dispatch returns, unless
    // the target has been destroyed by then. Throws ExceptionWithString
    // "EventLoopTrackingApp not in use" when the application object is of another type.
    static void PostSlotCall(const QtSlotCallPackage& call);

    bool notify(QObject* receiver, QEvent* event) override;

    // Number of notify calls on the stack; 0 outside event dispatch.
    int DispatchDepth() const { return m_dispatchDepth; }
    // Calls waiting for the outermost dispatch to end.
    int DeferredCallCount() const { return static_cast<int>(m_deferredCalls.size()); }
    // The unexpected-error box while it is shown, else null.
    QMessageBox* CriticalBox() const { return m_criticalBox; }

public slots:
    void OnSlotOwnerDestroyed(QObject* slotOwner);

private:
    void DeferOrInvoke(const QtSlotCallPackage& call);
    static void Invoke(const QtSlotCallPackage& call);
    void DrainDeferredCalls();
    void ShowCriticalErrorAndQuit(const char* what);
    void NudgeNewTopLevelWindow(QObject* receiver, QEvent* event);

    int m_dispatchDepth = 0;
    bool m_draining = false;
    QMessageBox* m_criticalBox = nullptr;
    std::list<std::unique_ptr<QtSlotCallPackage>> m_deferredCalls;
};
