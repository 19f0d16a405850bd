// Vemo_viewarestub: the image window standing in for the viewer.
#include "app/Vemo_viewarestub.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "app/Vemo_main.h"
#include "image/Vemo_bmpset.h"

namespace {
constexpr int kLargestSide = 600;  // pixels on screen; a scan is scaled down to this
}

TVemo_viewareF::TVemo_viewareF(TVemo_mainF& mainF) : QDialog(&mainF), m_mainF(mainF) {
    setObjectName("TVemo_viewareF");
    setFont(mainF.font());
    m_picture = new QLabel(this);
    m_picture->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_picture);
}

void TVemo_viewareF::Attach(TVemo_sysF& settings, TVemo_susieF& susie) {
    m_settings = &settings;
    m_susie = &susie;
}

int TVemo_viewareF::OpenImage(const std::string& imagePath, const TraceResult&) {
    TVemo_bmpset loader(imagePath, *m_settings, *m_susie, m_mainF.Messages());
    const QImage* image = loader.GetWorkingBitmap();
    if (loader.GetStatus() != 0 || image == nullptr) return 1;
    setWindowTitle(QString::fromStdString("VemoViewer-" + imagePath));
    m_picture->setPixmap(QPixmap::fromImage(image->isNull() ? QImage() : image->scaled(
        kLargestSide, kLargestSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    return 0;
}
