// Vemo_options: the main window's options beyond its first controls.
//
// They sit in the group "オプション" below the buttons, so every control
// above keeps its place, and are stored in Vemo.sys in a section of their
// own ([OPTIONS], kOptionsSection): a settings file without them works as
// before, and the other keys are written exactly as before. A flag counts
// as set only when its value is exactly "1", as the other flags do.
//
// Adding an option: a control in GroupBox5 of resources/Vemo_main.ui, its
// text in resources/translations/vemo_en.ts, and one row in kWindowOptions.
#pragma once

#include <array>

#include "common/Vemo_sys.h"
#include "job/Vemo_comp.h"

class QWidget;

struct WindowOption {
    const char* key;                // in [OPTIONS]
    const char* control;            // the check box of the window definition
    bool TraceOptions::*field;      // what it sets for a run
};

inline constexpr std::array<WindowOption, 2> kWindowOptions = {{
    {"EXPSVG", "CheckBox6", &TraceOptions::exportSvg},  // "SVG形式"
    {"JOIN", "CheckBox7", &TraceOptions::join},         // "線をつないで整える": the join step
}};

// Ticks the option controls of `window` as the settings hold them.
void ApplyWindowOptions(QWidget& window, TVemo_sysF& settings);
// The option controls' state as it is stored: "1" or "0" per key.
OptionValues CollectWindowOptions(const QWidget& window);
// The option controls' state into the options of a run.
void AddWindowOptions(const QWidget& window, TraceOptions& options);
