#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include <boost/thread/mutex.hpp>
#include <gtest/gtest.h>

#include "modbus/ModbusCrc.h"
#include "modbus/ModbusErrors.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/CardConfigImage.h"
#include "protocol/TolvarenCommsCommon.h"
#include "simulator/FullCardSimulator.h"
#include "simulator/VendorCommandFrame.h"
#include "tests/protocol/FakeCardRig.h"

using namespace Tolvaren;

namespace {

// A vendor request as the card received it.
struct Sent
{
    unsigned subCommand;
    std::size_t argumentBytes;
    bool operator==(const Sent& o) const
    {
        return subCommand == o.subCommand && argumentBytes == o.argumentBytes;
    }
};

std::ostream& operator<<(std::ostream& out, const Sent& s)
{
    return out << s.subCommand << "(" << s.argumentBytes << ")";
}

// The full card, recording every request that changes something on it. The tool moves the
// configuration data without reading them: this card keeps whatever data it is given, so that
// the tests may choose them freely.
class RecordingCard : public FullCardSimulator
{
public:
    RecordingCard() : FullCardSimulator([] { return std::uint64_t(5000000); })
    {
        for (unsigned i = 0; i < 300; ++i)
            m_data.push_back(static_cast<unsigned char>(i * 37 + 11));
        SetVendorCommand(1, [this](const ByteVec&, ByteVec& payload, std::int64_t) {
            payload.assign(m_data.begin(), m_data.begin() + 4);
            m_readAt = 4;
            return 0;
        });
        SetVendorCommand(2, [this](const ByteVec&, ByteVec& payload, std::int64_t) {
            const std::size_t n = std::min<std::size_t>(128, m_data.size() - m_readAt);
            payload.assign(m_data.begin() + long(m_readAt), m_data.begin() + long(m_readAt + n));
            m_readAt += n;
            return 0;
        });
        SetVendorCommand(3, [this](const ByteVec& arguments, ByteVec&, std::int64_t) {
            m_writing = arguments;
            return 0;
        });
        SetVendorCommand(4, [this](const ByteVec& arguments, ByteVec&, std::int64_t) {
            if (arguments.empty())
                m_data = m_writing;
            m_writing.insert(m_writing.end(), arguments.begin(), arguments.end());
            return 0;
        });
    }

    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override
    {
        std::uint16_t subCommand = 0;
        ByteVec arguments;
        if (functionCode == VendorCommandFrame::functionCode &&
            VendorCommandFrame::ParseRequest(requestData, subCommand, arguments)) {
            boost::lock_guard<boost::mutex> guard(m_mutex);
            m_vendor.push_back(Sent{subCommand, arguments.size()});
        } else if (functionCode == 5 || functionCode == 6 || functionCode == 15 ||
                   functionCode == 16) {
            ++m_registerWrites;
        }
        return FullCardSimulator::HandleRequest(functionCode, requestData, replyData);
    }

