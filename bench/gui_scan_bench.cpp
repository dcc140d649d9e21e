// The recovery wizard's scan in the real main window, on the offscreen platform, beside
// `kestrine-cli scan IMAGE --format csv` over the NTFS benchmark volume: from a click on Start until
// the end-of-scan handler has shown its box, and the worst lateness of a 10 ms timer on the window
// thread meanwhile. Five rounds take turns; each side keeps its best time, the stall is the worst of
// all rounds. Every round opens a fresh window over a fresh drive list, as a user's first scan meets
// it, like the command line's fresh process.
// Usage: gui_scan_bench [IMAGE]   (default: the volume ntfs_scan_bench makes, in a fresh folder)

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <optional>

#include <time.h>

#include "bench_support.h"
#include "engine/volume/disk_object.h"
#include "ntfs_volume.h"
#include "ui/shell/desktop_core.h"
#include "ui/shell/dialogs.h"
#include "ui/main/main_window.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;

constexpr int kRounds = 5;
constexpr auto kTick = std::chrono::milliseconds(10);

// The boxes are answered at once; the first one a scan shows marks its end and ends the wait for it.
class TQuietDialogs final : public kestrine::ui::TDialogs {
 public:
  explicit TQuietDialogs(QEventLoop& Wait) : FWait(Wait) {}
  void Information(QWidget*, const QString&) override { End(); }
  void Error(QWidget*, const QString& Text) override {
    std::fprintf(stderr, "error box: %s\n", qPrintable(Text));
    Failed = true;
    End();
  }
  std::optional<Clock::time_point> Ended;
  bool Failed = false;

 private:
  void End() {
    if (Ended) return;
    Ended = Clock::now();
    FWait.quit();
  }
  QEventLoop& FWait;
};

// This thread's processor time in seconds.
double ThreadSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The worst lateness of a 10 ms timer while it runs, and the most processor time the window thread
// spent between two ticks: on a busy machine a stall far above that is time the thread waited for a
// processor.
class TStallMeter {
 public:
  TStallMeter() {
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.setInterval(kTick);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const auto now = Clock::now();
      const double busy = ThreadSeconds();
      Worst = std::max(Worst, std::chrono::duration<double>(now - FLast - kTick).count());
      Busy = std::max(Busy, busy - FLastBusy);
      FLast = now;
      FLastBusy = busy;
    });
    FLast = Clock::now();
    FLastBusy = ThreadSeconds();
    FTimer.start();
  }
  double Worst = 0;
  double Busy = 0;

 private:
  QTimer FTimer;
  Clock::time_point FLast;
  double FLastBusy = 0;
};

struct TWindowRound {
  double Seconds = 0;
  double Stall = 0;
  double Busy = 0;
  std::int64_t Found = 0;
  bool Scanned = false;
};

// One scan of drive d: through the window, started by its Start button. Config.txt and the per-user
// store live in the current folder, the work folder.
TWindowRound ScanInWindow(const fs::path& Image) {
  kestrine::ui::TDesktopCore core(kestrine::TDriveListing{
      {kestrine::platform::TDriveSpec{'d', Image.string(), "", kestrine::platform::TDriveType::Fixed}}, {}});
  QSettings settings(QStringLiteral("user.ini"), QSettings::IniFormat);
  QEventLoop wait;
  TQuietDialogs dialogs(wait);
  kestrine::ui::TfrmOrvik window(core, settings, dialogs);
  window.show();
  auto* drives = window.findChild<QTreeWidget*>(QStringLiteral("lvWizardDrives"));
  if (!drives || drives->topLevelItemCount() == 0) return {};
  drives->setCurrentItem(drives->topLevelItem(0));

  TWindowRound round;
  {
    TStallMeter meter;
    const auto began = Clock::now();
    window.findChild<QPushButton*>(QStringLiteral("btnStartScan"))->click();
    if (!dialogs.Ended) wait.exec();
    round.Seconds = std::chrono::duration<double>(*dialogs.Ended - began).count();
    round.Stall = meter.Worst;
    round.Busy = meter.Busy;
  }
  const kestrine::TDiskObject* disk = core.Manager().FindDisk('d');
  round.Found = disk ? disk->Files.Count() : 0;
  round.Scanned = !dialogs.Failed;
  return round;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::optional<bench::TWorkFolder> volumeFolder;
  const fs::path volume = bench::ntfs::Volume(argc > 1 ? argv[1] : nullptr, volumeFolder, "gui-scan-bench");
  if (volume.empty()) return 1;
  const fs::path image = fs::absolute(volume);  // the rounds run in a work folder of their own
  bench::TWorkFolder work("kestrine-gui-scan-bench", nullptr);
  if (work.Path().empty() || ::chdir(work.Path().c_str()) != 0) {
    std::perror("gui_scan_bench: no work folder");
    return 1;
  }
  bench::Shell("cat " + bench::Quote(image) + " > /dev/null");  // both sides read from the page cache
  ::setenv("KESTRINE_DRIVES", "", 1);  // the command line looks at the image alone

  bench::TRun window, cli;
  double stall = 0;
  for (int round = 0; round < kRounds; ++round) {
    const TWindowRound ours = ScanInWindow(image);
    if (!ours.Scanned || ours.Found < bench::ntfs::kDeletedFiles) {
      std::fprintf(stderr, "gui_scan_bench: the window found %lld deleted files in %s\n",
                   static_cast<long long>(ours.Found), image.c_str());
      return 1;
    }
    window.Keep(ours.Seconds, 0);
    stall = std::max(stall, ours.Stall);
    if (!bench::RunTool({KESTRINE_CLI_PATH, "scan", image.string(), "--format", "csv"}, cli)) {
      std::fprintf(stderr, "gui_scan_bench: kestrine-cli scan failed on %s\n", image.c_str());
      return 1;
    }
    std::printf("round %d: window %.3f s (stall %.0f ms, window thread busy at most %.0f ms between ticks), "
                "command line best so far %.3f s\n",
                round + 1, ours.Seconds, ours.Stall * 1000, ours.Busy * 1000, cli.Seconds);
  }
  std::printf("window %.3f s, command line %.3f s, ratio %.2f, stall %.0f ms\n", window.Seconds, cli.Seconds,
              window.Seconds / cli.Seconds, stall * 1000);
  return 0;
}
