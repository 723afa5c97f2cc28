#pragma once

#include <array>
#include <string>

#include <QGenericArgument>
#include <QObject>

// A slot call prepared for later: the target, the slot's name and heap copies of up to ten
// arguments, made through the Qt meta-type system so that the caller's values may go away.
// The package owns its copies. Executing it belongs to the event-loop logic of the application.
//
// Threads: built and destroyed on any one thread at a time; the target is not owned.
class QtSlotCallPackage
{
public:
    static constexpr int MaxArguments = 10;

    // Throws ExceptionWithString "QtSlotCallPackage: invalid type" for an argument whose type is
    // not known to the meta-type system; copies made so far are released.
    QtSlotCallPackage(
        QObject* target, const char* slotName, QGenericArgument a1 = QGenericArgument(),
        QGenericArgument a2 = QGenericArgument(), QGenericArgument a3 = QGenericArgument(),
        QGenericArgument a4 = QGenericArgument(), QGenericArgument a5 = QGenericArgument(),
        QGenericArgument a6 = QGenericArgument(), QGenericArgument a7 = QGenericArgument(),
        QGenericArgument a8 = QGenericArgument(), QGenericArgument a9 = QGenericArgument(),
        QGenericArgument a10 = QGenericArgument());
    ~QtSlotCallPackage();
    QtSlotCallPackage(const QtSlotCallPackage&) = delete;
    QtSlotCallPackage& operator=(const QtSlotCallPackage&) = delete;

    QObject* Target() const { return m_target; }
    const std::string& SlotName() const { return m_slotName; }
    // Empty / null for positions not used.
    const std::string& TypeName(int position) const { return m_typeNames.at(position); }
    void* Value(int position) const { return m_values.at(position); }
    // The copied arguments as Qt expects them for QMetaObject::invokeMethod.
    QGenericArgument Argument(int position) const;

private:
    void Release();

    QObject* m_target;
    std::string m_slotName;
    std::array<std::string, MaxArguments> m_typeNames;
    std::array<void*, MaxArguments> m_values;
};