    // The vendor requests that write: configuration, notes, EE and restart.
    std::vector<Sent> Writes() const
    {
        boost::lock_guard<boost::mutex> guard(m_mutex);
        std::vector<Sent> writes;
        for (const Sent& s : m_vendor) {
            if (s.subCommand == 3 || s.subCommand == 4 || s.subCommand == 13 ||
                s.subCommand == 14 || s.subCommand == 15 || s.subCommand == 24 ||
                s.subCommand == 25)
                writes.push_back(s);
        }
        return writes;
    }
    void Clear()
    {
        boost::lock_guard<boost::mutex> guard(m_mutex);
        m_vendor.clear();
    }
    std::atomic<int> m_registerWrites{0};

private:
    mutable boost::mutex m_mutex;
    std::vector<Sent> m_vendor;
    // Under the card's state lock, as its vendor commands run.
    ByteVec m_data{'K', 'T', 'V', 2};
    std::size_t m_readAt = 0;
    ByteVec m_writing;
};

ByteVec LE32(std::uint32_t v)
{
    return ByteVec{static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                   static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}

ByteVec Changed(ByteVec bytes, std::size_t at, unsigned char value)
{
    bytes.at(at) = value;
    return bytes;
}

ByteVec Block(const ByteVec& content)
{
    const std::size_t length = 4 + content.size();
    const std::uint16_t crc = ModbusCrc(content);
    return ByteVec{static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
                   static_cast<unsigned char>(crc), static_cast<unsigned char>(crc >> 8)} +
           content;
}

ByteVec Notes(unsigned inputs, unsigned outputs, unsigned noteAt, const std::string& text)
{
    ByteVec notes;
    for (unsigned n = 0; n < inputs + outputs; ++n)
        CardConfigImage::AppendNote(notes, n < inputs ? n : n - inputs, n == noteAt ? text : "");
    return notes;
}

ByteVec Image(int version, int type, const ByteVec& data, const ByteVec& notes,
              const ByteVec& block)
{
    ByteVec image{static_cast<unsigned char>(version), static_cast<unsigned char>(type)};
    image =
        image + LE32(std::uint32_t(data.size())) + data + LE32(std::uint32_t(notes.size())) + notes;
    if (version == 3)
        image = image + LE32(std::uint32_t(block.size())) + block;
    return image;
}

class CardConfigTest : public ::testing::Test
{
protected:
    CardConfigTest()
    {
        DEDOCardSimulator::ResetSharedStores();
        // The restart is never answered: do not wait a whole second for it.
        datalink.SetReplyTimeoutMs(200);
    }

    ByteVec Save()
    {
        TolvarenCommsCommon comms(datalink);
        return comms.GetCardConfig().get();
    }
    void Restore(const ByteVec& image)
    {
        TolvarenCommsCommon comms(datalink);
        comms.SetCardConfig(image).get();
    }

    RecordingCard card;
    ModbusMasterDatalink datalink{&card};
};

TEST_F(CardConfigTest, SaveAndRestoreRoundTripExactlyInTheCardsOrder)
{
    const ByteVec original = Save();
    ASSERT_GE(original.size(), 14u);
    EXPECT_EQ(original[0], 3);
    EXPECT_EQ(original[1], 4);
    const CardConfigImage parsed = CardConfigImage::Parse(original, [] { return 4; });
    EXPECT_EQ(parsed.notes, Notes(24, 24, 99, ""));
    CardConfigImage::CheckControlModuleBlock(parsed.controlModuleBlock);
    EXPECT_GT(parsed.controlModuleBlock.size(), 4u);

    // 133 bytes of data, a 300-byte note on output 5, a 200-byte block.
    ByteVec data(133);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(200 - i);
    const ByteVec block = Block(ByteVec(196, 0x5A));
    const ByteVec changed =
        Image(3, 4, data, Notes(24, 24, 29, std::string(290, 'n') + "\xC3\xA9\xC0\x80ok"), block);
    card.Clear();
    Restore(changed);

    std::vector<Sent> expected{{3, 4}, {4, 128}, {4, 1}, {4, 0}, {24, 132}, {24, 76}, {15, 1}};
    for (unsigned n = 0; n < 48; ++n) {
        expected.push_back({13, 2});
        if (n == 29) {
            expected.insert(expected.end(), {{14, 128}, {14, 128}, {14, 40}});
        }
        expected.push_back({14, 0});
    }
    expected.push_back({25, 0});
    EXPECT_EQ(card.Writes(), expected);
    EXPECT_EQ(Save(), changed);

    Restore(original);
    EXPECT_EQ(Save(), original);
}

TEST_F(CardConfigTest, ImagesRefusedBeforeAnythingIsWritten)
{
    const ByteVec data{1, 2, 3, 4, 5};
    const ByteVec notes = Notes(24, 24, 0, "first");
    const ByteVec block = Block(ByteVec{9, 8, 7});
    const ByteVec good = Image(3, 4, data, notes, block);
    const std::size_t notesAt = 2 + 4 + data.size();
    auto with = [&](std::size_t at, const ByteVec& bytes) {
        ByteVec image = good;
        std::copy(bytes.begin(), bytes.end(), image.begin() + long(at));
        return image;
    };
    const std::string cutOff = "ReadValueFromByteVec(): not enough data to read the value";
    const std::string corrupt = "config data invalid (is corrupt)";
    const ByteVec badNoteIndex = Changed(notes, 8 + 5, 7); // input 1 claims to be input 7
    const ByteVec longNote = Changed(notes, 7, 0xFF);      // input 0's text runs past the section
    const struct
    {
        const char* what;
        ByteVec image;
        std::string message;
    } cases[] = {
        {"five bytes", ByteVec{3, 4, 4, 0, 0}, "not enough data to be valid"},
        {"version 4", with(0, {4}),
         "data format version is not a known value - from newer software or corrupt?"},
        {"version 0", with(0, {0}),
         "data format version is not a known value - from newer software or corrupt?"},
        {"output card", with(1, {2}),
         "config data is for a different type of card (input vs output etc)"},
        {"data of 3 bytes", Image(3, 4, {1, 2, 3}, notes, block), corrupt},
        {"data length 0xFFFFFFFF", with(2, LE32(0xFFFFFFFF)), corrupt},
        {"notes length 0xFFFFFFFF", with(notesAt, LE32(0xFFFFFFFF)), corrupt},
        {"block length 0xFFFFFFFF", with(notesAt + 4 + notes.size(), LE32(0xFFFFFFFF)), corrupt},
        {"one byte extra", good + ByteVec{0}, corrupt},
        {"notes length cut off", ByteVec{2, 4, 4, 0, 0, 0, 1, 2, 3, 4, 0, 0}, cutOff},
        {"block length cut off", Changed(Image(2, 4, data, notes, {}) + ByteVec{3, 0}, 0, 3),
         cutOff},
        {"block of 3 bytes", Image(3, 4, data, notes, {3, 0, 0xFF}),
         "Control Module config is invalid."},
        {"block length field wrong", Image(3, 4, data, notes, Changed(block, 0, 8)),
         "Control Module config is invalid."},
        {"block CRC wrong", Image(3, 4, data, notes, Changed(block, 6, block[6] ^ 1)),
         "Control Module config is corrupt."},
        {"note index wrong", Image(3, 4, data, badNoteIndex, block),
         "IO Notes data is invalid (is corrupt)"},
        {"note text past the section", Image(3, 4, data, longNote, block),
         "IO Notes data is invalid (is corrupt)"},
        {"notes for too few points", Image(3, 4, data, Notes(24, 10, 0, ""), block), cutOff},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THROW_TEXT(Restore(c.image), ExceptionWithString, c.message);
    }
    EXPECT_EQ(card.Writes(), std::vector<Sent>());
    EXPECT_EQ(card.m_registerWrites, 0);

    // The same image is good once the extra byte is gone, or under version 2.
    Restore(good);
    ByteVec version2 = good + ByteVec{0};
    version2[0] = 2;
    Restore(version2);
}

TEST_F(CardConfigTest, Version2ImageWritesDataAndNotesButNoBlock)
{
    const ByteVec before = Save();
    const ByteVec data{10, 20, 30, 40, 50, 60};
    Restore(Image(2, 4, data, Notes(24, 24, 3, "pump"), {}) + ByteVec{0xEE, 0xEE});
    const CardConfigImage after = CardConfigImage::Parse(Save(), [] { return 4; });
    EXPECT_EQ(after.configData, data);
    EXPECT_EQ(after.notes, Notes(24, 24, 3, "pump"));
    EXPECT_EQ(after.controlModuleBlock,
              CardConfigImage::Parse(before, [] { return 4; }).controlModuleBlock);
    for (const Sent& s : card.Writes())
        EXPECT_NE(s.subCommand, 24u);
}

TEST_F(CardConfigTest, CardSideFailuresOfReadingAndWriting)
{
    const ByteVec good = Save();
    // A card refusing the configuration.
    card.SetVendorCommand(3, [](const ByteVec&, ByteVec&, std::int64_t) { return 3; });
    try {
        Restore(good);
        ADD_FAILURE() << "accepted";
    } catch (const Modbus::Error& e) {
        EXPECT_STREQ(e.what(),
                     "card is not accepting the configuration - probably card firmware needs "
                     "updating");
        EXPECT_TRUE(e.IsExceptionReply(3));
    }
    card.SetVendorCommand(1, [](const ByteVec&, ByteVec& payload, std::int64_t) {
        payload = ByteVec{1, 2, 3};
        return 0;
    });
    EXPECT_THROW_TEXT(Save(), Modbus::Error, "Invalid response to QEL_READ_CONFIG_START");

    // A card that never ends its configuration data does not make the image grow for ever.
    card.SetVendorCommand(1, [](const ByteVec&, ByteVec& payload, std::int64_t) {
        payload = ByteVec{1, 2, 3, 4};
        return 0;
    });
    card.SetVendorCommand(2, [](const ByteVec&, ByteVec& payload, std::int64_t) {
        payload.assign(240, 0x77);
        return 0;
    });
    EXPECT_THROW_TEXT(Save(), Modbus::Error, "Invalid response to QEL_READ_CONFIG_NEXT");
}

// A fresh full card per case, its EE header answering as the case says.
TEST(CardConfigControlModuleTest, BlockReadAndWriteChecks)
{
    DEDOCardSimulator::ResetSharedStores();
    const std::uint32_t header = CardConfiguration::controlModuleAddress;
    {
        // Erased EE: the empty block, which is written back as it is.
        FullCardSimulator card;
        card.SetVendorCommand(23, [](const ByteVec& args, ByteVec& payload, std::int64_t) {
            payload.assign(args[4], 0xFF);
            return 0;
        });
        ModbusMasterDatalink datalink(&card);
        datalink.SetReplyTimeoutMs(200);
        TolvarenCommsCommon comms(datalink);
        const ByteVec image = comms.GetCardConfig().get();
        EXPECT_EQ(CardConfigImage::Parse(image, [] { return 4; }).controlModuleBlock,
                  CardConfigImage::EmptyControlModuleBlock());
    }
    {
        // The bus master rewrites the block while it is read, and while it is written.
        FullCardSimulator card;
        ModbusMasterDatalink datalink(&card);
        datalink.SetReplyTimeoutMs(200);
        TolvarenCommsCommon comms(datalink);
        const ByteVec image = comms.GetCardConfig().get();
        int headerReads = 0;
        card.SetVendorCommand(23,
                              [&headerReads](const ByteVec& args, ByteVec& payload, std::int64_t) {
                                  payload.assign(args[4], 0x11);
                                  payload[0] = 8;
                                  payload[1] = 0;
                                  payload[2] = static_cast<unsigned char>(++headerReads);
                                  return 0;
                              });
        EXPECT_THROW_TEXT(comms.GetCardConfig().get(), Modbus::Error,
                          "Control Module config changed while uploading it.");
        EXPECT_THROW_TEXT(
            comms.SetCardConfig(image).get(), ExceptionWithString,
            "The Control Module configuration has been altered while it was being updated. Try "
            "again without any Modbus connected (the configuration in the card is probably "
            "invalid currently).");
    }
    {
        // A block whose content no longer matches its CRC.
        FullCardSimulator card;
        ModbusMasterDatalink datalink(&card);
        TolvarenCommsCommon comms(datalink);
        ByteVec args;
        for (int shift = 24; shift >= 0; shift -= 8)
            args.push_back(static_cast<unsigned char>((header + 10) >> shift));
        args.push_back(0x42);
        comms.SendQelCommandAndWait(TolvarenCommsCommon::QEL_EE_WRITE, args);
        EXPECT_THROW_TEXT(comms.GetCardConfig().get(), Modbus::Error,
                          "Control Module config is corrupt.");
    }
}

} // namespace

namespace {

// Older register maps: no Control Module block and no restart before version 8, no
// configuration image at all before version 5.
TEST(CardConfigVersionTest, OlderCardsSkipTheBlockAndTheRestart)
{
    FakeCardRig rig(4, 7);
    rig.card.SetVendorHandler(TolvarenCommsCommon::QEL_READ_CONFIG_START,
                              [](const ByteVec&, ByteVec& payload) {
                                  payload = ByteVec{1, 2, 3, 4};
                                  return 0;
                              });
    for (std::uint16_t accepted :
         {TolvarenCommsCommon::QEL_READ_CONFIG_NEXT, TolvarenCommsCommon::QEL_WRITE_CONFIG_START,
          TolvarenCommsCommon::QEL_WRITE_CONFIG_NEXT, TolvarenCommsCommon::QEL_CLEAR_NOTES})
        rig.card.SetVendorHandler(accepted, [](const ByteVec&, ByteVec&) { return 0; });
    TolvarenCommsCommon comms(rig.datalink);
    const ByteVec image = comms.GetCardConfig().get();
    EXPECT_TRUE(CardConfigImage::Parse(image, [] { return 4; }).controlModuleBlock.empty());
    EXPECT_TRUE(rig.Vendor(TolvarenCommsCommon::QEL_EE_READ).empty());

    comms.SetCardConfig(Image(3, 4, {1, 2, 3, 4}, {}, Block({1}))).get();
    EXPECT_EQ(rig.Vendor(TolvarenCommsCommon::QEL_WRITE_CONFIG_NEXT).size(), 1u);
    EXPECT_EQ(rig.Vendor(TolvarenCommsCommon::QEL_CLEAR_NOTES).size(), 1u);
    EXPECT_TRUE(rig.Vendor(TolvarenCommsCommon::QEL_EE_WRITE).empty());
    EXPECT_TRUE(rig.Vendor(TolvarenCommsCommon::QEL_RESTART).empty());

    FakeCardRig old(4, 4);
    old.card.SetVendorHandler(TolvarenCommsCommon::QEL_READ_CONFIG_START,
                              [](const ByteVec&, ByteVec& payload) {
                                  payload = ByteVec{1, 2, 3, 4};
                                  return 0;
                              });
    old.card.SetVendorHandler(TolvarenCommsCommon::QEL_READ_CONFIG_NEXT,
                              [](const ByteVec&, ByteVec&) { return 0; });
    TolvarenCommsCommon oldComms(old.datalink);
    EXPECT_THROW(oldComms.GetCardConfig().get(), FirmwareTooOldError);
}

} // namespace

namespace {

TEST(CardConfigRestoreCheckTest, OnlyTheSectionsARestoreWritesAreCompared)
{
    const ByteVec data{1, 2, 3, 4, 5};
    const ByteVec notes = Notes(24, 24, 3, "pump");
    const ByteVec block = Block({7, 8});
    const ByteVec written = Image(3, 4, data, notes, block);
    struct Case
    {
        const char* what;
        ByteVec written;
        ByteVec readBack;
        bool notesSupported;
        std::vector<std::string> differences;
    };
    const Case cases[] = {
        {"all arrived", written, written, true, {}},
        {"data differs", written, Image(3, 4, {1, 2, 3, 4, 6}, notes, block), true,
         {"configuration data"}},
        {"a note lost", written, Image(3, 4, data, Notes(24, 24, 3, ""), block), true, {"notes"}},
        {"card keeps no notes", written, Image(3, 4, data, Notes(24, 24, 3, ""), block), false,
         {}},
        {"block differs", written, Image(3, 4, data, notes, Block({7, 9})), true,
         {"Control Module block"}},
        {"card keeps no block", written, Image(3, 4, data, notes, {}), true, {}},
        {"version 2 writes no block", Image(2, 4, data, notes, {}), written, true, {}},
        {"an empty notes section empties every note", Image(2, 4, data, {}, {}),
         Image(3, 4, data, Notes(24, 24, 0, ""), block), true, {}},
        {"version 1 has only data", ByteVec{1, 4} + data,
         Image(3, 4, {9, 9, 9, 9}, notes, block), true, {"configuration data"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CardConfigImage::RestoreDifferences(c.written, c.readBack, c.notesSupported),
                  c.differences)
            << c.what;
    EXPECT_THROW_TEXT(CardConfigImage::RestoreDifferences(Image(3, 2, data, {}, block), written,
                                                          true),
                      ExceptionWithString,
                      "config data is for a different type of card (input vs output etc)");
}

} // namespace
