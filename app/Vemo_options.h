// Vemo_options: the main window's options beyond its first controls.
//
// They sit in the group "オプション" below the buttons, so every control
// above keeps its place, and are stored in Vemo.sys in a section of their
// own ([OPTIONS], kOptionsSection): a settings file without them works as
// before, and the other keys are written exactly as before. A flag counts
// as set only when its value is exactly "1", as the other flags do.
//
// The check boxes are one row each in kWindowOptions. Two boxes depend on
// the fitting box: while it is ticked the join box is ticked and greyed
// (fitting joins first) and the snap box is live; the join box keeps the
// user's own choice, which it shows again and which is stored. The output
// unit (ComboBox1: px, mm, inch) is stored as UNITS ("px", "mm", "in"; any
// other value reads as px) and the resolution field (Edit5, greyed while
// the unit is px) as DPI, its text as typed: "N" or "X,Y" dots per inch,
// empty for the resolution the image stores.
//
// Adding an option: a control in GroupBox5 of resources/Vemo_main.ui, its
// text in resources/translations/vemo_en.ts, and one row in kWindowOptions.
#pragma once

#include <array>
#include <string>

#include "common/Vemo_sys.h"
#include "job/Vemo_comp.h"

class QWidget;

struct WindowOption {
    const char* key;                // in [OPTIONS]
    const char* control;            // the check box of the window definition
    bool TraceOptions::*field;      // what it sets for a run
};

inline constexpr std::array<WindowOption, 4> kWindowOptions = {{
    {"EXPSVG", "CheckBox6", &TraceOptions::exportSvg},  // "SVG形式"
    {"JOIN", "CheckBox7", &TraceOptions::join},         // "線をつないで整える": the join step
    {"FIT", "CheckBox8", &TraceOptions::fit},           // "直線・円弧・円に当てはめる": lines, arcs, circles
    {"SNAP", "CheckBox9", &TraceOptions::snapAngles},   // "水平・垂直に揃える": with fitting only
}};
inline constexpr const char* kUnitsKey = "UNITS";
inline constexpr const char* kResolutionKey = "DPI";

// Makes the option controls of `window` follow each other (fitting ticks
// and greys the join box and enables the snap box; the unit px greys the
// resolution field). Call once, before the settings are applied.
void ConnectWindowOptions(QWidget& window);
// Sets the option controls of `window` as the settings hold them.
void ApplyWindowOptions(QWidget& window, TVemo_sysF& settings);
// The option controls' state as it is stored: "1" or "0" per check box,
// the unit's name and the resolution field's text.
OptionValues CollectWindowOptions(const QWidget& window);
// Why the options cannot make a run (a resolution field whose text is no
// resolution, while a unit other than px needs it); empty when they can.
std::string WindowOptionsProblem(const QWidget& window);
// The option controls' state into the options of a run.
void AddWindowOptions(const QWidget& window, TraceOptions& options);
