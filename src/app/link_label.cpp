#include "app/link_label.hpp"

#include <QDesktopServices>
#include <QMouseEvent>
#include <utility>

#include "app/real_user.hpp"

namespace fw {

namespace {
std::function<void(const QUrl&)>& Opener() {
  static std::function<void(const QUrl&)> opener;
  return opener;
}
}  // namespace

LinkLabel::LinkLabel(const QString& text, const LinkColours& colours, QWidget* parent)
    : QLabel(text, parent), m_colours(colours) {
  setCursor(Qt::PointingHandCursor);
  SetTextColour(colours.normal);
}

QColor LinkLabel::TextColour() const { return palette().color(QPalette::WindowText); }

void LinkLabel::SetTextColour(const QColor& colour) {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, colour);
  setPalette(p);
}

void LinkLabel::enterEvent(QEnterEvent* event) {
  if (m_colours.hover) SetTextColour(*m_colours.hover);
  QLabel::enterEvent(event);
}

void LinkLabel::leaveEvent(QEvent* event) {
  if (m_colours.hover) SetTextColour(m_colours.normal);
  QLabel::leaveEvent(event);
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    m_pressed = true;
    SetTextColour(m_colours.pressed);
  }
  QLabel::mousePressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && m_pressed) {
    m_pressed = false;
    SetTextColour(m_colours.released);
    if (rect().contains(event->position().toPoint())) emit clicked();
  }
  QLabel::mouseReleaseEvent(event);
}

void OpenUrl(const QUrl& url) {
  if (Opener()) {
    Opener()(url);
    return;
  }
  // Raised by pkexec or sudo, the browser must not run as root with root's profile: it opens
  // as the user who asked, or not at all.
  if (RunsForAnotherUser()) {
    StartAsRealUser("xdg-open", {url.toString(QUrl::FullyEncoded).toStdString()});
    return;
  }
  QDesktopServices::openUrl(url);
}

std::function<void(const QUrl&)> SetUrlOpener(std::function<void(const QUrl&)> opener) {
  return std::exchange(Opener(), std::move(opener));
}

}  // namespace fw
