#pragma once
// What the pages of the main window need of it.

#include <QString>

#include "engine/volume/disk_object.h"
#include "ui/settings/text_keys.h"
#include "ui/shell/naming.h"

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

// A drive list's partition and clipped marks in the host's language.
inline TDriveCaptionMarks CaptionMarks(const TPageHost& Host) {
  return {Host.Text(TText::strPartition).toStdString(), Host.Text(TText::strClipped).toStdString()};
}

}  // namespace kestrine::ui
