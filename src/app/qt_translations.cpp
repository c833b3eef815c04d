#include "app/qt_translations.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace fw {

namespace {

constexpr auto kCatalogue = "qtbase";
constexpr auto kProgramLanguage = "qtbase_zh_TW";

}  // namespace

QString InstallQtTranslations(QCoreApplication& app, const QLocale& locale) {
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  auto* translator = new QTranslator(&app);
  const bool ownLanguage = locale.language() != QLocale::English &&
                           locale.language() != QLocale::C &&
                           translator->load(locale, kCatalogue, "_", folder);
  if (!ownLanguage && !translator->load(kProgramLanguage, folder)) {
    delete translator;
    return {};
  }
  app.installTranslator(translator);
  return translator->filePath();
}

}  // namespace fw
