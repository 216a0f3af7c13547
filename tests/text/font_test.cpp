#include "nubrik/text/font.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace nubrik {
namespace {

namespace fs = std::filesystem;

std::string failureOf(const std::function<void()>& load) {
  try {
    load();
  } catch (const IoException& e) {
    return e.what();
  }
  return "no IoException";
}

TEST(FontTest, FilesThatCannotBeLoadedAreNamedWithTheReason) {
  const fs::path folder = fs::temp_directory_path() / "nubrik_font_test";
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ifstream in(NUBRIK_RUN_DIR "/DejaVuSans.ttf", std::ios::binary);
  const std::vector<char> font((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  const fs::path truncated = folder / "truncated.ttf";
  std::ofstream(truncated, std::ios::binary).write(font.data(), 4000);
  const fs::path text = folder / "notes.ttf";
  std::ofstream(text) << "not a font at all";
  const fs::path empty = folder / "empty.ttf";
  std::ofstream{empty};
#if !defined(_WIN32)
  const fs::path pipe = folder / "pipe.ttf";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
#endif

  const std::string cannotOpen =
      std::string(makeMessage(messages::kCreateFileFailed, "nubrik::Font::fromFile").get()) + " ";
  const std::string invalid = "Invalid file format in nubrik::Font::fromFile method. ";
  const struct {
    fs::path path;
    std::string start;
    std::string reason;
  } cases[] = {
#if defined(_WIN32)
    {folder / "missing.ttf", cannotOpen, "(error 2)"},
#else
    {folder / "missing.ttf", cannotOpen, "No such file or directory"},
#endif
    {folder, cannotOpen, ""},
    {truncated, invalid, ""},
    {text, invalid, "not a font FreeType reads: "},
    {empty, invalid, "empty"},
#if !defined(_WIN32)
    {pipe, cannotOpen, "not a regular file"},
    {"/dev/null", cannotOpen, "not a regular file"},
#endif
  };
  for (const auto& c : cases) {
    const std::string path = c.path.string();
    const std::string message = failureOf([&] { Font::fromFile(path); });
    EXPECT_EQ(message.rfind(c.start + "file \"" + path + "\": ", 0), 0u) << message;
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
  }
  fs::remove_all(folder);

  EXPECT_EQ(failureOf([] { Font::fromMemory(reinterpret_cast<const uint8_t*>("OTTO"), 4); })
                .rfind("Invalid file format in nubrik::Font::fromMemory method. memory (4 bytes): "
                       "not a font FreeType reads: ",
                       0),
            0u);
  EXPECT_THROW(Font::fromMemory(nullptr, 4), std::invalid_argument);
  EXPECT_EQ(failureOf([] { Font::fromMemory(nullptr, 0); }),
            "Invalid file format in nubrik::Font::fromMemory method. memory (0 bytes): empty");
  // A path that holds a NUL would open the file named by what comes before
  // it: refused, naming the whole path.
  const std::string nul("DejaVuSans.ttf\0.png", 19);
  try {
    Font::fromFile(nul);
    ADD_FAILURE() << "a path with a NUL was opened";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "nubrik::Font::fromFile: file \"DejaVuSans.ttf\\x00.png\": the path holds a NUL "
                 "character");
  }
  // The tests run beside the default font.
  EXPECT_EQ(Font::defaultFont()->getFamilyName(), "DejaVu Sans");
}

}  // namespace
}  // namespace nubrik
