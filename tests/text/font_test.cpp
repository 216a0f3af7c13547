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

  const struct {
    fs::path path;
    std::string reason;
  } cases[] = {
#if defined(_WIN32)
    {folder / "missing.ttf", ""},  // the system's words, which wine words its own way
#else
    {folder / "missing.ttf", "No such file"},
#endif
    {folder, ""},
    {truncated, ""},
    {text, "not a font FreeType reads: "},
  };
  for (const auto& c : cases) {
    const std::string path = c.path.string();
    const std::string message = failureOf([&] { Font::fromFile(path); });
    EXPECT_EQ(message.rfind("Cannot load the font \"" + path + "\" (", 0), 0u) << message;
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    EXPECT_NE(message.find(") in nubrik::Font::fromFile method."), std::string::npos) << message;
  }
  fs::remove_all(folder);

  EXPECT_EQ(failureOf([] {
              Font::fromMemory(reinterpret_cast<const uint8_t*>("OTTO"), 4);
            }).rfind("Cannot load the font from memory (not a font FreeType reads: ", 0),
            0u);
  EXPECT_THROW(Font::fromMemory(nullptr, 4), std::invalid_argument);
  // The tests run beside the default font.
  EXPECT_EQ(Font::defaultFont()->getFamilyName(), "DejaVu Sans");
}

}  // namespace
}  // namespace nubrik
