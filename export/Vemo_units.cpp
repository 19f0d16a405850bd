// Vemo_units: output units and their scale (see the header).
#include "export/Vemo_units.h"

#include <cmath>

#include "common/Vemo_common.h"

namespace {

constexpr double kMillimetresPerInch = 25.4;

}  // namespace

const char* UnitName(OutputUnit unit) {
    switch (unit) {
        case OutputUnit::Px: return "px";
        case OutputUnit::Mm: return "mm";
        case OutputUnit::In: return "in";
    }
    return "px";
}

std::optional<OutputUnit> UnitFromName(std::string_view name) {
    for (const OutputUnit unit : {OutputUnit::Px, OutputUnit::Mm, OutputUnit::In}) {
        if (name == UnitName(unit)) return unit;
    }
    return std::nullopt;
}

std::optional<OutputScale> ScaleFor(OutputUnit unit, double xDpi, double yDpi) {
    if (unit == OutputUnit::Px) return OutputScale{};
    const auto usable = [](double dpi) { return std::isfinite(dpi) && dpi > 0.0; };
    if (!usable(xDpi) || !usable(yDpi)) return std::nullopt;
    const double perInch = unit == OutputUnit::Mm ? kMillimetresPerInch : 1.0;
    return OutputScale{unit, perInch / xDpi, perInch / yDpi};
}

std::string FormatLength(double length, OutputUnit unit) {
    switch (unit) {
        case OutputUnit::Mm: return FormatNumber("%.2lf", length);
        case OutputUnit::In: return FormatNumber("%.3lf", length);
        case OutputUnit::Px: break;
    }
    return FormatNumber("%.1lf", length);
}
