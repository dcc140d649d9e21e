#include "ui/main/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

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

QString TDialogs::SelectFolder(QWidget* Parent, const QString& Title) {
  return QFileDialog::getExistingDirectory(Parent, Title);
}

QString TDialogs::OpenFile(QWidget* Parent, const QString& Title, const QString& Filter) {
  return QFileDialog::getOpenFileName(Parent, Title, QString(), Filter);
}

}  // namespace kestrine::ui
