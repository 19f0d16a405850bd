// Output units: names, the scale from pixels, and lengths as labels show them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "export/Vemo_units.h"

namespace {

// Catches: a unit name read loosely ("MM", "inch"), a resolution that is no
// usable number giving an infinite or negative scale, and pixels that do
// not keep their factor of exactly 1 (which would change every byte).
TEST(OutputUnits, NamesAndScales) {
    for (const OutputUnit unit : {OutputUnit::Px, OutputUnit::Mm, OutputUnit::In}) {
        EXPECT_EQ(UnitFromName(UnitName(unit)), unit);
    }
    for (const char* name : {"", "MM", "inch", "cm", "px "}) EXPECT_FALSE(UnitFromName(name)) << name;

    const auto px = ScaleFor(OutputUnit::Px, 0.0, std::numeric_limits<double>::quiet_NaN());
    ASSERT_TRUE(px);
    EXPECT_EQ(px->x, 1.0);
    EXPECT_EQ(px->y, 1.0);
    const auto mm = ScaleFor(OutputUnit::Mm, 254.0, 127.0);
    ASSERT_TRUE(mm);
    EXPECT_DOUBLE_EQ(mm->x, 0.1);
    EXPECT_DOUBLE_EQ(mm->y, 0.2);
    const auto in = ScaleFor(OutputUnit::In, 400.0, 400.0);
    ASSERT_TRUE(in);
    EXPECT_DOUBLE_EQ(in->x, 0.0025);
    for (const double bad : {0.0, -300.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
        EXPECT_FALSE(ScaleFor(OutputUnit::Mm, bad, 300.0)) << bad;
        EXPECT_FALSE(ScaleFor(OutputUnit::In, 300.0, bad)) << bad;
    }
}

// Catches: pen names that differ for the same width ("W0.5" and "W0.50"),
// or a comma as the decimal point.
TEST(OutputUnits, LengthsHaveTheUnitsDecimals) {
    EXPECT_EQ(FormatLength(0.5, OutputUnit::Mm), "0.50");
    EXPECT_EQ(FormatLength(0.254, OutputUnit::Mm), "0.25");
    EXPECT_EQ(FormatLength(0.02, OutputUnit::In), "0.020");
    EXPECT_EQ(FormatLength(2.0, OutputUnit::Px), "2.0");
}

}  // namespace
