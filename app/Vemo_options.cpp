// Vemo_options: the main window's extra options (rules in the header).
#include "app/Vemo_options.h"

#include <string>

#include <QCheckBox>
#include <QWidget>

namespace {

QCheckBox* ControlOf(const QWidget& window, const WindowOption& option) {
    return window.findChild<QCheckBox*>(QString::fromLatin1(option.control));
}

}  // namespace

void ApplyWindowOptions(QWidget& window, TVemo_sysF& settings) {
    for (const WindowOption& option : kWindowOptions) {
        if (QCheckBox* box = ControlOf(window, option)) box->setChecked(settings.GetOption(option.key) == "1");
    }
}

OptionValues CollectWindowOptions(const QWidget& window) {
    OptionValues values;
    for (const WindowOption& option : kWindowOptions) {
        const QCheckBox* box = ControlOf(window, option);
        const bool set = box != nullptr && box->isChecked();
        values.emplace(option.key, std::string(1, set ? '1' : '0'));
    }
    return values;
}

void AddWindowOptions(const QWidget& window, TraceOptions& options) {
    for (const WindowOption& option : kWindowOptions) {
        const QCheckBox* box = ControlOf(window, option);
        options.*option.field = box != nullptr && box->isChecked();
    }
}
