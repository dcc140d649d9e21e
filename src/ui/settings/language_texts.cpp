#include "ui/settings/language_texts.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QTabWidget>
#include <QWidget>

namespace kestrine::ui {

namespace {

// A control that shows no words is known to a screen reader by its accessible name alone.
bool ShowsNoText(const QObject& Object) {
  return qobject_cast<const QAbstractItemView*>(&Object) || qobject_cast<const QProgressBar*>(&Object) ||
         qobject_cast<const QAbstractSpinBox*>(&Object);
}

void SetText(QObject& Object, const QString& Text) {
  if (auto* action = qobject_cast<QAction*>(&Object)) action->setText(Text);
  if (auto* menu = qobject_cast<QMenu*>(&Object)) menu->setTitle(Text);
  if (auto* button = qobject_cast<QAbstractButton*>(&Object)) button->setText(Text);
  if (auto* group = qobject_cast<QGroupBox*>(&Object)) group->setTitle(Text);
  // A label that opens links shows an address, which no language changes.
  if (auto* label = qobject_cast<QLabel*>(&Object); label && !label->openExternalLinks()) label->setText(Text);
  if (ShowsNoText(Object)) static_cast<QWidget&>(Object).setAccessibleName(Text);
}

// A page's caption belongs to its tab widget, not to the page.
void SetTabCaptions(QTabWidget& Tabs, const TLanguageDocument& Document) {
  for (int index = 0; index < Tabs.count(); ++index) {
    const QWidget* page = Tabs.widget(index);
    if (!page || page->objectName().isEmpty()) continue;
    const QString text = Document.LookupText(page->objectName());
    if (!text.isEmpty()) Tabs.setTabText(index, text);
  }
}

}  // namespace

void ApplyTexts(const TLanguageDocument& Document, QWidget& Window) {
  for (QObject* object : Window.findChildren<QObject*>()) {
    if (!object->objectName().isEmpty()) {
      const QString text = Document.LookupText(object->objectName());
      if (!text.isEmpty()) SetText(*object, text);
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(object)) SetTabCaptions(*tabs, Document);
  }
}

QStringList ColumnCaptions(const TLanguageDocument& Document, const QString& List, int Count) {
  QStringList captions;
  for (int column = 1; column <= Count; ++column)
    captions << Document.LookupText(List + QStringLiteral("Column") + QString::number(column));
  return captions;
}

bool ApplyLanguage(const QString& Name, TLanguageDocument& Document, QWidget& Window, TSettingsProblem* Error) {
  const QString path = LangsFolder() + QLatin1Char('/') + Name + QStringLiteral(".txt");
  const bool loaded = !QFile::exists(path) || Document.Load(path, Error);
  // Also without a file: controls made without a caption take the English one.
  ApplyTexts(Document, Window);
  return loaded;
}

}  // namespace kestrine::ui
