#include <cmath>
#include <limits>

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "calibration/CalibParams.h"
#include "calibration/CalibSettingsKeys.h"
#include "comms/ExceptionWithString.h"

namespace {

TEST(CalibParamsTest, DefaultsImageByteByByte)
{
    const ByteVec expected = {
        0x01,                                           // version
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x40, // voltsA 3.0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x22, 0x40, // voltsB 9.0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F, // milliAmpsA 1.0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x22, 0x40, // milliAmpsB 9.0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x59, 0x40, // lowerOhmsA 100.0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x8F, 0x40, // lowerOhmsB 1000.0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x70, 0xA7, 0x40, // upperOhmsA 3000.0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x4C, 0xDD, 0x40, // upperOhmsB 30000.0
        0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x12, 0x40, // inductorResistance 4.6
    };
    const ByteVec image = CalibParams::Defaults().ToImage();
    EXPECT_EQ(image, expected);

    // The same bytes read back give the same values, in the same fields.
    const auto parsed = CalibParams::FromImage(expected);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->voltsB, 9.0);
    EXPECT_EQ(parsed->lowerOhmsB, 1000.0);
    EXPECT_EQ(parsed->inductorResistance, 4.6);
}

TEST(CalibParamsTest, ImagesThatHoldNoParams)
{
    ByteVec image = CalibParams::Defaults().ToImage();
    image[0] = 0xFF;
    EXPECT_FALSE(CalibParams::FromImage(image)); // erased: nothing stored

    for (unsigned char version : {0x00, 0x02, 0xFE}) {
        image[0] = version;
        try {
            CalibParams::FromImage(image);
            ADD_FAILURE() << "version " << int(version) << " accepted";
        } catch (const ExceptionWithString& e) {
            EXPECT_STREQ(e.what(), "Calibration params inside EE have a version number that is "
                                   "not known by this software");
        }
    }
    image[0] = 1;
    image.pop_back();
    EXPECT_THROW(CalibParams::FromImage(image), ExceptionWithString);
}

TEST(CalibParamsTest, ComparisonIsByTheStoredBytes)
{
    CalibParams a = CalibParams::Defaults();
    CalibParams b = a;
    EXPECT_TRUE(a.SameBytesAs(b));
    b.inductorResistance = 4.6000000000000005; // next double up
    EXPECT_FALSE(a.SameBytesAs(b));

    a.inductorResistance = 0.0;
    b.inductorResistance = -0.0;
    EXPECT_FALSE(a.SameBytesAs(b)); // equal as numbers, not as stored
    a.inductorResistance = b.inductorResistance = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(a.SameBytesAs(b));
}

TEST(CalibSettingsKeysTest, DefaultsAndStoredKeys)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("calib.ini"), QSettings::IniFormat);
    using namespace CalibSettingsKeys;
    EXPECT_EQ(Read(settings, CalibBoardPortNum).toUInt(), 0u);
    EXPECT_FALSE(Read(settings, LastCalibWasOutputCard).toBool());
    EXPECT_FALSE(Read(settings, LogDirectory).toString().isEmpty());
    EXPECT_TRUE(Read(settings, OverwiteLogs).toBool());
    EXPECT_EQ(Read(settings, OutputMilliAmpsB).toString(), QString());
    EXPECT_EQ(Read(settings, InputAllowJitterI).toString(), "1");

    // An empty field text is stored and read back as empty, not replaced by the default.
    settings.setValue(OutputVoltsA, QString());
    settings.setValue(OverwiteLogs, false);
    settings.sync();
    QSettings reread(dir.filePath("calib.ini"), QSettings::IniFormat);
    EXPECT_TRUE(reread.contains("Calib.OverwiteLogs"));
    EXPECT_FALSE(Read(reread, OverwiteLogs).toBool());
    EXPECT_TRUE(reread.contains("Calib.OutputCalParams.voltsA"));
    EXPECT_EQ(Read(reread, OutputVoltsA).toString(), QString());
}

} // namespace
