#pragma once

#include <QObject>
#include <QString>

// Shows an information box from any thread without opening a modal loop inside the caller.
//
// PostMessageBox may be called from any thread, including from inside paint or mouse handlers
// of the GUI thread: it only queues the box, which PostMessageBoxImpl then shows from the event
// loop of the user-interface thread. It returns at once.
void PostMessageBox(const QString& msg);

// The single receiver of posted message boxes. It lives in the user-interface thread as a child
// of the application object; the application object creates it with CreateInstance(), and
// PostMessageBox creates it on first use where that has not happened.
class PostMessageBoxImpl : public QObject
{
    Q_OBJECT

public:
    // GUI thread only. Returns the existing instance if there is one.
    static PostMessageBoxImpl* CreateInstance(QObject* application);
    // Any thread. Null before the instance exists or after the application object has gone.
    static PostMessageBoxImpl* Instance();

    ~PostMessageBoxImpl() override;

public slots:
    // GUI thread: a modal information box with an empty title, msg and an OK button, parented on
    // the top-level window that owns the active window (no parent when nothing is active).
    void ShowMessageBox(QString msg);

private:
    explicit PostMessageBoxImpl(QObject* parent);
};
