#include "app/PostMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <QWidget>

#include <atomic>

namespace {

std::atomic<PostMessageBoxImpl*> g_instance{nullptr};

QWidget* FindMessageBoxParent()
{
    QWidget* window = QApplication::activeWindow();
    // A dialog's active window may itself belong to another window: use the outermost one.
    while (window) {
        auto* parentWidget = qobject_cast<QWidget*>(window->parent());
        if (!parentWidget)
            break;
        window = parentWidget->window();
    }
    return window;
}

} // namespace

PostMessageBoxImpl::PostMessageBoxImpl(QObject* parent) : QObject(parent) {}

PostMessageBoxImpl::~PostMessageBoxImpl()
{
    PostMessageBoxImpl* self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}

PostMessageBoxImpl* PostMessageBoxImpl::CreateInstance(QObject* application)
{
    if (PostMessageBoxImpl* existing = g_instance.load())
        return existing;
    auto* impl = new PostMessageBoxImpl(application);
    g_instance.store(impl);
    return impl;
}

PostMessageBoxImpl* PostMessageBoxImpl::Instance()
{
    return g_instance.load();
}

void PostMessageBoxImpl::ShowMessageBox(QString msg)
{
    QMessageBox box(QMessageBox::Information, QString(), msg, QMessageBox::Ok,
                    FindMessageBoxParent());
    box.exec();
}

void PostMessageBox(const QString& msg)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    if (PostMessageBoxImpl* impl = PostMessageBoxImpl::Instance()) {
        QMetaObject::invokeMethod(impl, "ShowMessageBox", Qt::QueuedConnection,
                                  Q_ARG(QString, msg));
        return;
    }
    // No receiver yet: create it in the user-interface thread, from that thread's event loop.
    QMetaObject::invokeMethod(
        app,
        [app, msg]() {
            PostMessageBoxImpl* impl = PostMessageBoxImpl::CreateInstance(app);
            impl->ShowMessageBox(msg);
        },
        Qt::QueuedConnection);
}
