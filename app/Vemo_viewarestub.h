// Vemo_viewarestub: a plain image window standing in for the viewer.
//
// Loads the image through the image loader (its messages come first, as
// with every load) and shows it scaled to fit, modally. It has the
// viewer's entry points, so the main window does not change when the
// full viewer takes its place.
#pragma once

#include <string>

#include <QDialog>

#include "trace/Vemotrace_types.h"

class QLabel;
class TVemo_mainF;
class TVemo_susieF;
class TVemo_sysF;

class TVemo_viewareF : public QDialog {
    Q_OBJECT

public:
    // `mainF` owns the viewer and gives it its font.
    explicit TVemo_viewareF(TVemo_mainF& mainF);

    void Attach(TVemo_sysF& settings, TVemo_susieF& susie);

    // Loads `imagePath`: 0 when it is ready to be shown with exec(), 1
    // when it could not be loaded (the loader has told the user why).
    int OpenImage(const std::string& imagePath, const TraceResult& result);

private:
    TVemo_mainF& m_mainF;
    TVemo_sysF* m_settings = nullptr;
    TVemo_susieF* m_susie = nullptr;
    QLabel* m_picture = nullptr;
};
