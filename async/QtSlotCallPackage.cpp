#include "async/QtSlotCallPackage.h"

#include <QMetaType>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"

QtSlotCallPackage::QtSlotCallPackage(QObject* target, const char* slotName, QGenericArgument a1,
                                     QGenericArgument a2, QGenericArgument a3, QGenericArgument a4,
                                     QGenericArgument a5, QGenericArgument a6, QGenericArgument a7,
                                     QGenericArgument a8, QGenericArgument a9, QGenericArgument a10)
    : m_target(target), m_slotName(slotName ? slotName : "")
{
    m_values.fill(nullptr);
    const QGenericArgument args[MaxArguments] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10};
    for (int i = 0; i < MaxArguments; ++i) {
        if (!args[i].data()) {
            continue;
        }
        const char* name = args[i].name() ? args[i].name() : "";
        m_typeNames[i] = name;
        const int type = QMetaType::type(name);
        if (type == QMetaType::UnknownType) {
            Release();
            boost::throw_exception(ExceptionWithString("QtSlotCallPackage: invalid type"));
        }
        m_values[i] = QMetaType::create(type, args[i].data());
    }
}

QtSlotCallPackage::~QtSlotCallPackage()
{
    Release();
}

QGenericArgument QtSlotCallPackage::Argument(int position) const
{
    if (!m_values.at(position)) {
        return QGenericArgument();
    }
    return QGenericArgument(m_typeNames[position].c_str(), m_values[position]);
}

void QtSlotCallPackage::Release()
{
    for (int i = 0; i < MaxArguments; ++i) {
        if (m_values[i]) {
            QMetaType::destroy(QMetaType::type(m_typeNames[i].c_str()), m_values[i]);
            m_values[i] = nullptr;
        }
    }
}
