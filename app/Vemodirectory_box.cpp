// Vemodirectory_box: the folder chooser.
#include "app/Vemodirectory_box.h"

#include <QFileDialog>
#include <QString>

#include "common/Vemo_texts.h"

std::string ChooseFolder(QWidget* owner, const std::string& initialFolder) {
    const QString chosen = QFileDialog::getExistingDirectory(owner, QString::fromUtf8(texts::kChooseFolderTitle),
                                                             QString::fromStdString(initialFolder),
                                                             QFileDialog::ShowDirsOnly);
    return chosen.toStdString();
}
