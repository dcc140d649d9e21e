// The read-only mount against recovery. On the NTFS benchmark volume: `cp -r` of every file out of
// the mount beside `kestrine-cli recover --all`. On a deleted 100 MiB compressed file: 10,000 reads of
// 4 KiB at random offsets beside one sequential read, through a mount that passes every read to us
// (direct_io), as throughput. Best of the rounds; the images are read into the page cache first.
// Usage: mount_bench [NTFS_IMAGE]   (root, /dev/fuse, ntfs-3g; the compressed volume is made once and
// kept in $TMPDIR)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_support.h"
#include "ntfs_volume.h"

namespace {

namespace fs = std::filesystem;
using bench::Quote;
using bench::Shell;
using bench::Since;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 2;
constexpr std::int64_t kCompressedBytes = 100LL << 20;
constexpr int kRandomReads = 10000;
constexpr std::size_t kPiece = 4096;

// kestrine-cli mount in the background while it lives; unmounted and waited for at the end.
class TMount {
 public:
  TMount(const fs::path& Image, const fs::path& Folder, bool DirectIo) : FFolder(Folder) {
    fs::create_directories(Folder);
    const auto start = Clock::now();
    FPid = ::fork();
    if (FPid == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDOUT_FILENO);
      ::execl(KESTRINE_CLI_PATH, "kestrine-cli", "mount", Image.c_str(), Folder.c_str(),
              DirectIo ? "--direct-io" : static_cast<char*>(nullptr), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 1200 && !Shell("mountpoint -q " + Quote(Folder)); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Ready = Since(start);
    Mounted = Shell("mountpoint -q " + Quote(Folder));
  }
  ~TMount() {
    Shell("fusermount3 -u " + Quote(FFolder));
    int status = 0;
    if (FPid > 0) ::waitpid(FPid, &status, 0);
  }
  TMount(const TMount&) = delete;
  TMount& operator=(const TMount&) = delete;

  bool Mounted = false;
  double Ready = 0;  // seconds from the start to the mount: the scan and the tree

 private:
  fs::path FFolder;
  pid_t FPid = -1;
};

double Timed(const std::string& Command) {
  ::sync();
  const auto start = Clock::now();
  return Shell(Command) ? Since(start) : -1;
}

// A deleted compressed file of 100 MiB, text that compresses about threefold, on a volume of its own.
bool MakeCompressedVolume(const fs::path& Image) {
  const fs::path mnt = Image.string() + ".mnt";
  fs::create_directories(mnt);
  const std::string img = Quote(Image), at = Quote(mnt);
  const std::string write =
      "import os, random\n"
      "os.mkdir('" + mnt.string() + "/packed')\n"
      "os.setxattr('" + mnt.string() + "/packed', 'system.ntfs_attrib_be', (0x800).to_bytes(4, 'big'))\n"
      "r = random.Random(5)\n"
      "words = [bytes(r.choice(b'abcdefghijklmnopqrstuvwxyz') for _ in range(r.randint(2, 9))) for _ in range(4000)]\n"
      "with open('" + mnt.string() + "/packed/big.log', 'wb') as f:\n"
      "    left = " + std::to_string(kCompressedBytes) + "\n"
      "    while left > 0:\n"
      "        line = b' '.join(r.choice(words) for _ in range(12)) + b'\\n'\n"
      "        line = line[:left]\n"
      "        f.write(line)\n"
      "        left -= len(line)\n";
  const bool made = Shell("truncate -s 300M " + img) && Shell("mkntfs -q -F -f -c 4096 " + img) &&
                    Shell("ntfs-3g -o compression " + img + " " + at) &&
                    Shell("python3 -c " + Quote(write)) && Shell("rm " + at + "/packed/big.log");
  Shell("umount " + at);
  fs::remove(mnt);
  return made && Shell("mountpoint -q " + at) == false;
}

struct TThroughput {
  double RandomMiBs = 0;
  double SequentialMiBs = 0;
};

// The largest file below Folder: the deleted compressed one, whatever name the scan could give it.
fs::path LargestFile(const fs::path& Folder) {
  fs::path largest;
  std::uintmax_t size = 0;
  for (const auto& e : fs::recursive_directory_iterator(Folder))
    if (e.is_regular_file() && e.file_size() > size) {
      size = e.file_size();
      largest = e.path();
    }
  return largest;
}

TThroughput ReadThroughMount(const fs::path& File) {
  TThroughput t;
  const int fd = ::open(File.c_str(), O_RDONLY);
  if (fd < 0) return t;
  const off_t size = ::lseek(fd, 0, SEEK_END);
  std::vector<char> buffer(1 << 20);
  std::mt19937_64 random(3);
  auto start = Clock::now();
  for (int i = 0; i < kRandomReads; ++i)
    if (::pread(fd, buffer.data(), kPiece, static_cast<off_t>(random() % static_cast<std::uint64_t>(size - kPiece))) <= 0)
      return {};
  t.RandomMiBs = kRandomReads * static_cast<double>(kPiece) / (1 << 20) / Since(start);
  start = Clock::now();
  off_t at = 0;
  for (ssize_t n; (n = ::pread(fd, buffer.data(), buffer.size(), at)) > 0;) at += n;
  t.SequentialMiBs = static_cast<double>(at) / (1 << 20) / Since(start);
  ::close(fd);
  return at == size ? t : TThroughput{};
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<bench::TWorkFolder> owned;
  const fs::path image = bench::ntfs::Volume(argc > 1 ? argv[1] : nullptr, owned, "mount-bench");
  if (image.empty()) return 1;
  const bench::TWorkFolder work("kestrine-mount-bench", nullptr);
  if (work.Path().empty()) return 1;
  ::setenv("KESTRINE_DRIVES", "", 1);
  Shell("cat " + Quote(image) + " > /dev/null");

  const fs::path packed = fs::temp_directory_path() / "kestrine-mount-bench-compressed.img";
  if (!fs::exists(packed) && !MakeCompressedVolume(packed)) {
    fs::remove(packed);
    std::fprintf(stderr, "mount_bench: the compressed volume could not be made (mkntfs, ntfs-3g, python3)\n");
    return 1;
  }
  Shell("cat " + Quote(packed) + " > /dev/null");
  TThroughput best;
  for (int round = 0; round < kRounds; ++round) {
    const fs::path at = work.Path() / ("packed " + std::to_string(round));
    TMount mount(packed, at, true);
    const TThroughput t = ReadThroughMount(LargestFile(at));
    if (!mount.Mounted || t.SequentialMiBs == 0) {
      std::fprintf(stderr, "mount_bench: the compressed file could not be read through the mount\n");
      return 1;
    }
    best.RandomMiBs = std::max(best.RandomMiBs, t.RandomMiBs);
    best.SequentialMiBs = std::max(best.SequentialMiBs, t.SequentialMiBs);
  }
  std::printf("Deleted compressed file of 100 MiB, through the mount with direct_io\n");
  std::printf("  %d random 4 KiB reads %8.1f MiB/s\n", kRandomReads, best.RandomMiBs);
  std::printf("  one sequential read     %8.1f MiB/s   random at 1/%.1f of it (target: 1/10 or better)\n",
              best.SequentialMiBs, best.SequentialMiBs / best.RandomMiBs);
  std::fflush(stdout);

  double recover = 1e9, copy = 1e9, plain = 1e9, ready = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    // Each round writes folders of its own: removing 240,000 files takes longer than writing them.
    const std::string n = std::to_string(round);
    const fs::path out = work.Path() / ("recovered " + n), copied = work.Path() / ("copied " + n);
    const double r = Timed(Quote(KESTRINE_CLI_PATH) + " recover " + Quote(image) + " --all --out " + Quote(out));
    // cp -r of the recovered tree itself: what the copy costs with no mount in the way.
    const double p = Timed("cp -r " + Quote(out) + " " + Quote(work.Path() / ("plain " + n)));
    TMount mount(image, work.Path() / ("mnt " + n), false);
    if (r < 0 || !mount.Mounted) {
      std::fprintf(stderr, "mount_bench: recover or mount of %s failed\n", image.c_str());
      return 1;
    }
    const double c = Timed("cp -r " + Quote(work.Path() / ("mnt " + n)) + " " + Quote(copied));
    if (c < 0) {
      std::fprintf(stderr, "mount_bench: cp -r out of the mount failed\n");
      return 1;
    }
    recover = std::min(recover, r);
    plain = std::min(plain, p);
    copy = std::min(copy, c);
    ready = std::min(ready, mount.Ready);
  }
  std::fflush(stdout);
  std::printf("NTFS benchmark volume, %lld deleted files\n", bench::ntfs::kDeletedFiles);
  std::printf("  recover --all          %8.2f s\n", recover);
  std::printf("  mount ready (scan)     %8.2f s\n", ready);
  std::printf("  cp -r out of the mount %8.2f s   %.2fx recover (target <= 1.5x)\n", copy, copy / recover);
  std::printf("  cp -r of the recovered tree, no mount %8.2f s   %.2fx recover; the mount adds %.2fx\n", plain,
              plain / recover, copy / plain);
  std::fflush(stdout);

  return 0;
}
