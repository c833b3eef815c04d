#include "select/choose_window.hpp"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>
#include <utility>

#include "app/dialogs.hpp"
#include "app/link_label.hpp"
#include "app/program_end.hpp"
#include "app/real_user.hpp"
#include "core/messages.hpp"
#include "core/product.hpp"
#include "device/device_io.hpp"
#include "report/disk_summary.hpp"
#include "select/device_table.hpp"
#include "select/drive_list.hpp"
#include "select/scan.hpp"

namespace fw {

namespace {

constexpr std::array<const char*, 6> kColumns{"匯流排", "型號", "韌體", "序號", "邏輯區塊定址", "容量"};
// The last column takes the remaining width.
constexpr std::array<int, 5> kColumnWidths{78, 170, 90, 160, 117};
constexpr auto kDiskManagement = "開啟 [磁碟管理] 主控台";
constexpr auto kPleaseSelect = "請選擇裝置";
constexpr auto kContinue = "繼續 >>>";
// Where Windows opens its disk management console, a Linux desktop has one of these.
constexpr std::array<const char*, 3> kDiskTools{"gnome-disks", "partitionmanager", "gparted"};

QString ToQ(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString DiskManagementTool() {
  for (const char* tool : kDiskTools) {
    const QString path = QStandardPaths::findExecutable(tool);
    if (!path.isEmpty()) return path;
  }
  return {};
}

TFmChoose::TFmChoose(QWidget* parent)
    : QDialog(parent),
      m_programName(new QLabel(this)),
      m_makerLink(new LinkLabel(ToQ(kMakerSite), {kLinkBlue, std::nullopt, kLinkRed, kLinkBlue},
                                this)),
      m_driveList(new QTreeWidget(this)),
      m_diskManagement(new LinkLabel(kDiskManagement, {kLinkBlue, std::nullopt, kLinkBlue,
                                                       kLinkBlue}, this)),
      m_pleaseSelect(new QLabel(kPleaseSelect, this)),
      m_continue(new QPushButton(kContinue, this)),
      m_copyright(new QLabel(this)),
      m_status(new QLabel(this)),
      m_diskTool(DiskManagementTool()) {
  setObjectName("FmChoose");
  QFont windowFont = font();
  ApplySystemFont(windowFont);
  ApplyPreferredFont(windowFont);
  setFont(windowFont);

  // Top strip: the product name and the maker's address.
  auto* top = new QWidget(this);
  top->setObjectName("TopStrip");
  MakeHeaderStrip(top);
  top->setFixedHeight(44);
  m_programName->setObjectName("lbProgramName");
  QFont bold = m_programName->font();
  bold.setBold(true);
  m_programName->setFont(bold);
  m_makerLink->setObjectName("Label1");
  m_makerLink->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* topLayout = new QHBoxLayout(top);
  topLayout->setContentsMargins(10, 0, 10, 0);
  topLayout->addWidget(m_programName);
  topLayout->addStretch(1);
  topLayout->addWidget(m_makerLink);

  auto* separator = new QFrame(this);
  separator->setFrameShape(QFrame::HLine);
  separator->setFrameShadow(QFrame::Sunken);
  separator->setFixedHeight(2);

  m_driveList->setObjectName("DriveList");
  m_driveList->setColumnCount(static_cast<int>(kColumns.size()));
  QStringList headers;
  for (const char* column : kColumns) headers << column;
  m_driveList->setHeaderLabels(headers);
  m_driveList->setRootIsDecorated(false);
  m_driveList->setItemsExpandable(false);
  m_driveList->setUniformRowHeights(true);
  m_driveList->setAllColumnsShowFocus(true);
  m_driveList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_driveList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_driveList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_driveList->header()->setSectionsMovable(false);
  m_driveList->header()->setStretchLastSection(true);
  for (size_t i = 0; i < kColumnWidths.size(); ++i) {
    m_driveList->header()->resizeSection(static_cast<int>(i), kColumnWidths[i]);
  }
  ApplyExplorerTheme(m_driveList);
  m_driveList->viewport()->installEventFilter(this);

  // Bottom strip: the disk tool link, the prompt, Continue, the legal notice.
  auto* bottom = new QWidget(this);
  bottom->setFixedHeight(69);
  m_diskManagement->setObjectName("lbDiskManagement");
  QFont underlined = m_diskManagement->font();
  underlined.setUnderline(true);
  m_diskManagement->setFont(underlined);
  m_diskManagement->setVisible(!m_diskTool.isEmpty());
  m_pleaseSelect->setObjectName("Label2");
  m_continue->setObjectName("btContinue");
  m_continue->setDefault(true);
  m_continue->setEnabled(false);
  m_copyright->setObjectName("lbCopyright");
  QPalette grey = m_copyright->palette();
  grey.setColor(QPalette::WindowText, kLinkGrey);
  m_copyright->setPalette(grey);
  auto* bottomLayout = new QGridLayout(bottom);
  bottomLayout->setContentsMargins(10, 0, 10, 4);
  bottomLayout->addWidget(m_diskManagement, 0, 1, 1, 2, Qt::AlignRight | Qt::AlignTop);
  bottomLayout->addWidget(m_copyright, 1, 0, Qt::AlignLeft | Qt::AlignBottom);
  bottomLayout->addWidget(m_pleaseSelect, 1, 1, Qt::AlignRight | Qt::AlignVCenter);
  bottomLayout->addWidget(m_continue, 1, 2, Qt::AlignRight | Qt::AlignVCenter);
  bottomLayout->setColumnStretch(0, 1);

  auto* statusBar = new QStatusBar(this);
  statusBar->setObjectName("StatusBar");
  statusBar->setSizeGripEnabled(false);
  m_status->setObjectName("StatusText");
  statusBar->addWidget(m_status, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(top);
  layout->addWidget(separator);
  auto* listArea = new QVBoxLayout;
  listArea->setContentsMargins(10, 10, 10, 10);
  listArea->addWidget(m_driveList);
  layout->addLayout(listArea, 1);
  layout->addWidget(bottom);
  layout->addWidget(statusBar);
  setFixedSize(767, 356);

  connect(m_makerLink, &LinkLabel::clicked, this, [] { OpenUrl(QUrl(ToQ(kMakerSite))); });
  connect(m_diskManagement, &LinkLabel::clicked, this, &TFmChoose::lbDiskManagementClick);
  connect(m_driveList, &QTreeWidget::itemSelectionChanged, this, &TFmChoose::DriveListClick);
  connect(m_driveList, &QTreeWidget::itemDoubleClicked, this, &TFmChoose::DriveListDblClick);
  connect(m_continue, &QPushButton::clicked, this, &TFmChoose::btContinueClick);
}

bool TFmChoose::SelectDevice(DeviceIo* io) {
  for (int64_t row = 1; row <= DeviceCount; ++row) {
    QStringList texts;
    for (const std::string& cell : DriveListCells(DeviceTable[row])) texts << ToQ(cell);
    auto* item = new QTreeWidgetItem(texts);
    if (io != nullptr) {
      const TDeviceTable& entry = DeviceTable[row];
      const QString tip = ToQ(
          DiskSummaryText(entry, io->DescribeDisk(entry.DevicePath), kDiskSummaryChinese));
      for (int column = 0; column < item->columnCount(); ++column) item->setToolTip(column, tip);
    }
    m_driveList->addTopLevelItem(item);
  }
  exec();
  return m_deviceChosen;
}

void TFmChoose::SetStatusText(const QString& text) { m_status->setText(text); }
QString TFmChoose::StatusText() const { return m_status->text(); }
void TFmChoose::SetProgramName(const QString& text) { m_programName->setText(text); }
void TFmChoose::SetCopyright(const QString& text) { m_copyright->setText(text); }

void TFmChoose::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  m_driveList->setFocus();
  const int count = m_driveList->topLevelItemCount();
  // Shown again (restored after minimizing, say), the window keeps the user's choice: selecting
  // the last row anew would put another disk under the Enter key.
  if (count > 0 && !std::exchange(m_shown, true)) {
    m_continue->setEnabled(true);
    m_driveList->setCurrentItem(m_driveList->topLevelItem(count - 1));
  }
}

bool TFmChoose::eventFilter(QObject* watched, QEvent* event) {
  // A click on the list's empty area clears the selection, as a report list does.
  if (watched == m_driveList->viewport() && event->type() == QEvent::MouseButtonPress) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (m_driveList->itemAt(mouse->position().toPoint()) == nullptr) {
      m_driveList->clearSelection();
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TFmChoose::DriveListClick() {
  m_continue->setEnabled(!m_driveList->selectedItems().isEmpty());
}

void TFmChoose::DriveListDblClick() {
  if (!m_driveList->selectedItems().isEmpty()) btContinueClick();
}

void TFmChoose::btContinueClick() {
  const QList<QTreeWidgetItem*> selected = m_driveList->selectedItems();
  if (selected.isEmpty()) return;
  const int64_t row = m_driveList->indexOfTopLevelItem(selected.front()) + 1;
  if (DeviceTable[row].IdentifyData.LBA < kMinimumSectors) {
    QMessageBox::information(this, ToQ(kTooSmallTitle), ToQ(kTooSmallText));
    return;
  }
  m_deviceChosen = true;
  ChosenIndex = row;
  accept();
}

void TFmChoose::lbDiskManagementClick() {
  if (!m_diskTool.isEmpty()) StartAsRealUser(m_diskTool.toStdString(), {});
}

void TFmChoose::done(int result) {
  QDialog::done(result);
  if (!m_deviceChosen) EndProgram(kExitQuit);
}

}  // namespace fw
