#include "platform/volume_source.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <random>

#include "engine/volume/disk_list.h"
#include "engine/volume/read_disk.h"
#include "tests/support/test_support.h"

namespace kestrine::platform {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(gen());
  return b;
}

TEST(VolumeSource, OpensReadOnlyAndLeavesTheSourceUntouched) {
  test::TTempDir dir;
  const auto path = dir / "vol.img";
  const auto bytes = RandomBytes(3 << 20, 1);
  test::WriteFile(path, bytes);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);

  auto source = TVolumeSource::Open(path.string());
  ASSERT_TRUE(source);
  EXPECT_EQ(::fcntl(source->Descriptor(), F_GETFL) & O_ACCMODE, O_RDONLY);
  EXPECT_EQ(VolumeOpenFlags() & O_ACCMODE, O_RDONLY);
  EXPECT_TRUE(::fcntl(source->Descriptor(), F_GETFD) & FD_CLOEXEC);
  std::vector<std::uint8_t> buf(4096);
  EXPECT_EQ(ReadDisk(source, buf.data(), 512, 0), 512u);
  source.reset();
  // Building a drive list probes, classifies and sizes the volume.
  TDiskList list({{{'d', path.string(), "", TDriveType::Fixed}}, {}});
  ASSERT_EQ(list.DiskCount(), 1);

  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(test::ReadFile(path), bytes);
}

TEST(VolumeSource, ReadAheadDeliversExactlyWhatTheFileHolds) {
  test::TTempDir dir;
  const auto path = dir / "vol.img";
  const std::size_t size = 5 * TVolumeSource::kMaxWindow + 777;  // ends off any window boundary
  const auto bytes = RandomBytes(size, 2);
  test::WriteFile(path, bytes);
  auto source = TVolumeSource::Open(path.string());
  ASSERT_TRUE(source);
  EXPECT_EQ(source->Size(), static_cast<std::int64_t>(size));

  std::mt19937_64 gen(3);
  std::vector<std::uint8_t> buf(3 * TVolumeSource::kMaxWindow);
  // Sequential runs, jumps back, straddled windows, large direct reads and reads across the end.
  for (int i = 0; i < 3000; ++i) {
    const std::int64_t offset = static_cast<std::int64_t>(gen() % (size + 4096));
    const std::uint32_t count = (i % 50 == 0) ? static_cast<std::uint32_t>(gen() % buf.size())
                                              : static_cast<std::uint32_t>(gen() % 70000);
    const std::uint32_t got = source->Read(buf.data(), count, offset);
    const std::int64_t expected =
        std::max<std::int64_t>(0, std::min<std::int64_t>(count, static_cast<std::int64_t>(size) - offset));
    ASSERT_EQ(got, expected) << "offset " << offset << " count " << count;
    ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + got, bytes.begin() + offset)) << "offset " << offset;
  }
  for (std::int64_t at = 0; at < static_cast<std::int64_t>(size); at += 1024) {
    const std::uint32_t got = source->Read(buf.data(), 1024, at);
    ASSERT_EQ(got, std::min<std::int64_t>(1024, size - at));
    ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + got, bytes.begin() + at));
  }
}

TEST(VolumeSource, ReadsOutsideTheSourceDeliverNothing) {
  test::TTempDir dir;
  test::WriteFile(dir / "small.img", RandomBytes(1000, 4));
  auto source = TVolumeSource::Open((dir / "small.img").string());
  ASSERT_TRUE(source);
  std::vector<std::uint8_t> buf(2048);
  EXPECT_EQ(ReadDisk(source, buf.data(), 512, 4096), 0u);
  EXPECT_EQ(ReadDisk(source, buf.data(), 512, -512), 0u);
  EXPECT_EQ(ReadDisk(source, buf.data(), 2048, 0), 1000u);
  EXPECT_EQ(ReadDisk(nullptr, buf.data(), 512, 0), 0u);
}

