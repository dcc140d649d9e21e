#include "ui/settings/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace kestrine::ui {

TQtTranslations::~TQtTranslations() {
  if (FInstalled) QCoreApplication::removeTranslator(&FTranslator);
}

void TQtTranslations::Use(const QString& Locale) {
  if (FInstalled) QCoreApplication::removeTranslator(&FTranslator);
  FInstalled = FTranslator.load(QStringLiteral("qtbase_") + Locale, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
               QCoreApplication::installTranslator(&FTranslator);
}

}  // namespace kestrine::ui
