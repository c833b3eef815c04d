#pragma once
// A label that acts as a link: a hand cursor, colours for hover, press and release, a click.
#include <QColor>
#include <QLabel>
#include <QUrl>
#include <functional>
#include <optional>

namespace fw {

inline const QColor kLinkBlue{0x00, 0x00, 0xFF};
inline const QColor kLinkRed{0xFF, 0x00, 0x00};
inline const QColor kLinkGrey{0x80, 0x80, 0x80};

struct LinkColours {
  QColor normal;
  std::optional<QColor> hover;  // none: entering and leaving change nothing
  QColor pressed;
  QColor released;
};

class LinkLabel : public QLabel {
  Q_OBJECT
 public:
  LinkLabel(const QString& text, const LinkColours& colours, QWidget* parent = nullptr);

  QColor TextColour() const;
  void SetTextColour(const QColor& colour);

 signals:
  void clicked();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  LinkColours m_colours;
  bool m_pressed = false;
};

// Opens a web address in the real user's browser (see StartAsRealUser). Tests replace the
// opener.
void OpenUrl(const QUrl& url);
std::function<void(const QUrl&)> SetUrlOpener(std::function<void(const QUrl&)> opener);

}  // namespace fw
