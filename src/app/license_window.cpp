#include "app/license_window.hpp"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/dialogs.hpp"
#include "app/memo.hpp"
#include "app/program_end.hpp"
#include "app/real_user.hpp"
#include "core/product.hpp"
#include "core/small_file.hpp"

namespace fw {

namespace {

constexpr auto kTitle = "授權合約";
constexpr auto kAgree = "同意";
constexpr auto kDisagree = "不同意";
constexpr std::string_view kAgreed = "1";

constexpr auto kTerms = R"(LICENSE AGREEMENT: TERMS AND CONDITIONS OF USE

Please read these terms carefully before you use Ferrowipe (the "Software").
By choosing "Agree" you accept them. If you do not accept them, choose
"Disagree": the Software will close and nothing will have been written.

1. GRANT OF USE
The Ferrowipe developers grant you a free, non-exclusive and
non-transferable right to install and use the Software on any number of
computers, for private and for commercial purposes, for as long as you
comply with these terms.

2. WHAT THE SOFTWARE DOES
The Software writes zeros over the whole of a disk, or over its first
10,240,000 bytes in a quick wipe. Data overwritten in this way cannot be
recovered by the Software or by its developers. You alone choose the disk
and confirm the erasure, and you alone are responsible for that choice.

3. RESTRICTIONS
You may not:
  a) sell, rent or lease the Software, or charge a fee for it;
  b) remove or alter the copyright notice or these terms;
  c) distribute modified copies under the Ferrowipe name;
  d) use the Software on disks that you are not entitled to erase.
You may make copies of the Software and give them to others free of
charge, provided that every copy is complete and unchanged and includes
these terms.

4. TERM
This agreement takes effect when you accept it and lasts until it ends.
It ends at once, without notice, if you fail to comply with any of its
terms. You may end it at any time by removing every copy of the Software
in your possession. Sections 5 to 8 survive its end.

5. OWNERSHIP
The Software is licensed, not sold. Its developers keep all rights,
title and interest in it, including every copyright and other
intellectual property right, except the rights expressly granted to you
in section 1.

6. EXPORT RESTRICTIONS
You agree to comply with all export laws and regulations that apply to
the Software, and not to export or re-export it to any country, person
or entity to which such laws forbid it to be exported.

7. DISCLAIMER OF WARRANTIES
THE SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND, EXPRESS
OR IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF
MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND NON-INFRINGEMENT.
THE ENTIRE RISK AS TO THE QUALITY AND PERFORMANCE OF THE SOFTWARE IS
WITH YOU. IN NO EVENT SHALL THE DEVELOPERS BE LIABLE FOR ANY CLAIM,
DAMAGES OR OTHER LIABILITY, INCLUDING THE LOSS OF DATA, LOSS OF PROFITS
OR INTERRUPTION OF BUSINESS, WHETHER IN AN ACTION OF CONTRACT, TORT OR
OTHERWISE, ARISING FROM, OUT OF OR IN CONNECTION WITH THE SOFTWARE OR
ITS USE, EVEN IF ADVISED OF THE POSSIBILITY OF SUCH DAMAGES.

8. GOVERNING LAW
This agreement is governed by the laws of the place where you obtained
the Software, without regard to its conflict-of-law rules. If any term
is held to be unenforceable, the remaining terms stay in force.

9. ENTIRE AGREEMENT
This is the entire agreement between you and the developers about the
Software. It replaces every earlier statement about the Software,
written or oral.

Before you erase a disk, make sure that you have chosen the right one
and that you have a copy of every file on it that you want to keep.
)";

}  // namespace

std::string LocalAppDataFolder() {
  const bool forAnotherUser = RunsForAnotherUser();
  const std::optional<UserAccount> account = RealUserAccount();
  // Working for a user nobody knows: nothing is kept anywhere, the question comes each time.
  if (forAnotherUser && !account) return {};
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return data;
  const char* home = std::getenv("HOME");
  if (!forAnotherUser && home != nullptr && home[0] == '/') {
    return std::string(home) + "/.local/share";
  }
  if (!account || account->home.empty() || account->home[0] != '/') return {};
  return account->home + "/.local/share";
}

std::string AgreementPath() {
  const std::string folder = LocalAppDataFolder();
  if (folder.empty()) return {};
  return folder + "/ferrowipe." + std::string(kProductVersion) + ".agreement";
}

TfmLicenseAgreement::TfmLicenseAgreement(QWidget* parent)
    : QDialog(parent),
      m_memo(MakeMemo("Memo1", true, this)),
      m_agree(new QPushButton(kAgree, this)),
      m_disagree(new QPushButton(kDisagree, this)) {
  setObjectName("fmLicenseAgreement");
  setWindowTitle(kTitle);
  setFont(MemoFont(kMemoPixelSize));
  m_memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  m_memo->setPlainText(kTerms);
  m_agree->setObjectName("Button1");
  m_disagree->setObjectName("Button2");
  m_agree->setAutoDefault(false);
  m_disagree->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_agree);
  buttons->addWidget(m_disagree);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_memo, 1);
  layout->addLayout(buttons);
  setFixedSize(612, 383);
  CentreOnScreen(this);

  connect(m_agree, &QPushButton::clicked, this, &TfmLicenseAgreement::Button1Click);
  connect(m_disagree, &QPushButton::clicked, this, &TfmLicenseAgreement::Button2Click);

  // FormCreate: the question comes before anything else of the program runs.
  // Judged by its size first: a huge file planted in the marker's place is never read.
  if (ReadUserFile(AgreementPath(), kAgreed.size()).content == kAgreed) return;
  m_shown = true;
  exec();
}

void TfmLicenseAgreement::Button1Click() {
  // The data folder may not exist yet on a fresh account; it is made as the XDG base-directory
  // rules ask. If it cannot be made or written, this run goes on and the next one asks again.
  // Made for the user behind pkexec or sudo, the folders and the marker become theirs.
  const std::optional<FileOwner> owner = RealUserFileOwner();
  const std::string folder = LocalAppDataFolder();
  if (!folder.empty() && MakeUserFolder(folder, owner)) {
    WriteSmallFile(AgreementPath(), std::string(kAgreed), owner);
  }
  m_accepted = true;
  accept();
}

void TfmLicenseAgreement::Button2Click() { reject(); }

void TfmLicenseAgreement::keyPressEvent(QKeyEvent* event) {
  // Neither button is an auto-default one, so that no Enter agrees by default; a focused one
  // still answers Enter as a focused button does.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  auto* focused = qobject_cast<QPushButton*>(focusWidget());
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
      (focused == m_agree || focused == m_disagree)) {
    event->accept();
    focused->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfmLicenseAgreement::done(int result) {
  QDialog::done(result);
  if (!m_accepted) EndProgram(kExitQuit);
}

}  // namespace fw
