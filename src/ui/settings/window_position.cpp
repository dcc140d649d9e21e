#include "ui/settings/window_position.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace kestrine::ui {

namespace {

QString LeftKey(const QWidget& Form) { return Form.objectName() + QStringLiteral("_Left"); }
QString TopKey(const QWidget& Form) { return Form.objectName() + QStringLiteral("_Top"); }

// Reads one stored edge; a value that is missing or not a whole number leaves the edge alone.
bool ReadEdge(QSettings& Store, const QString& Key, int& Edge) {
  const QVariant value = Store.value(Key);
  if (!value.isValid()) return false;
  bool isNumber = false;
  const int number = value.toInt(&isNumber);
  if (isNumber) Edge = number;
  return isNumber;
}

// Enough of the window to grab it with the mouse.
bool ReachableOnSomeScreen(const QRect& Frame) {
  const int needWidth = qMin(Frame.width(), 48);
  const int needHeight = qMin(Frame.height(), 24);
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect shown = Frame.intersected(screen->availableGeometry());
    if (shown.width() >= needWidth && shown.height() >= needHeight) return true;
  }
  return false;
}

QPoint CentredOn(const QRect& Area, const QSize& Size) {
  const int left = Area.left() + qMax(0, (Area.width() - Size.width()) / 2);
  const int top = Area.top() + qMax(0, (Area.height() - Size.height()) / 2);
  return {left, top};
}

}  // namespace

void SaveWindowPosition(QSettings& Store, const QWidget& Form) {
  Store.setValue(LeftKey(Form), Form.x());
  Store.setValue(TopKey(Form), Form.y());
}

void LoadWindowPosition(QSettings& Store, QWidget& Form) {
  QPoint position = Form.pos();
  const bool hasLeft = ReadEdge(Store, LeftKey(Form), position.rx());
  const bool hasTop = ReadEdge(Store, TopKey(Form), position.ry());
  if (!hasLeft && !hasTop) return;
  // A screen unplugged since the last run must not leave the window out of reach.
  const QSize size = Form.frameGeometry().size();
  if (!ReachableOnSomeScreen(QRect(position, size))) {
    if (const QScreen* primary = QGuiApplication::primaryScreen())
      position = CentredOn(primary->availableGeometry(), size);
  }
  Form.move(position);
}

}  // namespace kestrine::ui
