#include "app/rights_message.hpp"

#include <QMessageBox>

#include "core/messages.hpp"

namespace fw {

namespace {

constexpr auto kRightsText =
    "Ferrowipe 需要系統管理員權限才能存取磁碟。\n\n"
    "請從應用程式選單中的 Ferrowipe 項目啟動，或在終端機中執行:\n"
    "    pkexec ferrowipe\n"
    "或\n"
    "    sudo ferrowipe";

}  // namespace

QString AdministratorRightsText() { return QString::fromUtf8(kRightsText); }

void ShowAdministratorRightsNeeded(QWidget* parent) {
  QMessageBox box(QMessageBox::Critical,
                  QString::fromUtf8(kErrorCaption.data(), static_cast<qsizetype>(kErrorCaption.size())),
                  AdministratorRightsText(), QMessageBox::Ok, parent);
  box.setObjectName("AdministratorRightsNeeded");
  box.exec();
}

}  // namespace fw
