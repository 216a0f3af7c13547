// Font files made to break or exhaust the font loader, generated from the
// default font: truncated, bit-flipped, and with tables that lie about
// their place, their size or their contents. Each is loaded and drawn in a
// child process that measures what it cost (processor time, peak memory
// added), so that a hang or a runaway allocation fails the test instead of
// the machine.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "nubrik/base/exception.h"
#include "nubrik/sprite/sprite_factory.h"
#include "nubrik/sprite/sprite_owners.h"
#include "nubrik/sprite/text_sprite.h"

namespace nubrik {
namespace {

constexpr double kMaxSeconds = 1.0;
constexpr double kMaxAddedMegabytes = 100.0;

using Bytes = std::vector<uint8_t>;

struct Cost {
  bool finished = false;  // false: killed at the wall-clock limit, or died
  char outcome[160] = {};
  double seconds = 0;  // processor time, user and system
  double addedMegabytes = 0;
};

double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

// Runs `work` in a child process; its result is the outcome.
Cost costInChild(const std::function<std::string()>& work, int wallSeconds = 60) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    Cost cost;
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::string outcome;
    try {
      outcome = work();
    } catch (const std::exception& e) {
      outcome = std::string("uncaught: ") + e.what();
    }
    getrusage(RUSAGE_SELF, &after);
    std::snprintf(cost.outcome, sizeof cost.outcome, "%s", outcome.c_str());
    cost.finished = true;
    cost.seconds = seconds(after.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_utime) -
                   seconds(before.ru_stime);
    cost.addedMegabytes = double(after.ru_maxrss - before.ru_maxrss) / 1024;
    _exit(write(fds[1], &cost, sizeof cost) == sizeof cost ? 0 : 1);
  }
  close(fds[1]);
  Cost cost;
  pollfd ready{fds[0], POLLIN, 0};
  if (child < 0 || poll(&ready, 1, wallSeconds * 1000) != 1 ||
      read(fds[0], &cost, sizeof cost) != sizeof cost) {
    cost = Cost{};
    if (child > 0) kill(child, SIGKILL);
  }
  if (child > 0) waitpid(child, nullptr, 0);
  close(fds[0]);
  return cost;
}

