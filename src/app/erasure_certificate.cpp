#include "app/erasure_certificate.hpp"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include "core/product.hpp"

namespace fw {

namespace {

// fonts-arphic-uming, which the memos fall back on too: it carries every Traditional Chinese
// character the certificate uses, and QPdfWriter embeds it.
constexpr auto kCertificateFamily = "AR PL UMing TW";
constexpr int kResolution = 300;  // dots per inch of the page's coordinates
// A sanitization record is signed by the person who did it: room for the signature and date.
constexpr auto kSignature = "簽名: ______________________________        日期: ________________";

QFont CertificateFont(int points, bool bold = false) {
  QFont font(kCertificateFamily);
  font.setPointSize(points);
  font.setBold(bold);
  return font;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QByteArray ErasureCertificatePdf(const ErasureReport& report) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buffer);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setResolution(kResolution);
  writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
  writer.setTitle(Q(ErasureCertificateTitle(report)));
  writer.setCreator(Q(std::string(kProductName)));

  QPainter painter(&writer);
  const QRect page = painter.viewport();
  const int width = page.width();
  int y = 0;

  const auto paragraph = [&](const QString& text, const QFont& font, int flags) {
    painter.setFont(font);
    const QRect box = painter.boundingRect(QRect(0, y, width, page.height()),
                                           flags | Qt::TextWordWrap, text);
    painter.drawText(QRect(0, y, width, box.height()), flags | Qt::TextWordWrap, text);
    y += box.height();
  };

  paragraph(Q(ErasureCertificateTitle(report)), CertificateFont(22, true), Qt::AlignHCenter);
  y += kResolution / 8;
  paragraph(Q(ErasureVerdict(report)), CertificateFont(13, true), Qt::AlignHCenter);
  y += kResolution / 6;
  painter.drawLine(0, y, width, y);
  y += kResolution / 10;

  // Label column and value column; a long value wraps inside its column.
  const QFont factFont = CertificateFont(10);
  painter.setFont(factFont);
  const int labelWidth = width * 32 / 100;
  const int gap = kResolution / 10;
  const int footerRoom = kResolution * 3 / 2;
  for (const auto& [label, value] : ErasureReportFacts(report)) {
    const QString text = value.empty() ? QStringLiteral("—") : Q(value);
    const QRect valueBox =
        painter.boundingRect(QRect(labelWidth, y, width - labelWidth, page.height()),
                             Qt::TextWordWrap | Qt::TextWrapAnywhere, text);
    const int height = std::max(valueBox.height(), painter.fontMetrics().height());
    if (y + height > page.height() - footerRoom) break;  // one page, always
    painter.drawText(QRect(0, y, labelWidth - gap, height), Qt::TextWordWrap, Q(label));
    painter.drawText(QRect(labelWidth, y, width - labelWidth, height),
                     Qt::TextWordWrap | Qt::TextWrapAnywhere, text);
    y += height + gap / 2;
  }

  y = page.height() - footerRoom + kResolution / 3;
  paragraph(QString::fromUtf8(kSignature), CertificateFont(11), Qt::AlignLeft);
  y = page.height() - kResolution / 3;
  painter.drawLine(0, y, width, y);
  y += gap / 2;
  paragraph(Q("本證明由 " + std::string(kProductName) +
              " 產生；完整的格式化記錄見同一次執行的 JSON 報告。"),
            CertificateFont(8), Qt::AlignLeft);
  painter.end();
  return bytes;
}

}  // namespace fw
