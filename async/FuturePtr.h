#pragma once

#include <string>
#include <vector>

#include <QMetaType>
#include <QObject>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/future.hpp>

#include "async/FutureThen.h"
#include "comms/ByteVec.h"

// A future moved into a shared pointer, so that it survives the copy a queued Qt call makes of
// its arguments. Receiving slots take it by value: void HandleNewData(FuturePtr<ByteVec>::type).
template <class T> struct FuturePtr
{
    typedef boost::shared_ptr<boost::future<T>> type;
};

// The name under which FuturePtr<T>::type is registered as a Qt meta-type. Only the types that
// are delivered to slots have one; a further type is added by specialising this template (the
// card parameters do so beside their own declaration).
template <class T> struct FuturePtrMetaTypeName
{
    static const char* Name() { return nullptr; }
};

template <> struct FuturePtrMetaTypeName<void>
{
    static const char* Name() { return "FuturePtr<void>::type"; }
};

template <> struct FuturePtrMetaTypeName<std::string>
{
    static const char* Name() { return "FuturePtr< std::string >::type"; }
};

template <> struct FuturePtrMetaTypeName<std::vector<std::string>>
{
    static const char* Name() { return "FuturePtr< std::vector<std::string> >::type"; }
};

template <> struct FuturePtrMetaTypeName<std::vector<float>>
{
    static const char* Name() { return "FuturePtr< std::vector<float> >::type"; }
};

template <> struct FuturePtrMetaTypeName<ByteVec>
{
    static const char* Name() { return "FuturePtr< ByteVec >::type"; }
};

namespace AsyncDetail {
void InvokeWithFuturePtr(QObject* receiver, const char* slotName, int typeId, const void* ptr);
}

// Registers FuturePtr<T>::type under its name (once per T) and returns the type id, or 0 when T
// has no registered name.
template <class T> int RegisterFuturePtrMetaType()
{
    static const int id =
        FuturePtrMetaTypeName<T>::Name()
            ? qRegisterMetaType<typename FuturePtr<T>::type>(FuturePtrMetaTypeName<T>::Name())
            : 0;
    return id;
}

// Moves fut into a FuturePtr and calls receiver's slot slotName with it through Qt's automatic
// connection: a receiver living in another thread gets the call queued in its own thread.
// Called from any thread. A type without a registered name is reported with a critical
// message and nothing is delivered.
template <class T>
void DeliverFutureToSlot(boost::future<T>& fut, QObject* receiver, const char* slotName)
{
    typename FuturePtr<T>::type ptr(new boost::future<T>(std::move(fut)));
    AsyncDetail::InvokeWithFuturePtr(receiver, slotName, RegisterFuturePtrMetaType<T>(), &ptr);
}

// Delivers fut to receiver's slot once it is ready. The receiver must own then, so that it
// cannot be destroyed while the delivery is still being prepared.
template <class T>
void ThenDeliverToSlot(FutureThen& then, boost::future<T> fut, QObject* receiver,
                       const char* slotName)
{
    const std::string slot(slotName);
    then.Then<void, T>(std::move(fut), [receiver, slot](boost::future<T>& ready) {
        DeliverFutureToSlot<T>(ready, receiver, slot.c_str());
    });
}
