#include <boost/thread/thread.hpp>

#include <gtest/gtest.h>

#include "tests/simulator/SimulatorClient.h"
#include "tests/support/FakeCard.h"

namespace {

typedef SimulatorClient C;

class FakeCardTest : public ::testing::Test
{
protected:
    C::Reply Ask(unsigned char functionCode, const ByteVec& data)
    {
        return client.Exchange(functionCode, data);
    }

    FakeCard card;
    SimulatorClient client{card};
};

TEST_F(FakeCardTest, IdentityDefaultsToTheSimulatedCardAndCanBeChanged)
{
    EXPECT_EQ(Ask(4, C::AddressAndCount(910, 1)).data, (ByteVec{0x02, 0x00, 0x04}));
    EXPECT_EQ(Ask(4, C::AddressAndCount(65433, 1)).data, (ByteVec{0x02, 0x00, 0x09}));
    EXPECT_EQ(Ask(4, C::AddressAndCount(902, 1)).data, (ByteVec{0x02, 0x00, 234}));
    EXPECT_EQ(Ask(2, C::AddressAndCount(908, 1)).data, (ByteVec{0x01, 0x01}));

    card.SetCardType(2);
    card.SetRegisterVersion(3);
    EXPECT_EQ(Ask(4, C::AddressAndCount(910, 1)).data, (ByteVec{0x02, 0x00, 0x02}));
    EXPECT_EQ(Ask(4, C::AddressAndCount(65433, 1)).data, (ByteVec{0x02, 0x00, 0x03}));

    FakeCard::Identity identity;
    identity.cardType = 6;
    identity.serialNumber = 0x1234;
    identity.healthy = false;
    FakeCard other(identity);
    SimulatorClient otherClient(other);
    EXPECT_EQ(otherClient.Exchange(4, C::AddressAndCount(910, 1)).data,
              (ByteVec{0x02, 0x00, 0x06}));
    EXPECT_EQ(otherClient.Exchange(4, C::AddressAndCount(900, 1)).data,
              (ByteVec{0x02, 0x12, 0x34}));
    EXPECT_EQ(otherClient.Exchange(2, C::AddressAndCount(908, 1)).data, (ByteVec{0x01, 0x00}));

    FakeCard old(1, 2);
    EXPECT_EQ(old.InputRegister(65433).value_or(ByteVec()), ByteVec({0x00, 0x02}));
    EXPECT_EQ(old.InputRegister(910).value_or(ByteVec()), ByteVec({0x00, 0x01}));
}

TEST_F(FakeCardTest, VendorCommandsGoToRegisteredHandlers)
{
    EXPECT_TRUE(IsException(Ask(100, C::Vendor(22)), 100, 1));
    ByteVec seenArguments;
    card.SetVendorHandler(22, [&](const ByteVec& arguments, ByteVec& payload) {
        seenArguments = arguments;
        payload = {'o', 'k'};
        return 0;
    });
    card.SetVendorHandler(8, [](const ByteVec&, ByteVec&) { return 2; });
    EXPECT_EQ(Ask(100, C::Vendor(22, {7, 8})).data, (ByteVec{0x04, 0x00, 0x16, 'o', 'k'}));
    EXPECT_EQ(seenArguments, (ByteVec{7, 8}));
    EXPECT_TRUE(IsException(Ask(100, C::Vendor(8)), 100, 2));
    EXPECT_TRUE(IsException(Ask(100, {0x05, 0x00, 0x16}), 100, 3)); // bad length byte

    card.SetVendorHandler(9, [](const ByteVec&, ByteVec& payload) {
        payload.assign(250, 0);
        return 0;
    });
    EXPECT_TRUE(IsException(Ask(100, C::Vendor(9)), 100, 4));
    card.RemoveVendorHandler(22);
    EXPECT_TRUE(IsException(Ask(100, C::Vendor(22)), 100, 1));
}

TEST_F(FakeCardTest, ScriptedExceptionsMostSpecificFirst)
{
    card.SetVendorHandler(22, [](const ByteVec&, ByteVec&) { return 0; });
    card.FailFunction(4, 4);
    card.FailAddress(4, 910, 2);
    card.FailFunction(100, 6);
    card.FailVendorCommand(11, 1);
    card.FailAddress(16, 9200, 3);

    EXPECT_TRUE(IsException(Ask(4, C::AddressAndCount(910, 1)), 4, 2));
    EXPECT_TRUE(IsException(Ask(4, C::AddressAndCount(911, 1)), 4, 4));
    EXPECT_TRUE(IsException(Ask(100, C::Vendor(11, {0, 0})), 100, 1));
    EXPECT_TRUE(IsException(Ask(100, C::Vendor(22)), 100, 6));
    // A refused write is not carried out; other addresses still are.
    EXPECT_TRUE(IsException(Ask(16, {0x23, 0xF0, 0x00, 0x01, 0x02, 'a', 'b'}), 16, 3));
    EXPECT_FALSE(card.HoldingRegister(9200));
    EXPECT_EQ(Ask(16, {0x23, 0xF1, 0x00, 0x01, 0x02, 'a', 'b'}).functionCode, 16);
    EXPECT_EQ(card.HoldingRegister(9201).value_or(ByteVec()), ByteVec({'a', 'b'}));
    EXPECT_EQ(Ask(3, C::AddressAndCount(9201, 1)).functionCode, 3);

    card.ClearFailures();
    EXPECT_EQ(Ask(4, C::AddressAndCount(910, 1)).data, (ByteVec{0x02, 0x00, 0x04}));
    EXPECT_EQ(Ask(100, C::Vendor(22)).functionCode, 100);
}

TEST_F(FakeCardTest, DroppedRepliesAreCarriedOutButNeverAnswered)
{
    card.DropReplies(2);
    client.Send(6, {0x02, 0x4E, 0x00, 0x05});
    client.Send(4, C::AddressAndCount(910, 1));
    // Replies come in order: the first frame to arrive answers the third request.
    EXPECT_EQ(Ask(4, C::AddressAndCount(65433, 1)).data, (ByteVec{0x02, 0x00, 0x09}));
    EXPECT_EQ(card.HoldingRegister(590).value_or(ByteVec()), ByteVec({0x00, 0x05}));

    card.SetDropAllReplies(true);
    client.Send(4, C::AddressAndCount(910, 1));
    card.SetDropAllReplies(false);
    EXPECT_EQ(Ask(4, C::AddressAndCount(902, 1)).data, (ByteVec{0x02, 0x00, 234}));
    EXPECT_FALSE(client.NextFrame(boost::chrono::milliseconds(0)));
}

TEST_F(FakeCardTest, DelayedReplyStillArrives)
{
    card.SetReplyDelay(30);
    EXPECT_EQ(Ask(4, C::AddressAndCount(910, 1)).data, (ByteVec{0x02, 0x00, 0x04}));
}

TEST_F(FakeCardTest, LogsEveryRequestInOrder)
{
    card.FailFunction(3, 2);
    Ask(4, C::AddressAndCount(910, 1));
    Ask(3, C::AddressAndCount(9200, 20));
    Ask(100, C::Vendor(21, {1}));
    client.Send(4, C::AddressAndCount(1, 1), 2); // another node: not received
    Ask(5, {0x03, 0x90, 0x00, 0x00});

    auto requests = card.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].functionCode, 4);
    EXPECT_EQ(requests[0].address, 910u);
    EXPECT_EQ(requests[0].data, C::AddressAndCount(910, 1));
    EXPECT_EQ(requests[1].functionCode, 3);
    EXPECT_EQ(requests[1].address, 9200u);
    EXPECT_TRUE(requests[2].IsVendor());
    EXPECT_EQ(requests[2].address, 21u);
    EXPECT_EQ(requests[2].VendorArguments(), ByteVec{1});
    EXPECT_EQ(requests[3].functionCode, 5);
    EXPECT_EQ(requests[3].address, 912u);
    EXPECT_TRUE(requests[3].VendorArguments().empty());

    card.ClearRequests();
    EXPECT_EQ(card.RequestCount(), 0u);
}

TEST_F(FakeCardTest, WaitForRequestsSentFromAnotherThread)
{
    EXPECT_FALSE(card.WaitForRequests(1, boost::chrono::milliseconds(0)));
    boost::thread sender([this] {
        for (unsigned i = 0; i < 5; ++i)
            card.Transmit(C::Frame(1, 4, C::AddressAndCount(i, 1)));
    });
    EXPECT_TRUE(card.WaitForRequests(5));
    sender.join();
    auto requests = card.Requests();
    ASSERT_EQ(requests.size(), 5u);
    for (unsigned i = 0; i < 5; ++i)
        EXPECT_EQ(requests[i].address, i);
}

} // namespace
