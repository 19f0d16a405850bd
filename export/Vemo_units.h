// Vemo_units: the unit the output files are written in, and the scale from
// image pixels to it.
//
// The trace works in image pixels. A CAD user wants the drawing at its real
// size, so the output may be written in millimetres or inches instead: a
// coordinate in pixels is divided by the image's resolution (dots per
// inch) and, for millimetres, multiplied by 25.4. Pixels are the default and
// their factor is exactly 1, so a run in pixels writes the same bytes as
// before units existed.
//
// The scale multiplies with the x/y ratios in the output transform
// (TVemo_compdata::SetOutputScale); every format uses it.
//
// Reads: nothing. Writes: nothing. Plain C++.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class OutputUnit { Px, Mm, In };

// "px", "mm" or "in".
const char* UnitName(OutputUnit unit);
// The unit of a name as UnitName gives it (lower case only); none for any other text.
std::optional<OutputUnit> UnitFromName(std::string_view name);

// From image pixels to the output unit, per axis.
struct OutputScale {
    OutputUnit unit = OutputUnit::Px;
    double x = 1.0;
    double y = 1.0;
};

// The scale for `unit` at a resolution of xDpi by yDpi dots per inch.
// Pixels ignore the resolution (factor 1); the other units need it positive
// and finite, or there is no scale.
std::optional<OutputScale> ScaleFor(OutputUnit unit, double xDpi, double yDpi);

// A length already in `unit`, as names and labels show it: millimetres
// with two decimals ("0.50"), inches with three ("0.020"), pixels with one
// ("2.0"). Always "." as the decimal point, whatever the locale.
std::string FormatLength(double length, OutputUnit unit);
