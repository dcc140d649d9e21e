#include "ui/main/single_instance.h"

#include <QDir>
#include <QStandardPaths>

namespace kestrine::ui {
namespace {

QString LockPath(const QString& Folder) {
  QString folder = Folder;
  if (folder.isEmpty()) folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return QDir(folder).filePath(QStringLiteral("KestrinePro.lock"));
}

}  // namespace

TSingleInstance::TSingleInstance(const QString& Folder) : FLock(LockPath(Folder)) {
  // A holder that is gone is recognised by its process id, however young the lock; never by age.
  FLock.setStaleLockTime(0);
  FAcquired = FLock.tryLock(0);
}

}  // namespace kestrine::ui