TEST(VolumeSource, APartitionSeesOnlyItsOwnBytes) {
  test::TTempDir dir;
  const auto path = dir / "disk.img";
  const std::int64_t size = 6 * TVolumeSource::kMaxWindow + 512;
  const auto bytes = RandomBytes(static_cast<std::size_t>(size), 5);
  test::WriteFile(path, bytes);
  const std::int64_t base = 1536, length = 5 * TVolumeSource::kMaxWindow + 100;  // ends off any window
  auto part = TVolumeSource::Open(path.string(), base, length);
  ASSERT_TRUE(part);
  EXPECT_EQ(part->Size(), length);
  EXPECT_EQ(part->Base(), base);

  std::mt19937_64 gen(6);
  std::vector<std::uint8_t> buf(2 * TVolumeSource::kMaxWindow);
  for (int i = 0; i < 2000; ++i) {  // small windowed reads and large direct ones, across the end too
    const std::int64_t offset = static_cast<std::int64_t>(gen() % (length + 8192));
    const auto count = static_cast<std::uint32_t>(gen() % (i % 40 == 0 ? buf.size() : 70000));
    const std::uint32_t got = part->Read(buf.data(), count, offset);
    ASSERT_EQ(got, std::clamp<std::int64_t>(length - offset, 0, count)) << "offset " << offset << " count " << count;
    ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + got, bytes.begin() + base + offset)) << "offset " << offset;
  }

  // A scan's pattern: records read one after another, read ahead on another thread, with lookups
  // far away between them; the partition's last bytes end the run.
  for (std::int64_t at = 0; at < length; at += 1024) {
    const std::uint32_t got = part->Read(buf.data(), 1024, at);
    ASSERT_EQ(got, std::min<std::int64_t>(1024, length - at)) << at;
    ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + got, bytes.begin() + base + at)) << at;
    if (at % (1536 * 1024) == 0) {
      const std::int64_t away = (at * 7919) % length;
      ASSERT_EQ(part->Read(buf.data(), 512, away), std::min<std::int64_t>(512, length - away));
      ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + 8, bytes.begin() + base + away)) << away;
    }
  }

  // A table entry promising more than the image holds ends with the image.
  auto clipped = TVolumeSource::Open(path.string(), size - 1000, 1 << 30);
  ASSERT_TRUE(clipped);
  EXPECT_EQ(clipped->Size(), 1000);
  EXPECT_EQ(clipped->Read(buf.data(), 4096, 0), 1000u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 1000, bytes.end() - 1000));
  auto beyond = TVolumeSource::Open(path.string(), size + 4096, 4096);
  ASSERT_TRUE(beyond);
  EXPECT_EQ(beyond->Size(), 0);
  EXPECT_EQ(beyond->Read(buf.data(), 512, 0), 0u);
  EXPECT_FALSE(TVolumeSource::Open(path.string(), -1, 4096));
}

TEST(VolumeSource, RefusesWhatIsNeitherImageNorDevice) {
  test::TTempDir dir;
  std::string error;
  EXPECT_FALSE(TVolumeSource::Open(dir.Path().string(), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(TVolumeSource::Open((dir / "none").string(), &error));
  EXPECT_NE(error.find("No such file"), std::string::npos);
}

TEST(VolumeSource, AFifoIsRefusedWithoutWaitingForAWriter) {
  test::TTempDir dir;
  const auto fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string error;
  auto opened = std::async(std::launch::async, [&] { return TVolumeSource::Open(fifo.string(), &error) != nullptr; });
  if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    // A writer lets the waiting open go, so the test ends either way.
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    opened.wait();
    if (writer >= 0) ::close(writer);
    FAIL() << "opening a FIFO waited for a writer";
  }
  EXPECT_FALSE(opened.get());
  EXPECT_EQ(error, "not an image file or block device");

  // A socket, which open refuses outright, and a character device are named the same way.
  const auto socketPath = dir / "socket";
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", socketPath.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  for (const std::string& path : {socketPath.string(), std::string("/dev/null")}) {
    error.clear();
    EXPECT_FALSE(TVolumeSource::Open(path, &error)) << path;
    EXPECT_EQ(error, "not an image file or block device") << path;
  }
  ::close(listener);
}

}  // namespace
}  // namespace kestrine::platform
