#include "async/FuturePtr.h"

#include <QMessageLogger>

namespace AsyncDetail {

void InvokeWithFuturePtr(QObject* receiver, const char* slotName, int typeId, const void* ptr)
{
    const char* typeName = typeId ? QMetaType::typeName(typeId) : nullptr;
    if (!typeName) {
        QMessageLogger().critical(
            "Calling method %s the argument type is not declared (use Q_DECLARE_METATYPE).",
            slotName);
        return;
    }
    QMetaObject::invokeMethod(receiver, slotName, Qt::AutoConnection,
                              QGenericArgument(typeName, ptr));
}

} // namespace AsyncDetail
