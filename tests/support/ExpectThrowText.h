#pragma once

#include <string>
#include <typeinfo>

#include <boost/throw_exception.hpp>

#include <gtest/gtest.h>

// Runs statement, expecting it to throw E with exactly this text.
#define EXPECT_THROW_TEXT(statement, E, text)                                                      \
    do {                                                                                           \
        try {                                                                                      \
            statement;                                                                             \
            ADD_FAILURE() << "no exception from " #statement;                                      \
        } catch (const E& e_) {                                                                    \
            EXPECT_EQ(std::string(e_.what()), std::string(text));                                  \
        }                                                                                          \
    } while (0)

// Errors are thrown with boost::throw_exception, which wraps them: the type a catch-all sees.
template <class E> const std::type_info& Thrown()
{
    return typeid(boost::wrapexcept<E>);
}
