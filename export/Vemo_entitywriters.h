// Vemo_entitywriters: the DXF and SVG files of a fitted run, written from
// its entities (trace/Vemotrace_fit.h) instead of the lines file.
//
// DXF: the same template, header and trailer as the polyline DXF (same
// dialect, AC1003); the LAYER table gains one layer per pen, named after
// its width in the output unit (PenLayerName) with a colour of its own; ENTITIES holds per
// entity a LINE (10/20/30 and 11/21/31), an ARC (centre, 40 radius, 50/51
// start and end angle in degrees, counter-clockwise in the output's own
// axes), a CIRCLE (centre, 40 radius) or a POLYLINE with VERTEXes as the
// polyline writer writes them, each on its pen's layer (colour BYLAYER).
// SVG: as the polyline SVG, with per entity a <line>, a <path> with one
// arc (M ... A ...), a <circle> or a <polyline>, each with the stroke
// width of its pen.
// Under an output transform that scales x and y differently a circle is no
// circle: arcs and circles are then written as polylines within the
// fitting tolerance.
//
// Failures as for the other writers: FileError naming the output file, and
// the target left as it was.
#pragma once

#include <string>

#include "export/Vemo_compdata.h"
#include "export/Vemo_units.h"
#include "trace/Vemotrace_fit.h"

// The layer of a pen: "W" and its width, already in the output unit, as
// FormatLength writes it ("W0.50" for half a millimetre, "W2.0" for two
// pixels).
std::string PenLayerName(double width, OutputUnit unit);

// The DXF colour number of pen i: distinct for the first eight pens.
int PenColour(std::size_t pen);

// How the SVG writers put a number: with three decimals, as in pixels at
// the ratios' usual sizes, or with as many more as keep a hundredth of an
// image pixel in the output unit (inches, millimetres at high resolution,
// small ratios), where three would round a coordinate by up to a pixel.
class SvgNumbers {
public:
    explicit SvgNumbers(const TVemo_compdata& data);
    std::string operator()(double value) const;

private:
    std::string m_format;
};

void WriteEntityDxf(const TVemo_compdata& data, const FitResult& fitted, const std::string& outputPath);
void WriteEntitySvg(const TVemo_compdata& data, const FitResult& fitted, const std::string& outputPath);
