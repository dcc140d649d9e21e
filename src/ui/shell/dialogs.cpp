#include "ui/shell/dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QUrl>

namespace kestrine::ui {

void TDialogs::Information(QWidget* Parent, const QString& Text) {
  QMessageBox::information(Parent, QApplication::applicationDisplayName(), Text);
}

void TDialogs::Error(QWidget* Parent, const QString& Text) {
  QMessageBox::critical(Parent, QApplication::applicationDisplayName(), Text);
}

void TDialogs::Report(QWidget* Parent, const QString& Text, const QString& Details) {
  QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(), Text, QMessageBox::Ok, Parent);
  box.setDetailedText(Details);
  box.exec();
}

bool TDialogs::Confirm(QWidget* Parent, const QString& Title, const QString& Text) {
  return QMessageBox::warning(Parent, Title, Text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

void TDialogs::ShowModal(QDialog& Dialog) { Dialog.exec(); }

QString TDialogs::SelectFolder(QWidget* Parent, const QString& Title) {
  return QFileDialog::getExistingDirectory(Parent, Title);
}

QString TDialogs::OpenFile(QWidget* Parent, const QString& Title, const QString& Filter) {
  return QFileDialog::getOpenFileName(Parent, Title, QString(), Filter);
}

bool TDialogs::InputText(QWidget* Parent, const QString& Caption, const QString& Prompt, QString& Text) {
  bool ok = false;
  const QString entered = QInputDialog::getText(Parent, Caption, Prompt, QLineEdit::Normal, Text, &ok);
  if (ok) Text = entered;
  return ok;
}

void TDialogs::OpenFolder(const QString& Path) { QDesktopServices::openUrl(QUrl::fromLocalFile(Path)); }

}  // namespace kestrine::ui
