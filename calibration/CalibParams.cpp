#include "calibration/CalibParams.h"

#include <cstdint>
#include <cstring>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"

namespace {

void PutLittleEndian(double value, unsigned char* out)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

double GetLittleEndian(const unsigned char* in)
{
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits |= std::uint64_t(in[i]) << (8 * i);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

const std::array<CalibParams::Field, CalibParams::FieldCount>& CalibParams::Fields()
{
    static const std::array<Field, FieldCount> fields = {{
        {&CalibParams::voltsA, "voltsA", "paramVoltsA", 3},
        {&CalibParams::voltsB, "voltsB", "paramVoltsB", 3},
        {&CalibParams::milliAmpsA, "milliAmpsA", "paramMilliAmpsA", 3},
        {&CalibParams::milliAmpsB, "milliAmpsB", "paramMilliAmpsB", 3},
        {&CalibParams::lowerOhmsA, "lowerOhmsA", "paramLowerOhmsA", 2},
        {&CalibParams::lowerOhmsB, "lowerOhmsB", "paramLowerOhmsB", 2},
        {&CalibParams::upperOhmsA, "upperOhmsA", "paramUpperOhmsA", 1},
        {&CalibParams::upperOhmsB, "upperOhmsB", "paramUpperOhmsB", 1},
        {&CalibParams::inductorResistance, "inductorResistance", "paramInductorResistance", 3},
    }};
    return fields;
}

CalibParams CalibParams::Defaults()
{
    CalibParams p;
    p.voltsA = 3.0;
    p.voltsB = 9.0;
    p.milliAmpsA = 1.0;
    p.milliAmpsB = 9.0;
    p.lowerOhmsA = 100.0;
    p.lowerOhmsB = 1000.0;
    p.upperOhmsA = 3000.0;
    p.upperOhmsB = 30000.0;
    p.inductorResistance = 4.6;
    return p;
}

ByteVec CalibParams::ToImage() const
{
    ByteVec image(ImageSize);
    image[0] = ImageVersion;
    for (std::size_t i = 0; i < FieldCount; ++i)
        PutLittleEndian(this->*Fields()[i].value, &image[1 + 8 * i]);
    return image;
}

std::optional<CalibParams> CalibParams::FromImage(const ByteVec& image)
{
    if (image.size() < ImageSize)
        boost::throw_exception(ExceptionWithString("Calibration params image is too short"));
    if (image[0] == ImageErased)
        return std::nullopt;
    if (image[0] != ImageVersion)
        boost::throw_exception(ExceptionWithString("Calibration params inside EE have a version "
                                                   "number that is not known by this software"));
    CalibParams p;
    for (std::size_t i = 0; i < FieldCount; ++i)
        p.*Fields()[i].value = GetLittleEndian(&image[1 + 8 * i]);
    return p;
}

bool CalibParams::SameBytesAs(const CalibParams& other) const
{
    const ByteVec mine = ToImage();
    const ByteVec theirs = other.ToImage();
    return std::memcmp(mine.data() + 1, theirs.data() + 1, ValueBytes) == 0;
}
