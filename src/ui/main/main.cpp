// The desktop program's entry: one instance per user, then the main window until it closes.
#include <QApplication>
#include <QMessageBox>
#include <QSettings>

#include "engine/volume/disk_list.h"
#include "ui/shell/desktop_core.h"
#include "ui/shell/dialogs.h"
#include "ui/main/main_window.h"
#include "ui/main/program_icon.h"
#include "ui/main/single_instance.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Kestrine Pro"));
  QApplication::setApplicationName(QStringLiteral("Kestrine Pro"));
  QApplication::setWindowIcon(kestrine::ui::ProgramIcon());

  kestrine::ui::TSingleInstance instance;
  if (!instance.Acquired()) {
    QMessageBox::critical(nullptr, QStringLiteral("Error"), QStringLiteral("Another instance is running !"));
    return 1;
  }

  kestrine::ui::TDesktopCore core(kestrine::ListLocalDrives());
  // Organisation "Kestrine Pro", no application name: ~/.config/Kestrine Pro.conf.
  QSettings settings(QStringLiteral("Kestrine Pro"), QString());
  kestrine::ui::TDialogs dialogs;
  kestrine::ui::TfrmOrvik window(core, settings, dialogs);
  window.show();
  return QApplication::exec();
}
