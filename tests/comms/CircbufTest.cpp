#include <gtest/gtest.h>

#include "comms/Circbuf.h"

namespace {

std::string ErrorText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Circbuf::Error& e) {
        return e.what();
    }
    return "no error";
}

TEST(CircbufTest, HoldsExactlyItsCapacityInOrderAcrossTheWrap)
{
    Circbuf buf(1024);
    // Move the start near the end so the next pushes wrap.
    std::vector<unsigned char> filler(1000, 0xEE);
    buf.Push(filler.data(), 1000);
    std::vector<unsigned char> sink(1000);
    buf.Pop(1000, sink.data());
    EXPECT_EQ(buf.Start(), 1000u);

    std::vector<unsigned char> data(1024);
    for (unsigned i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7);
    buf.Push(data.data(), 1024);
    EXPECT_EQ(buf.Count(), 1024u);
    EXPECT_EQ(ErrorText([&] { buf.PushByte(1); }), "no room");
    EXPECT_EQ(buf.Peek(30), data[30]);
    EXPECT_EQ(ErrorText([&] { buf.Peek(1024); }), "invalid offset");

    std::vector<unsigned char> out(1024);
    buf.Pop(1024, out.data());
    EXPECT_EQ(out, data);
    EXPECT_EQ(ErrorText([&] { buf.PopByte(); }), "no data to return");
}

TEST(CircbufTest, PushThatDoesNotFitStoresNothing)
{
    Circbuf buf(8);
    const unsigned char five[] = {1, 2, 3, 4, 5};
    buf.Push(five, 5);
    EXPECT_EQ(ErrorText([&] { buf.Push(five, 4); }), "no room");
    EXPECT_EQ(buf.Count(), 5u);
    buf.Push(five, 3);
    EXPECT_EQ(buf.Count(), 8u);
    EXPECT_EQ(buf.Peek(7), 3);
    buf.Clear();
    EXPECT_EQ(buf.Count(), 0u);
    EXPECT_EQ(buf.Start(), 0u);
    buf.PushByte(9);
    EXPECT_EQ(buf.PopByte(), 9);
}

} // namespace
