// The PDF certificate as people read it (its text, through pdftotext): the NIST SP 800-88
// category and what a quick wipe leaves behind, the method, media, verification and the record
// fields, on one page with room to sign.
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "app/erasure_certificate.hpp"

using namespace fw;

Q_DECLARE_METATYPE(fw::ErasureReport)

namespace {

ErasureReport Completed(EraseMethodState method, MediaType media) {
  ErasureReport report;
  report.disk.DevicePath = "/dev/sdb";
  report.disk.IdentifyData.Model = "SAMSUNG MZ7LH480";
  report.disk.IdentifyData.LBA = 937'703'088;
  report.disk.IdentifyData.SectorSize = 512;
  report.attempt.locked = true;
  report.attempt.run.outcome = ZeroFillOutcome::Completed;
  report.attempt.method = method;
  report.attempt.media = media;
  return report;
}

ErasureReport QuickWipe() {
  ErasureReport report =
      Completed({EraseMethod::Zero, EraseRefusal::None, EraseCategory::Clear}, MediaType::UsbFlash);
  report.attempt.quickWipe = true;
  return report;
}

ErasureReport SampledCryptoErase() {
  ErasureReport report = Completed(
      {EraseMethod::SanitizeCrypto, EraseRefusal::None, EraseCategory::Purge}, MediaType::Ssd);
  report.attempt.verifyAsked = true;
  report.attempt.run.verify.outcome = VerifyOutcome::Passed;
  report.attempt.run.verify.bytesChecked = 1'002 * 512;
  report.attempt.verifyMethod = "sample before and after";
  report.record = {"陳大文 資訊主管", "範例科技股份有限公司", "ASSET-7781", "機房 B 退役"};
  return report;
}

// The certificate's words, with the line breaks and the spacing of the layout taken out.
QString CertificateText(const ErasureReport& report, QTemporaryDir& dir) {
  const QString pdf = dir.filePath("certificate.pdf");
  QFile file(pdf);
  if (!file.open(QIODevice::WriteOnly)) return {};
  file.write(ErasureCertificatePdf(report));
  file.close();
  QProcess text;
  text.start("pdftotext", {"-enc", "UTF-8", pdf, "-"});
  text.waitForFinished();
  return QString::fromUtf8(text.readAllStandardOutput()).simplified().remove(' ');
}

int Pages(const ErasureReport& report) {
  const QString bytes = QString::fromLatin1(ErasureCertificatePdf(report));
  return int(bytes.count(QRegularExpression(R"(/Type\s*/Page(?![s\w]))")));
}

}  // namespace

class ErasureCertificateTest : public QObject {
  Q_OBJECT

 private slots:
  void says_data() {
    QTest::addColumn<ErasureReport>("report");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QStringList>("never");
    QTest::newRow("quick wipe")
        << QuickWipe()
        << QStringList{"分割表移除記錄", "NISTSP800-88類別",
                       "partitiontablesremoved,databeyondthefirst10,240,000bytesremains",
                       "USBflash", "簽名"}
        << QStringList{"資料清除證明", "清除(Clear)"};
    QTest::newRow("crypto erase, sampled")
        << SampledCryptoErase()
        << QStringList{"資料清除證明", "清洗(Purge)", "Sanitize加密抹除", "SSD",
                       "Ferrowipe4.30", "抹除前後讀取同一組抽樣磁區並比對",
                       "陳大文資訊主管", "範例科技股份有限公司", "ASSET-7781", "機房B退役"}
        << QStringList{"partitiontablesremoved", "已寫入位元組"};
  }
  void says() {
    if (QStandardPaths::findExecutable("pdftotext").isEmpty()) QSKIP("pdftotext is not installed");
    QFETCH(ErasureReport, report);
    QFETCH(QStringList, says);
    QFETCH(QStringList, never);
    QTemporaryDir dir;
    const QString text = CertificateText(report, dir);
    for (const QString& words : says) QVERIFY2(text.contains(words), qPrintable(words + "\n" + text));
    for (const QString& words : never) QVERIFY2(!text.contains(words), qPrintable(words));
  }

  // Long notes do not push the certificate onto a second page, nor over the signature.
  void onePageWithRoomToSign() {
    ErasureReport report = SampledCryptoErase();
    report.record.notes = std::string(3000, 'x');
    report.attempt.passwordLeft = "FwTmp-1234";
    QCOMPARE(Pages(report), 1);
    if (QStandardPaths::findExecutable("pdftotext").isEmpty()) return;
    QTemporaryDir dir;
    QVERIFY(CertificateText(report, dir).contains("簽名"));
  }
};

QTEST_MAIN(ErasureCertificateTest)
#include "erasure_certificate_test.moc"
