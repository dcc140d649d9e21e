#pragma once
// The modal boxes and file dialogs of the window, behind one seam so tests answer them.

#include <QString>

class QDialog;
class QWidget;

namespace kestrine::ui {

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  virtual void Information(QWidget* Parent, const QString& Text);
  virtual void Error(QWidget* Parent, const QString& Text);
  // An information box with a list the user may open.
  virtual void Report(QWidget* Parent, const QString& Text, const QString& Details);
  // Yes or No, No being the default.
  virtual bool Confirm(QWidget* Parent, const QString& Title, const QString& Text);
  // Shows a window of ours modally.
  virtual void ShowModal(QDialog& Dialog);
  // Empty when cancelled.
  virtual QString SelectFolder(QWidget* Parent, const QString& Title);
  virtual QString OpenFile(QWidget* Parent, const QString& Title, const QString& Filter);
  // Text is the initial text and, when the user confirms, the entered one; false when cancelled.
  virtual bool InputText(QWidget* Parent, const QString& Caption, const QString& Prompt, QString& Text);
  // Shows the folder in the desktop's file manager.
  virtual void OpenFolder(const QString& Path);
};

}  // namespace kestrine::ui
