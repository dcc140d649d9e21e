#pragma once
// What the pages of the main window need of it, and the naming every window of ours uses.

#include <QString>

namespace kestrine::ui {

class TPageHost {
 public:
  virtual ~TPageHost() = default;
  // The current language's text of Key; empty when it has none.
  virtual QString LookupText(const QString& Key) const = 0;
  // The toolbar is off while a page's long work runs.
  virtual void SetToolbarEnabled(bool Enabled) = 0;
};

// Widgets carry their specified names: language files and accessibility tools find them by it.
template <typename T>
T* Named(T* Widget, const char* Name) {
  Widget->setObjectName(QString::fromLatin1(Name));
  return Widget;
}

}  // namespace kestrine::ui
