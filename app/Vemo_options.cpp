// Vemo_options: the main window's extra options (rules in the header).
#include "app/Vemo_options.h"

#include <optional>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QVariant>
#include <QWidget>

#include "common/Vemo_texts.h"
#include "export/Vemo_units.h"

namespace {

// ComboBox1's items, in their order in the window definition.
constexpr std::array<OutputUnit, 3> kUnitItems = {OutputUnit::Px, OutputUnit::Mm, OutputUnit::In};

// A box greyed by another one keeps the user's own choice here while it
// shows what the other implies.
constexpr const char* kOwnChoice = "vemoOwnChoice";

template <typename T>
T* ControlOf(const QWidget& window, const char* name) {
    return window.findChild<T*>(QString::fromLatin1(name));
}

QCheckBox* BoxOf(const QWidget& window, const WindowOption& option) {
    return ControlOf<QCheckBox>(window, option.control);
}

bool OwnChoice(const QCheckBox& box) {
    const QVariant held = box.property(kOwnChoice);
    return held.isValid() ? held.toBool() : box.isChecked();
}

void SetOwnChoice(QCheckBox& box, bool set) {
    if (box.property(kOwnChoice).isValid()) {
        box.setProperty(kOwnChoice, set);
    } else {
        box.setChecked(set);
    }
}

// Fitting works on joined lines: while it is on, the join box shows so and
// cannot be changed; turned off, the box shows the user's choice again.
void HoldJoinBox(QCheckBox& join, bool fitting) {
    const bool held = join.property(kOwnChoice).isValid();
    if (fitting == held) return;  // already so
    if (fitting) {
        join.setProperty(kOwnChoice, join.isChecked());
        join.setChecked(true);
        join.setEnabled(false);
    } else {
        const bool own = OwnChoice(join);
        join.setProperty(kOwnChoice, QVariant());
        join.setEnabled(true);
        join.setChecked(own);
    }
}

OutputUnit UnitShown(const QWidget& window) {
    const QComboBox* units = ControlOf<QComboBox>(window, "ComboBox1");
    const int index = units != nullptr ? units->currentIndex() : 0;
    return index > 0 && index < static_cast<int>(kUnitItems.size()) ? kUnitItems[static_cast<std::size_t>(index)]
                                                                     : OutputUnit::Px;
}

std::string ResolutionText(const QWidget& window) {
    const QLineEdit* field = ControlOf<QLineEdit>(window, "Edit5");
    return field != nullptr ? field->text().trimmed().toStdString() : std::string();
}

}  // namespace

void ConnectWindowOptions(QWidget& window) {
    QCheckBox* fit = ControlOf<QCheckBox>(window, "CheckBox8");
    QCheckBox* join = ControlOf<QCheckBox>(window, "CheckBox7");
    QCheckBox* snap = ControlOf<QCheckBox>(window, "CheckBox9");
    if (fit != nullptr && join != nullptr && snap != nullptr) {
        snap->setEnabled(fit->isChecked());
        QObject::connect(fit, &QCheckBox::toggled, join, [join, snap](bool fitting) {
            HoldJoinBox(*join, fitting);
            snap->setEnabled(fitting);
        });
    }
    QComboBox* units = ControlOf<QComboBox>(window, "ComboBox1");
    QLineEdit* resolution = ControlOf<QLineEdit>(window, "Edit5");
    if (units != nullptr && resolution != nullptr) {
        // Pixels need no resolution: the field is greyed, its text kept.
        resolution->setEnabled(units->currentIndex() > 0);
        QObject::connect(units, &QComboBox::currentIndexChanged, resolution,
                         [resolution](int index) { resolution->setEnabled(index > 0); });
    }
}

void ApplyWindowOptions(QWidget& window, TVemo_sysF& settings) {
    for (const WindowOption& option : kWindowOptions) {
        if (QCheckBox* box = BoxOf(window, option)) SetOwnChoice(*box, settings.GetOption(option.key) == "1");
    }
    if (auto* units = ControlOf<QComboBox>(window, "ComboBox1")) {
        const std::optional<OutputUnit> stored = UnitFromName(settings.GetOption(kUnitsKey));
        int index = 0;
        for (std::size_t i = 0; i < kUnitItems.size(); ++i) {
            if (stored == kUnitItems[i]) index = static_cast<int>(i);
        }
        units->setCurrentIndex(index);
    }
    if (auto* resolution = ControlOf<QLineEdit>(window, "Edit5")) {
        resolution->setText(QString::fromStdString(settings.GetOption(kResolutionKey)));
    }
}

OptionValues CollectWindowOptions(const QWidget& window) {
    OptionValues values;
    for (const WindowOption& option : kWindowOptions) {
        const QCheckBox* box = BoxOf(window, option);
        const bool set = box != nullptr && OwnChoice(*box);
        values.emplace(option.key, std::string(1, set ? '1' : '0'));
    }
    values.emplace(kUnitsKey, UnitName(UnitShown(window)));
    values.emplace(kResolutionKey, ResolutionText(window));
    return values;
}

std::string WindowOptionsProblem(const QWidget& window) {
    if (UnitShown(window) == OutputUnit::Px) return std::string();
    const std::string text = ResolutionText(window);
    double xDpi = 0.0;
    double yDpi = 0.0;
    if (text.empty() || ParseResolution(text, xDpi, yDpi)) return std::string();
    return texts::ResolutionUnusable(text);
}

void AddWindowOptions(const QWidget& window, TraceOptions& options) {
    for (const WindowOption& option : kWindowOptions) {
        const QCheckBox* box = BoxOf(window, option);
        options.*option.field = box != nullptr && box->isChecked();
    }
    if (!options.fit) options.snapAngles = false;
    options.units = UnitShown(window);
    if (options.units != OutputUnit::Px) {
        // An empty field leaves the resolution to the image.
        ParseResolution(ResolutionText(window), options.xDpi, options.yDpi);
    }
    options.resolutionSource = texts::kResolutionField;
}
