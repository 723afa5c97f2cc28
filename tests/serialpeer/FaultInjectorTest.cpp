#include "simulator/FaultInjector.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "modbus/ModbusCrc.h"
#include "tests/serialpeer/Framed.h"

namespace {

using Fault = FaultInjector::Fault;

TEST(FaultInjectorTest, FaultTextsAreParsedOrRefusedWithTheReason)
{
    struct Case
    {
        const char* text;
        Fault fault;
        unsigned every, ms, code;
        const char* described; // empty: refused with this text instead
        const char* refusal;
    };
    const Case cases[] = {
        {"none", Fault::None, 1, 0, 4, "none", ""},
        {" late-reply ", Fault::LateReply, 1, 0, 4, "late-reply on every request, 1500 ms late",
         ""},
        {"late-reply,every=3,ms=2500", Fault::LateReply, 3, 2500, 4,
         "late-reply on one request in 3, 2500 ms late", ""},
        {"chunks ms=5", Fault::Chunks, 1, 5, 4, "chunks on every request, 5 ms between pieces", ""},
        {"exception code=6", Fault::Exception, 1, 0, 6, "exception on every request, code 6", ""},
        {"hangup", Fault::Hangup, 1, 0, 4, "hangup on every request, away for 2000 ms", ""},
        {"", Fault::None, 0, 0, 0, nullptr, "no fault named"},
        {"flood", Fault::None, 0, 0, 0, nullptr, "unknown fault flood"},
        {"no-reply every=0", Fault::None, 0, 0, 0, nullptr, "bad value for every: 0"},
        {"no-reply every=-2", Fault::None, 0, 0, 0, nullptr, "bad value for every: -2"},
        {"garbage ms=", Fault::None, 0, 0, 0, nullptr, "bad value for ms: "},
        {"bad-crc often", Fault::None, 0, 0, 0, nullptr, "unknown fault setting often"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        if (!c.described) {
            try {
                FaultInjector::Parse(c.text);
                ADD_FAILURE() << "accepted";
            } catch (const std::invalid_argument& e) {
                EXPECT_EQ(std::string(e.what()).rfind(c.refusal, 0), 0u) << e.what();
            }
            continue;
        }
        const FaultInjector::Setting s = FaultInjector::Parse(c.text);
        EXPECT_EQ(s.fault, c.fault);
        EXPECT_EQ(s.every, c.every);
        EXPECT_EQ(s.ms, c.ms);
        EXPECT_EQ(s.code, c.code);
        EXPECT_EQ(FaultInjector::Describe(s), c.described);
    }
}

// Each fault reshapes what it should, on the requests it should hit, and nothing else.
TEST(FaultInjectorTest, FaultsHitEveryNthRequestAndReshapeOnlyWhatTheyName)
{
    const ByteVec request = Framed({0x01, 0x04, 0x03, 0x88, 0x00, 0x01});
    ByteVec body = {0x01, 0x03, 0x30};
    for (unsigned char i = 0; i < 48; ++i)
        body.push_back(i);
    const ByteVec reply = Framed(body); // 53 bytes

    FaultInjector injector;
    EXPECT_EQ(injector.OnRequest(request).kind, FaultInjector::RequestAction::Pass);
    ASSERT_EQ(injector.OnReply(reply).size(), 1u);

    injector.Set(FaultInjector::Parse("no-reply every=2"));
    EXPECT_EQ(injector.OnRequest(request).kind, FaultInjector::RequestAction::Pass);
    EXPECT_EQ(injector.OnRequest(request).kind, FaultInjector::RequestAction::Swallow);
    EXPECT_EQ(injector.OnReply(reply).front().bytes, reply) << "a request fault spares replies";

    injector.Set(FaultInjector::Parse("exception"));
    const auto answer = injector.OnRequest(request);
    EXPECT_EQ(answer.kind, FaultInjector::RequestAction::Answer);
    EXPECT_EQ(answer.answer, Framed({0x01, 0x84, 0x04}));

    injector.Set(FaultInjector::Parse("hangup ms=700"));
    const auto hangUp = injector.OnRequest(request);
    EXPECT_EQ(hangUp.kind, FaultInjector::RequestAction::HangUp);
    EXPECT_EQ(hangUp.hangUpMs, 700u);

    injector.Set(FaultInjector::Parse("bad-crc"));
    EXPECT_EQ(injector.OnRequest(request).kind, FaultInjector::RequestAction::Pass);
    const ByteVec broken = injector.OnReply(reply).front().bytes;
    ASSERT_EQ(broken.size(), reply.size());
    EXPECT_FALSE(HasValidModbusCrc(broken.data(), broken.size()));
    EXPECT_TRUE(std::equal(reply.begin(), reply.end() - 1, broken.begin()));

    injector.Set(FaultInjector::Parse("garbage"));
    for (int i = 0; i < 20; ++i) {
        const ByteVec noisy = injector.OnReply(reply).front().bytes;
        ASSERT_GE(noisy.size(), reply.size() + 1);
        ASSERT_LE(noisy.size(), reply.size() + 6) << "more than the master tolerates";
        EXPECT_TRUE(std::equal(reply.begin(), reply.end(), noisy.end() - long(reply.size())));
    }

    injector.Set(FaultInjector::Parse("late-reply"));
    const auto late = injector.OnReply(reply);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_GT(late[0].delay.count(), long(FaultInjector::masterTimeoutMs));
    EXPECT_EQ(late[0].bytes, reply);

    injector.Set(FaultInjector::Parse("chunks ms=15"));
    ByteVec joined;
    const auto pieces = injector.OnReply(reply);
    ASSERT_EQ(pieces.size(), 7u); // 53 bytes in pieces of 8
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].delay.count(), i == 0 ? 0 : 15);
        joined.insert(joined.end(), pieces[i].bytes.begin(), pieces[i].bytes.end());
    }
    EXPECT_EQ(joined, reply);

    injector.Set(FaultInjector::Parse("none"));
    EXPECT_EQ(injector.OnReply(reply).front().bytes, reply);
    const FaultInjector::Counts counts = injector.GetCounts();
    EXPECT_EQ(counts.switches, 8u);
    EXPECT_EQ(counts.faulted, 1u + 1 + 1 + 1 + 20 + 1 + 1);
}

} // namespace
