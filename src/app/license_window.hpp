#pragma once
// The terms-of-use agreement. Asked once per user and program version: agreeing leaves the
// marker ferrowipe.4.30.agreement holding "1" in the user's data folder; declining ends the
// program before any disk is chosen.
#include <QDialog>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace fw {

// The real user's data folder (see RealUserAccount): $XDG_DATA_HOME when it is an absolute
// path, else their home's .local/share, no trailing "/". The home is $HOME for a process of the
// user's own (when HOME is an absolute path) and the password database's otherwise: raised by
// pkexec or sudo, HOME is root's or, kept by sudo, still the user's but for root's use. Empty
// when the user has no entry there.
std::string LocalAppDataFolder();
// LocalAppDataFolder() + "/ferrowipe.4.30.agreement"; empty with the folder.
std::string AgreementPath();

class TfmLicenseAgreement : public QDialog {
  Q_OBJECT
 public:
  // Reads the marker; unless it holds exactly "1", shows the window modally before returning.
  explicit TfmLicenseAgreement(QWidget* parent = nullptr);

  bool AgreementAccepted() const { return m_accepted; }
  bool WasShown() const { return m_shown; }

 public slots:
  void done(int result) override;

 protected:
  // Enter presses the focused button, and only that: with the terms' memo focused it agrees to
  // nothing.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Button1Click();
  void Button2Click();

  QPlainTextEdit* m_memo;
  QPushButton* m_agree;
  QPushButton* m_disagree;
  bool m_accepted = false;
  bool m_shown = false;
};

}  // namespace fw
