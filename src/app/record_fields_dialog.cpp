#include "app/record_fields_dialog.hpp"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <string_view>

namespace fw {

namespace {

constexpr std::string_view kTitle = "清除記錄";
constexpr std::string_view kIntro = "以下資料會寫入清除報告與證明，可以留空。";
constexpr std::string_view kOperator = "操作人員姓名與職稱:";
constexpr std::string_view kOrganization = "組織:";
constexpr std::string_view kAssetTag = "財產編號:";
constexpr std::string_view kNotes = "備註:";

QString ToQ(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Entered(const QString& text) { return text.trimmed().toStdString(); }

}  // namespace

std::optional<RecordFields> AskRecordFields(QWidget* owner, const RecordFields& current) {
  QDialog dialog(owner);
  dialog.setObjectName("RecordFieldsDialog");
  dialog.setWindowTitle(ToQ(kTitle));
  auto* operatorName = new QLineEdit(QString::fromStdString(current.operatorName));
  auto* organization = new QLineEdit(QString::fromStdString(current.organization));
  auto* assetTag = new QLineEdit(QString::fromStdString(current.assetTag));
  auto* notes = new QPlainTextEdit(QString::fromStdString(current.notes));
  operatorName->setObjectName("edOperator");
  organization->setObjectName("edOrganization");
  assetTag->setObjectName("edAssetTag");
  notes->setObjectName("edNotes");
  notes->setTabChangesFocus(true);
  notes->setFixedHeight(notes->fontMetrics().lineSpacing() * 4 + 12);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

  auto* form = new QFormLayout;
  form->addRow(ToQ(kOperator), operatorName);
  form->addRow(ToQ(kOrganization), organization);
  form->addRow(ToQ(kAssetTag), assetTag);
  form->addRow(ToQ(kNotes), notes);
  auto* layout = new QVBoxLayout(&dialog);
  auto* intro = new QLabel(ToQ(kIntro));
  intro->setWordWrap(true);
  layout->addWidget(intro);
  layout->addLayout(form);
  layout->addWidget(buttons);
  dialog.resize(420, dialog.sizeHint().height());

  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return RecordFields{Entered(operatorName->text()), Entered(organization->text()),
                      Entered(assetTag->text()), Entered(notes->toPlainText())};
}

}  // namespace fw
