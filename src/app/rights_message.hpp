#pragma once
// The window started by a user without the rights to open disks: instead of an empty list, an
// error box that says what is missing and how to start the program so that it has it.
#include <QString>

class QWidget;

namespace fw {

// The box's text: administrator rights are needed; start Ferrowipe from the menu entry, or with
// pkexec or sudo.
QString AdministratorRightsText();

// Shows the error box (title "錯誤   ") and returns when the user has closed it.
void ShowAdministratorRightsNeeded(QWidget* parent = nullptr);

}  // namespace fw
