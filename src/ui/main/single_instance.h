#pragma once
// One running program per user: a lock file in the user's runtime folder. The lock of a process that
// died is taken over.

#include <QLockFile>
#include <QString>

namespace kestrine::ui {

class TSingleInstance {
 public:
  // Folder empty: the user's runtime folder.
  explicit TSingleInstance(const QString& Folder = {});
  // False when another live process holds the lock.
  bool Acquired() const { return FAcquired; }

 private:
  QLockFile FLock;
  bool FAcquired = false;
};

}  // namespace kestrine::ui
