#include "ui/main/program_icon.h"

#include <QImageReader>

namespace kestrine::ui {

QIcon ProgramIcon() {
  // The reader tells whether an SVG plugin is there to draw the file.
  if (QImageReader(QStringLiteral(":/kestrine.svg")).canRead()) return QIcon(QStringLiteral(":/kestrine.svg"));
  return QIcon(QStringLiteral(":/kestrine.png"));
}

}  // namespace kestrine::ui
