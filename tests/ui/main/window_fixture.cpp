#include "tests/ui/main/window_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace kestrine::test {

TWindowFixture::TWindowFixture(const std::vector<std::string>& Images, const std::vector<std::string>& MountPoints)
    : FOldDir(QDir::currentPath()) {
  QDir::setCurrent(QString::fromStdString(Dir.Path().string()));
  // The shipped languages, as beside an installed program.
  std::filesystem::create_directory_symlink(TestDataDir() / "../../data/Langs", Dir / "Langs");
  Settings = std::make_unique<QSettings>(QString::fromStdString((Dir / "user.ini").string()), QSettings::IniFormat);
  TDriveListing listing;
  char letter = 'd';
  for (const std::string& name : Images) {
    // Names are of the test volumes (the demo volumes by their path from the project); an absolute
    // path is an image used as it is.
    const auto image = name.starts_with('/') ? std::filesystem::path(name) : UnpackImage(TestDataDir() / name, Dir.Path());
    const std::size_t index = listing.Drives.size();
    const std::string mount = index < MountPoints.size() ? MountPoints[index] : std::string();
    listing.Drives.push_back(platform::TDriveSpec{letter++, image.string(), mount, platform::TDriveType::Fixed});
  }
  Core = std::make_unique<ui::TDesktopCore>(listing);
}

TWindowFixture::~TWindowFixture() {
  FWindow.reset();
  Core.reset();
  QDir::setCurrent(FOldDir);
}

ui::TfrmOrvik& TWindowFixture::Open() {
  if (FWindow) FWindow->close();
  FWindow.reset();
  FWindow = std::make_unique<ui::TfrmOrvik>(*Core, *Settings, Dialogs);
  FWindow->show();
  return *FWindow;
}

bool TWindowFixture::Close() { return FWindow->close(); }

bool TWindowFixture::WaitUntil(const std::function<bool()>& Done, int Milliseconds) {
  // An event loop, not a sleep: a worker's step posted meanwhile runs at once.
  QElapsedTimer timer;
  timer.start();
  QEventLoop loop;
  QTimer check;
  check.setInterval(1);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (Done() || timer.elapsed() > Milliseconds) loop.quit();
  });
  if (!Done()) {
    check.start();
    loop.exec();
  }
  return Done();
}

}  // namespace kestrine::test
