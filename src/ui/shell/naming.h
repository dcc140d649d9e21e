#pragma once
// The naming every window of ours uses.

#include <QString>

namespace kestrine::ui {

// Widgets carry their specified names: language files and accessibility tools find them by it.
template <typename T>
T* Named(T* Widget, const char* Name) {
  Widget->setObjectName(QString::fromLatin1(Name));
  return Widget;
}

}  // namespace kestrine::ui
