// Files made to be expensive, and inputs that once broke the loader: each is
// decoded in a child process that measures what the decode cost it (peak
// memory added, processor time), so that a hang or a runaway allocation
// fails the test instead of the machine.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "image/hostile_png.h"
#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/image/load_image.h"
#include "nubrik/image/png_encoder.h"

namespace nubrik {
namespace {

// The bounds: a file costs at most this much beyond the picture it holds.
constexpr double kMaxSeconds = 1.0;
constexpr double kMaxAddedMegabytes = 100.0;

struct Cost {
  bool finished = false;  // false: killed at the wall-clock limit
  char outcome[120] = {};
  double seconds = 0;  // processor time, user and system
  double addedMegabytes = 0;
  double pictureMegabytes = 0;
};

double seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

// Decodes the file at `path` in a child process; a child still running after
// `wallSeconds` is killed.
Cost decodeInChild(const std::string& path, int wallSeconds = 120) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    Cost cost;
    // A fresh process: its peak so far is what it has now.
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    try {
      const auto image = loadImageFromFile(path);
      std::snprintf(cost.outcome, sizeof cost.outcome, "decoded %ux%u", image->getWidth(),
                    image->getHeight());
      cost.pictureMegabytes = double(image->getPitch()) * image->getHeight() / (1 << 20);
    } catch (const std::exception& e) {
      std::snprintf(cost.outcome, sizeof cost.outcome, "%s", e.what());
    }
    getrusage(RUSAGE_SELF, &after);
    cost.finished = true;
    cost.seconds = seconds(after.ru_utime) + seconds(after.ru_stime);
    cost.addedMegabytes = double(after.ru_maxrss - before.ru_maxrss) / 1024;
    const bool sent = write(pipeFds[1], &cost, sizeof cost) == sizeof cost;
    _exit(sent ? 0 : 1);
  }
  close(pipeFds[1]);
  Cost cost;
  pollfd ready{pipeFds[0], POLLIN, 0};
  if (child < 0 || poll(&ready, 1, wallSeconds * 1000) != 1 ||
      read(pipeFds[0], &cost, sizeof cost) != sizeof cost) {
    cost = Cost{};
    if (child > 0) kill(child, SIGKILL);
  }
  if (child > 0) waitpid(child, nullptr, 0);
  close(pipeFds[0]);
  return cost;
}

void expectCheap(const Cost& cost, const std::string& outcome = "") {
  ASSERT_TRUE(cost.finished) << "hung or died";
  // Failures are told by their opening words: what follows names the file.
  if (!outcome.empty()) {
    EXPECT_TRUE(std::string(cost.outcome).starts_with(outcome)) << cost.outcome;
  }
  EXPECT_LE(cost.seconds, kMaxSeconds) << cost.outcome;
  EXPECT_LE(cost.addedMegabytes, kMaxAddedMegabytes + cost.pictureMegabytes) << cost.outcome;
}

std::string temporaryPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("nubrik_hostile_" + std::to_string(getpid()) + "_" + name))
      .string();
}

TEST(HostileFilesTest, CostLittleBeyondThePictureTheyHold) {
  const std::string refused = "Invalid file format in nubrik::PngLoader::PngLoader method.";
  const std::string badData = "Invalid file format in nubrik::PngLoader::loadImpl method.";
  struct Case {
    std::string name;
    hostile::Bytes png;
    std::string outcome;
  };
  std::vector<Case> cases;
  // Ancillary chunks declaring 2 GiB in a file of a hundred bytes.
  for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "pCAL", "sCAL", "iCCP", "eXIf"}) {
    cases.push_back({type, hostile::hugeChunk(type), refused});
  }
  // 8 GiB of surplus image data after the last row: the rows are kept.
  cases.push_back({"surplus", hostile::surplusImageData(8192), "decoded 16x16"});
  // 400 MB of interlaced picture without image data.
  cases.push_back({"interlaced", hostile::interlacedWithoutData(10000, 10000), badData});
  // 10 MB of empty deflate blocks before the first row of a tiny picture.
  cases.push_back({"empty-blocks", hostile::emptyBlocksBeforeRows(850'000), badData});
  // 10 MB of empty chunks before the image data.
  cases.push_back({"many-chunks", hostile::manyEmptyChunks(850'000), "decoded 16x16"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = temporaryPath(c.name + ".png");
    writeFile(path, c.png);
    expectCheap(decodeInChild(path), c.outcome);
    std::filesystem::remove(path);
  }

  // A pipe in place of a picture is refused at once, not waited on.
  const std::string fifo = temporaryPath("fifo.png");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  expectCheap(
      decodeInChild(fifo, 10),
      makeMessage(messages::kCreateFileFailed, "nubrik::FileStreamReader::FileStreamReader").get());
  std::filesystem::remove(fifo);
}

// Inputs kept beside the tests because they once crashed or overran the
// loader, and every file in the directories listed (colon-separated) in
// NUBRIK_PNG_REPLAY, such as a fuzzing corpus: each decodes or is refused,
// within the bounds.
TEST(PngRegressionsTest, ReplayWithinTheBounds) {
  std::vector<std::filesystem::path> directories = {NUBRIK_TESTS_DIR "/image/png_regressions"};
  if (const char* more = std::getenv("NUBRIK_PNG_REPLAY")) {
    std::string list = more;
    for (size_t start = 0, end; start <= list.size(); start = end + 1) {
      end = std::min(list.find(':', start), list.size());
      if (end > start) directories.emplace_back(list.substr(start, end - start));
    }
  }
  int replayed = 0;
  for (const auto& directory : directories) {
    ASSERT_TRUE(std::filesystem::is_directory(directory)) << directory;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
      SCOPED_TRACE(entry.path().string());
      const Cost cost = decodeInChild(entry.path().string());
      expectCheap(cost);
      EXPECT_TRUE(std::strncmp(cost.outcome, "decoded ", 8) == 0 ||
                  std::strncmp(cost.outcome, "Invalid file format in ", 23) == 0)
          << cost.outcome;
      ++replayed;
    }
  }
  RecordProperty("replayed", replayed);
}

}  // namespace
}  // namespace nubrik
