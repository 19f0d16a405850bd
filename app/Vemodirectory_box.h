// Vemodirectory_box: the folder chooser.
//
// ChooseFolder shows a modal folder dialog over `owner` with the title
// "フォルダを選択して下さい。", in which only folders can be chosen. A
// non-empty `initialFolder` is preselected; an empty one leaves the
// dialog where it opens by default. Returns the chosen folder's path, or
// the empty text when the user cancelled.
#pragma once

#include <string>

class QWidget;

std::string ChooseFolder(QWidget* owner, const std::string& initialFolder);
