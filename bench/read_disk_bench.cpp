// Sequential 1 KiB reads of a 1 GiB image through ReadDisk, beside `cat IMAGE > /dev/null`.
// Usage: read_disk_bench [IMAGE]   (without IMAGE a random 1 GiB image is made under $TMPDIR and removed)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/volume/read_disk.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

std::filesystem::path MakeImage(std::uint64_t Bytes) {
  const auto path = std::filesystem::temp_directory_path() / "kestrine-read-bench.img";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::mt19937_64 gen(42);
  std::vector<std::uint64_t> block(1 << 17);
  for (std::uint64_t done = 0; done < Bytes; done += block.size() * 8) {
    for (auto& v : block) v = gen();
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
  }
  return path;
}

double TimeReadDisk(const std::string& Path, std::uint64_t& Total) {
  const auto start = Clock::now();
  kestrine::TVolumeHandle handle = kestrine::platform::TVolumeSource::Open(Path);
  if (!handle) return -1;
  std::vector<std::uint8_t> buf(1024);
  Total = 0;
  std::uint64_t sum = 0;
  for (std::int64_t at = 0;; at += 1024) {
    const std::uint32_t n = kestrine::ReadDisk(handle, buf.data(), 1024, at);
    Total += n;
    sum += buf[n ? n - 1 : 0];
    if (n < 1024) break;
  }
  const double s = Seconds(start);
  if (sum == 1) std::puts("");  // keep the reads observable
  return s;
}

double TimeCat(const std::string& Path) {
  const auto start = Clock::now();
  const std::string cmd = "cat '" + Path + "' > /dev/null";
  if (std::system(cmd.c_str()) != 0) return -1;
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const bool made = argc < 2;
  const std::filesystem::path image = made ? MakeImage(1ull << 30) : std::filesystem::path(argv[1]);
  const std::string path = image.string();
  TimeCat(path);  // warm the page cache so both sides read the same way
  double ours = 1e9, cat = 1e9;
  std::uint64_t total = 0;
  for (int round = 0; round < 3; ++round) {
    ours = std::min(ours, TimeReadDisk(path, total));
    cat = std::min(cat, TimeCat(path));
  }
  std::printf("%-34s %10s %10s\n", "sequential read, best of 3", "seconds", "MiB/s");
  std::printf("%-34s %10.3f %10.0f\n", "ReadDisk, 1 KiB requests", ours, total / 1048576.0 / ours);
  std::printf("%-34s %10.3f %10.0f\n", "cat IMAGE > /dev/null", cat, total / 1048576.0 / cat);
  std::printf("%-34s %10.2f   (target: at most 2.00)\n", "ratio ReadDisk / cat", ours / cat);
  if (made) std::filesystem::remove(image);
  return 0;
}