// Loads the font and draws most of what it has at two sizes.
std::string loadAndDraw(const Bytes& bytes) {
  std::shared_ptr<Font> font;
  try {
    font = Font::fromMemory(bytes.data(), bytes.size());
  } catch (const IoException& e) {
    const char kRefused[] = "Invalid file format in nubrik::Font::fromMemory method. memory (";
    return std::strncmp(e.what(), kRefused, sizeof kRefused - 1) == 0
               ? "refused"
               : std::string("badly refused: ") + e.what();
  }
  std::string text = "The quick brown fox\njumps over 0123456789 AVATAR fi \xEF\xBF\xBD";
  for (unsigned c = 0xA1; c < 0x180; c += 3) {
    text += static_cast<char>(0xC0 | (c >> 6));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
  for (const uint32_t size : {13u, 64u}) {
    font->measureText(text, size);
    makeSprite<TextSprite>(std::weak_ptr<IOrderTarget>(), std::weak_ptr<IRedrawTarget>(), 0, 0, 0,
                           0, font, size, text, Colour{PixelFormat::Rgb, {9, 9, 9}});
  }
  return "drawn";
}

// The table directory of a TrueType font: where each table is, by tag.
struct Table {
  size_t record;  // its directory record
  uint32_t offset;
  uint32_t length;
};

uint32_t get32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
void put16(Bytes& b, size_t at, uint16_t v) {
  if (at + 2 > b.size()) return;
  b[at] = uint8_t(v >> 8);
  b[at + 1] = uint8_t(v);
}
void put32(Bytes& b, size_t at, uint32_t v) {
  put16(b, at, uint16_t(v >> 16));
  put16(b, at + 2, uint16_t(v));
}

std::vector<std::pair<std::string, Table>> tables(const Bytes& font) {
  std::vector<std::pair<std::string, Table>> out;
  const size_t count = size_t(font[4]) << 8 | font[5];
  for (size_t i = 0; i < count; ++i) {
    const size_t record = 12 + 16 * i;
    out.push_back({std::string(font.begin() + long(record), font.begin() + long(record) + 4),
                   Table{record, get32(font, record + 8), get32(font, record + 12)}});
  }
  return out;
}

Table tableOf(const Bytes& font, const std::string& tag) {
  for (const auto& [name, table] : tables(font)) {
    if (name == tag) return table;
  }
  ADD_FAILURE() << "no table " << tag;
  return Table{0, 0, 0};
}

struct Case {
  std::string name;
  Bytes font;
};

std::vector<Case> hostileFonts(const Bytes& font) {
  std::vector<Case> cases;
  const auto all = tables(font);

  for (const size_t length : {size_t{0}, size_t{3}, size_t{12}, 12 + 16 * all.size() - 1,
                              size_t{40000}, font.size() - 1}) {
    cases.push_back(
        {"cut at " + std::to_string(length), Bytes(font.begin(), font.begin() + long(length))});
  }
  for (const auto& [tag, table] : all) {
    const size_t cut = table.offset + table.length / 2;
    cases.push_back({"cut inside " + tag, Bytes(font.begin(), font.begin() + long(cut))});
    Bytes longer = font;
    put32(longer, table.record + 12, 0xFFFFFFF0);
    cases.push_back({tag + " says 4 GiB", longer});
    Bytes beyond = font;
    put32(beyond, table.record + 8, 0xFFFFFF00);
    cases.push_back({tag + " lies beyond the file", beyond});
    Bytes tail = font;
    put32(tail, table.record + 8, uint32_t(font.size() - 8));
    cases.push_back({tag + " runs past the end", tail});
  }

  // Fields that size what the loader allocates or loops over.
  const auto field = [&](const std::string& name, const std::string& tag, size_t at,
                         uint16_t value) {
    Bytes lying = font;
    put16(lying, tableOf(font, tag).offset + at, value);
    cases.push_back({name, lying});
  };
  const char* const maxpFields[] = {"numGlyphs",
                                    "maxPoints",
                                    "maxContours",
                                    "maxCompositePoints",
                                    "maxCompositeContours",
                                    "maxZones",
                                    "maxTwilightPoints",
                                    "maxStorage",
                                    "maxFunctionDefs",
                                    "maxInstructionDefs",
                                    "maxStackElements",
                                    "maxSizeOfInstructions",
                                    "maxComponentElements",
                                    "maxComponentDepth"};
  for (size_t i = 0; i < std::size(maxpFields); ++i) {
    field(std::string("maxp ") + maxpFields[i] + " 65535", "maxp", 4 + 2 * i, 0xFFFF);
    field(std::string("maxp ") + maxpFields[i] + " 0", "maxp", 4 + 2 * i, 0);
  }
  field("hhea ascender 32767", "hhea", 4, 0x7FFF);
  field("hhea descender -32768", "hhea", 6, 0x8000);
  field("hhea line gap 32767", "hhea", 8, 0x7FFF);
  field("hhea metrics 65535", "hhea", 34, 0xFFFF);
  field("hhea metrics 0", "hhea", 34, 0);
  for (const uint16_t unitsPerEm : {0, 1, 0xFFFF}) {
    field("head units per em " + std::to_string(unitsPerEm), "head", 18, unitsPerEm);
  }
  field("head short offsets", "head", 50, 0);
  field("head offset format 7", "head", 50, 7);
  field("kern 65535 pairs", "kern", 10, 0xFFFF);
  field("cmap 65535 subtables", "cmap", 2, 0xFFFF);

  const auto everyWord = [&](const std::string& name, const std::string& tag, size_t step,
                             size_t at, uint16_t value) {
    Bytes lying = font;
    const Table t = tableOf(font, tag);
    for (size_t p = t.offset + at; p + 2 <= t.offset + t.length; p += step) put16(lying, p, value);
    cases.push_back({name, lying});
  };
  everyWord("every advance 65535", "hmtx", 4, 0, 0xFFFF);
  everyWord("every bearing -32768", "hmtx", 4, 2, 0x8000);
  everyWord("every glyph offset huge", "loca", 4, 0, 0x7FFF);
  everyWord("cvt at its extremes", "cvt ", 2, 0, 0x7FFF);

  // Glyphs with absurd outlines: the bounding boxes and contour counts of
  // every glyph the (long) offset table points at.
  const Table loca = tableOf(font, "loca"), glyf = tableOf(font, "glyf");
  for (const auto& [name, at, value] : {std::tuple{"every glyph spans 64K units", 2, 0x8001},
                                        {"", 6, 0x7FFF},
                                        {"every glyph has 32767 contours", 0, 0x7FFF},
                                        {"every glyph is a composite", 0, 0xFFFF}}) {
    Bytes lying = name[0] == '\0' ? cases.back().font : font;
    for (size_t p = loca.offset; p + 4 <= loca.offset + loca.length; p += 4) {
      const size_t g = glyf.offset + get32(font, p);
      if (g + 10 <= glyf.offset + glyf.length) {
        put16(lying, g + size_t(at), uint16_t(value));
        if (at == 2) put16(lying, g + 4, 0x8001);
      }
    }
    if (name[0] == '\0') {
      cases.back().font = lying;
    } else {
      cases.push_back({name, lying});
    }
  }

  // Programs that jump back to themselves for ever (PUSHW -3, JMPR).
  for (const char* tag : {"fpgm", "prep"}) {
    Bytes looping = font;
    const Table t = tableOf(font, tag);
    const uint8_t loop[] = {0xB8, 0xFF, 0xFD, 0x1C};
    std::memcpy(looping.data() + t.offset, loop, sizeof loop);
    cases.push_back({std::string(tag) + " loops for ever", looping});
  }

  std::mt19937 random(2024);
  for (int i = 0; i < 48; ++i) {
    Bytes flipped = font;
    // Half anywhere, half inside one table.
    size_t from = 0, span = font.size();
    if (i % 2 == 1) {
      const Table& t = all[size_t(i / 2) % all.size()].second;
      from = t.offset;
      span = std::max<size_t>(t.length, 1);
    }
    const int flips = 1 + i % 32;
    for (int f = 0; f < flips; ++f) {
      flipped[std::min(from + random() % span, font.size() - 1)] ^= uint8_t(1u << (random() % 8));
    }
    cases.push_back({"flipped " + std::to_string(i), flipped});
  }
  return cases;
}

TEST(HostileFontsTest, LoadOrAreRefusedWithinTheBounds) {
  std::ifstream file(NUBRIK_RUN_DIR "/DejaVuSans.ttf", std::ios::binary);
  const Bytes font((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(font.size(), 100000u);
  ASSERT_EQ(costInChild([&] { return loadAndDraw(font); }).outcome, std::string("drawn"));

  int refused = 0, drawn = 0;
  double mostSeconds = 0, mostMegabytes = 0;
  for (const Case& c : hostileFonts(font)) {
    SCOPED_TRACE(c.name);
    const Cost cost = costInChild([&] { return loadAndDraw(c.font); });
    ASSERT_TRUE(cost.finished) << "hung or died";
    const std::string outcome = cost.outcome;
    EXPECT_TRUE(outcome == "refused" || outcome == "drawn") << outcome;
    refused += outcome == "refused";
    drawn += outcome == "drawn";
    mostSeconds = std::max(mostSeconds, cost.seconds);
    mostMegabytes = std::max(mostMegabytes, cost.addedMegabytes);
    EXPECT_LE(cost.seconds, kMaxSeconds) << outcome;
    EXPECT_LE(cost.addedMegabytes, kMaxAddedMegabytes) << outcome;
  }
  std::printf("%d fonts refused, %d drawn; the costliest took %.3f s and %.1f MB\n", refused, drawn,
              mostSeconds, mostMegabytes);
  // The generator reaches both: fonts refused at once, and fonts that load
  // and then meet their damage glyph by glyph.
  EXPECT_GT(refused, 10);
  EXPECT_GT(drawn, 10);
}

}  // namespace
}  // namespace nubrik
