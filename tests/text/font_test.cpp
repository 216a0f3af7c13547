#include "nubrik/text/font.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "nubrik/base/exception.h"

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
  fs::create_directories(folder);
  std::ifstream in(NUBRIK_RUN_DIR "/DejaVuSans.ttf", std::ios::binary);
  const std::vector<char> font((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  const fs::path truncated = folder / "truncated.ttf";
  std::ofstream(truncated, std::ios::binary).write(font.data(), 4000);
  const fs::path text = folder / "notes.ttf";
  std::ofstream(text) << "not a font at all";

  const std::string cannotOpen = "CreateFileA API failed in nubrik::Font::fromFile method. ";
  const std::string invalid = "Invalid file format in nubrik::Font::fromFile method. ";
  const struct {
    fs::path path;
    std::string start;
    std::string reason;
  } cases[] = {
#if defined(_WIN32)
    {folder / "missing.ttf", cannotOpen, "(error 2)"},
#else
    {folder / "missing.ttf", cannotOpen, "No such file or directory (error 2)"},
#endif
    {folder, cannotOpen, "(error "},
    {truncated, invalid, ""},
    {text, invalid, "not a font FreeType reads: "},
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
  // The tests run beside the default font.
  EXPECT_EQ(Font::defaultFont()->getFamilyName(), "DejaVu Sans");
}

}  // namespace
}  // namespace nubrik
