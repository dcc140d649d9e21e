#include "ui/settings/window_position.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "tests/settings/settings_test_support.h"

namespace kestrine::ui {
namespace {

class WindowPosition : public test::TScratchFolderTest {
 protected:
  void SetUp() override {
    TScratchFolderTest::SetUp();
    FForm.setObjectName(QStringLiteral("frmOrvik"));
    FForm.resize(300, 200);
    FForm.move(10, 20);
  }
  QWidget FForm;
};

TEST_F(WindowPosition, StoredUnderTheFormsNameAndMovedBack) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QPoint stored = screen.topLeft() + QPoint(40, 30);
  FForm.move(stored);
  SaveWindowPosition(UserSettings(), FForm);
  EXPECT_EQ(UserSettings().value(QStringLiteral("frmOrvik_Left")).toInt(), stored.x());
  EXPECT_EQ(UserSettings().value(QStringLiteral("frmOrvik_Top")).toInt(), stored.y());

  QWidget other;
  other.setObjectName(QStringLiteral("frmOrvik"));
  other.resize(300, 200);
  LoadWindowPosition(UserSettings(), other);
  EXPECT_EQ(other.pos(), stored);
}

TEST_F(WindowPosition, AMissingOrUnreadableEdgeIsLeftAlone) {
  LoadWindowPosition(UserSettings(), FForm);
  EXPECT_EQ(FForm.pos(), QPoint(10, 20));

  UserSettings().setValue(QStringLiteral("frmOrvik_Left"), 50);
  UserSettings().setValue(QStringLiteral("frmOrvik_Top"), QStringLiteral("high"));
  LoadWindowPosition(UserSettings(), FForm);
  EXPECT_EQ(FForm.pos(), QPoint(50, 20));
}

TEST_F(WindowPosition, OffEveryScreenLandsOnThePrimaryScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QPoint faraway[] = {{screen.right() + 5000, screen.top()}, {-20000, -20000}, {screen.left(), screen.bottom() + 1}};
  for (const QPoint& point : faraway) {
    UserSettings().setValue(QStringLiteral("frmOrvik_Left"), point.x());
    UserSettings().setValue(QStringLiteral("frmOrvik_Top"), point.y());
    LoadWindowPosition(UserSettings(), FForm);
    EXPECT_TRUE(screen.contains(FForm.frameGeometry())) << point.x() << "," << point.y();
  }
  // Partly off the edge but still in reach stays where it was put.
  const QPoint hanging(screen.right() - 100, screen.top() + 10);
  UserSettings().setValue(QStringLiteral("frmOrvik_Left"), hanging.x());
  UserSettings().setValue(QStringLiteral("frmOrvik_Top"), hanging.y());
  LoadWindowPosition(UserSettings(), FForm);
  EXPECT_EQ(FForm.pos(), hanging);
}

}  // namespace
}  // namespace kestrine::ui
