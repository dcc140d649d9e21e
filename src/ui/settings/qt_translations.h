#pragma once
// Qt's own texts (the Yes and No of a question, file dialogs, an edit's context menu) in the
// language in force, from the translations installed with Qt.

#include <QString>
#include <QTranslator>

namespace kestrine::ui {

class TQtTranslations {
 public:
  TQtTranslations() = default;
  ~TQtTranslations();
  TQtTranslations(const TQtTranslations&) = delete;
  TQtTranslations& operator=(const TQtTranslations&) = delete;

  // Locale is a name such as "de"; Qt's English stays where no translation of it is installed.
  void Use(const QString& Locale);

 private:
  QTranslator FTranslator;
  bool FInstalled = false;
};

}  // namespace kestrine::ui
