#pragma once

#include <string>

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
