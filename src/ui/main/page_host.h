#pragma once
// What the pages of the main window need of it, and the naming every window of ours uses.

#include <QString>

#include "ui/settings/text_keys.h"

namespace kestrine::ui {

class TPageHost {
 public:
  virtual ~TPageHost() = default;
  // The language in force, over the built-in English texts.
  virtual const TLanguageDocument& Language() const = 0;
  QString LookupText(const QString& Key) const { return Language().LookupText(Key); }
  QString Text(TText Key) const { return ui::Text(Language(), Key); }
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
