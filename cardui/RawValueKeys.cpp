#include "cardui/RawValueKeys.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QObject>
#include <QPointer>

namespace {

class RawValueKeyWatcher : public QObject
{
public:
    explicit RawValueKeyWatcher(QObject* parent) : QObject(parent) {}

    bool rHeld = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_R)
                rHeld = true;
            break;
        case QEvent::KeyRelease: {
            // Auto-repeat sends release/press pairs while the key stays down.
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_R && !key->isAutoRepeat())
                rHeld = false;
            break;
        }
        case QEvent::ApplicationDeactivate:
            // The release would go to another program's window.
            rHeld = false;
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

QPointer<RawValueKeyWatcher>& Watcher()
{
    static QPointer<RawValueKeyWatcher> watcher;
    return watcher;
}

} // namespace

void InstallRawValueKeyWatcher()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || Watcher())
        return;
    Watcher() = new RawValueKeyWatcher(app);
    app->installEventFilter(Watcher());
}

bool AreRawValueKeysHeld()
{
    const bool shift = QGuiApplication::keyboardModifiers() & Qt::ShiftModifier;
    return shift && Watcher() && Watcher()->rHeld;
}
