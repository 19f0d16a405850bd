// Vemodirectory_box: the folder chooser.
#include "app/Vemodirectory_box.h"

#include <QFileDialog>
#include <QString>

#include "app/Vemo_language.h"
#include "common/Vemo_texts.h"

std::string ChooseFolder(QWidget* owner, const std::string& initialFolder) {
    const QString chosen = QFileDialog::getExistingDirectory(owner, TranslateMessage(texts::kChooseFolderTitle),
                                                             QString::fromStdString(initialFolder),
                                                             QFileDialog::ShowDirsOnly);
    return chosen.toStdString();
}
