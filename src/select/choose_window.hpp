#pragma once
// The device-selection window: the one place where the user picks the disk the program works
// on for the rest of the run. Leaving it in any other way than through Continue ends the
// program.
#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace fw {

class DeviceIo;
class LinkLabel;

// The first of the Linux disk tools found in PATH (gnome-disks, partitionmanager, gparted);
// empty when none is installed.
QString DiskManagementTool();

class TFmChoose : public QDialog {
  Q_OBJECT
 public:
  explicit TFmChoose(QWidget* parent = nullptr);

  // Lists rows 1..DeviceCount of the device table, shows the window modally and returns
  // DeviceChosen; ChosenIndex then holds the chosen row. With `io`, each row's tooltip tells
  // the disk apart: path, by-id names, full model, size in bytes, mounted partitions.
  bool SelectDevice(DeviceIo* io = nullptr);

  bool DeviceChosen() const { return m_deviceChosen; }
  void SetStatusText(const QString& text);
  QString StatusText() const;
  void SetProgramName(const QString& text);
  void SetCopyright(const QString& text);

 public slots:
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void DriveListClick();
  void DriveListDblClick();
  void btContinueClick();
  void lbDiskManagementClick();

  QLabel* m_programName;
  LinkLabel* m_makerLink;
  QTreeWidget* m_driveList;
  LinkLabel* m_diskManagement;
  QLabel* m_pleaseSelect;
  QPushButton* m_continue;
  QLabel* m_copyright;
  QLabel* m_status;
  QString m_diskTool;
  bool m_deviceChosen = false;
  bool m_shown = false;  // the last row is preselected on the first show only
};

}  // namespace fw
