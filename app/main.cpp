// vemo: the desktop program.
//
// Start-up: refuse a second instance (it brings the running window to the
// front and ends with exit code -1 before creating anything), then create
// the long-lived objects in their fixed order (main window, viewer,
// settings holder, plug-in loader), run the event loop and end with 0. The
// main window reads the settings when it is first shown; without
// "Vemo.sys" it says so and the program ends.
//
// An error raised inside an event handler is shown in a message box and
// the program carries on; one that escapes start-up is shown the same way
// and ends the program with exit code 1.
#include <QApplication>
#include <QLocale>

#include "app/Vemo_instance.h"
#include "app/Vemo_language.h"
#include "app/Vemo_main.h"
#include "common/Vemo_sys.h"
#include "image/Vemo_susie.h"
#include "viewer/Vemo_viewer.h"

namespace {

constexpr int kExitPreviousInstance = -1;
constexpr int kExitFailedStart = 1;

// The last resort for an error raised by any other event handler: it is
// shown and the program carries on.
class VemoApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            ShowError(nullptr, std::current_exception());
            return false;
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    TVemo_instance instance;
    if (instance.FindPreviousInstance()) return kExitPreviousInstance;

    VemoApplication application(argc, argv);
    QApplication::setApplicationName(kApplicationTitle);
    MapWindowFont();
    QApplication::setWindowIcon(ProgramIcon());
    // Before the first window: the window definitions are translated as
    // they are set up.
    const TVemo_language language(QLocale::system());
    try {
        TVemo_mainF mainF;
        TVemo_viewareF viewareF(&mainF);
        TVemo_sysF sysF(mainF.Messages());
        TVemo_susieF susieF(mainF.Messages());
        mainF.Attach(viewareF, sysF, susieF);
        instance.Listen([&mainF] { mainF.BringToFront(); });

        mainF.show();
        QApplication::exec();
        instance.StopListening();
        return 0;
    } catch (...) {
        instance.StopListening();
        ShowError(nullptr, std::current_exception());
        return kExitFailedStart;
    }
}
