#pragma once
// Qt's own texts (the standard buttons Yes, Cancel, OK, Show Details..., the file dialog) in the
// language of the program's windows.
#include <QLocale>
#include <QString>

class QCoreApplication;

namespace fw {

// The Qt translation that suits `locale`: the locale's own where Qt has one, else Traditional
// Chinese, the language of the program's own texts. English, Qt's source language, and the C
// locale count as having none, so that a window never mixes English buttons into Chinese texts.
// Installs it into `app` and returns the name of the file loaded (empty: none could be loaded,
// the buttons stay in English). The translations are read from Qt's own installed folder only.
QString InstallQtTranslations(QCoreApplication& app, const QLocale& locale);

}  // namespace fw
