#include "nubrik/text/font_face.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MODULE_H

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace nubrik {

namespace {

// Outlines always: embedded bitmaps may be one bit deep or in colour.
constexpr FT_Int32 kLoadFlags = FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP;

// FreeType's own text for an error, from its list of them.
const char* listedErrorText(int code) {
  // clang-format off
#undef FTERRORS_H_
#define FT_ERROR_START_LIST switch (code) {
#define FT_ERRORDEF(e, v, s) case v: return s;
#define FT_ERROR_END_LIST }
#include FT_ERRORS_H
  // clang-format on
  return nullptr;
}

std::string errorText(FT_Error error) {
  const char* text = listedErrorText(FT_ERROR_BASE(error));
  return text != nullptr ? text : "FreeType error " + std::to_string(error);
}

// The bytes FreeType holds for one font, against a budget. Each block
// carries its size in front, so that freeing can give it back.
struct Budget {
  size_t used = 0;
  size_t limit = 0;
};
constexpr size_t kHeader = alignof(std::max_align_t) > sizeof(size_t) ? alignof(std::max_align_t)
                                                                      : sizeof(size_t);

void* allocate(FT_Memory memory, long size) {
  auto& budget = *static_cast<Budget*>(memory->user);
  if (size <= 0 || static_cast<unsigned long>(size) > budget.limit - budget.used) return nullptr;
  const size_t bytes = static_cast<size_t>(size);
  auto* block = static_cast<char*>(std::malloc(bytes + kHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &bytes, sizeof bytes);
  budget.used += bytes;
  return block + kHeader;
}

void release(FT_Memory memory, void* pointer) {
  if (pointer == nullptr) return;
  auto& budget = *static_cast<Budget*>(memory->user);
  char* block = static_cast<char*>(pointer) - kHeader;
  size_t bytes;
  std::memcpy(&bytes, block, sizeof bytes);
  budget.used -= bytes;
  std::free(block);
}

void* reallocate(FT_Memory memory, long, long size, void* pointer) {
  if (pointer == nullptr) return allocate(memory, size);
  auto& budget = *static_cast<Budget*>(memory->user);
  char* block = static_cast<char*>(pointer) - kHeader;
  size_t before;
  std::memcpy(&before, block, sizeof before);
  if (size <= 0) return nullptr;
  const size_t after = static_cast<size_t>(size);
  if (after > before && after - before > budget.limit - budget.used) return nullptr;
  // On failure FreeType keeps the old block, as realloc leaves it.
  auto* moved = static_cast<char*>(std::realloc(block, after + kHeader));
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, &after, sizeof after);
  budget.used = budget.used - before + after;
  return moved + kHeader;
}

template <typename T>
T clampTo(int64_t value, int64_t limit) {
  return static_cast<T>(std::clamp(value, -limit, limit));
}

}  // namespace

struct FontFace::FreeType {
  Budget budget;
  FT_MemoryRec_ memory{};
  FT_Library library = nullptr;
  FT_Face face = nullptr;

  FreeType() {
    budget.limit = kMaxFreeTypeBytes;
    memory.user = &budget;
    memory.alloc = allocate;
    memory.free = release;
    memory.realloc = reallocate;
  }
  ~FreeType() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_Library(library);
  }
};

FontFace::FontFace(std::vector<uint8_t> bytes, size_t cacheLimitBytes)
    : bytes_(std::move(bytes)), freeType_(std::make_unique<FreeType>()), cache_(cacheLimitBytes) {
  // FreeType would call no bytes an invalid argument.
  if (bytes_.empty()) throw FontError("empty");
  FreeType& ft = *freeType_;
  if (const FT_Error error = FT_New_Library(&ft.memory, &ft.library)) {
    throw FontError("FreeType cannot start: " + errorText(error));
  }
  FT_Add_Default_Modules(ft.library);
  FT_Set_Default_Properties(ft.library);
  if (const FT_Error error = FT_New_Memory_Face(ft.library, bytes_.data(),
                                                static_cast<FT_Long>(bytes_.size()), 0, &ft.face)) {
    throw FontError("not a font FreeType reads: " + errorText(error));
  }
  if (!FT_IS_SCALABLE(ft.face)) throw FontError("it has no scalable outlines");
  if (FT_Select_Charmap(ft.face, FT_ENCODING_UNICODE) != 0) {
    throw FontError("it has no Unicode character map");
  }
  hasKerning_ = FT_HAS_KERNING(ft.face);
  // A font whose missing-glyph box cannot be read at an ordinary size is
  // damaged beyond use; other glyphs fall back to that box.
  if (!setPixelSize(16)) throw FontError("it cannot be scaled");
  if (const FT_Error error = FT_Load_Glyph(ft.face, 0, kLoadFlags)) {
    throw FontError("its missing-glyph box cannot be read: " + errorText(error));
  }
}

FontFace::~FontFace() = default;

std::string FontFace::familyName() const {
  const char* name = freeType_->face->family_name;
  return name != nullptr ? name : "";
}

bool FontFace::setPixelSize(uint32_t pixelSize) {
  if (pixelSize_ != pixelSize) {
    pixelSize_ = pixelSize;
    pixelSizeFailed_ = FT_Set_Pixel_Sizes(freeType_->face, 0, pixelSize) != 0;
  }
  return !pixelSizeFailed_;
}

LineMetrics FontFace::lineMetrics(uint32_t pixelSize) {
  if (!setPixelSize(pixelSize)) return {};
  const FT_Size_Metrics& m = freeType_->face->size->metrics;
  const int64_t limit = inkLimit(pixelSize);
  const auto pixels = [&](int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, 0, limit));
  };
  return LineMetrics{pixels((int64_t{m.ascender} + 63) >> 6),
                     pixels((63 - int64_t{m.descender}) >> 6),
                     pixels((int64_t{m.height} + 32) >> 6)};
}

uint32_t FontFace::glyphIndex(char32_t character) {
  if (const auto found = glyphIndices_.find(character); found != glyphIndices_.end()) {
    return found->second;
  }
  if (glyphIndices_.size() >= kMaxKeptAnswers) glyphIndices_.clear();
  const uint32_t index = FT_Get_Char_Index(freeType_->face, character);
  glyphIndices_.emplace(character, index);
  return index;
}

int64_t FontFace::kerning(uint32_t leftGlyph, uint32_t rightGlyph, uint32_t pixelSize) {
  if (!hasKerning_) return 0;
  // Glyph indices are below 2^16 in every font format FreeType reads.
  const bool keep = leftGlyph < (1u << 24) && rightGlyph < (1u << 24);
  const uint64_t key = uint64_t{pixelSize} << 48 | uint64_t{leftGlyph} << 24 | rightGlyph;
  if (keep) {
    if (const auto found = kernings_.find(key); found != kernings_.end()) return found->second;
  }
  FT_Vector delta{};
  if (!setPixelSize(pixelSize) ||
      FT_Get_Kerning(freeType_->face, leftGlyph, rightGlyph, FT_KERNING_DEFAULT, &delta) != 0) {
    delta.x = 0;
  }
  const int64_t kerning = clampTo<int64_t>(delta.x, inkLimit(pixelSize) * 64);
  if (keep) {
    if (kernings_.size() >= kMaxKeptAnswers) kernings_.clear();
    kernings_.emplace(key, kerning);
  }
  return kerning;
}

std::shared_ptr<const Glyph> FontFace::glyph(uint32_t glyphIndex, uint32_t pixelSize,
                                             bool rendered) {
  auto cached = cache_.find(pixelSize, glyphIndex);
  if (cached != nullptr && (cached->rendered || !rendered)) return cached;
  std::shared_ptr<const Glyph> loaded = load(glyphIndex, pixelSize, rendered);
  cache_.insert(pixelSize, glyphIndex, loaded);
  return loaded;
}

std::shared_ptr<Glyph> FontFace::load(uint32_t glyphIndex, uint32_t pixelSize, bool rendered) {
  auto glyph = std::make_shared<Glyph>();
  glyph->rendered = rendered;
  if (!setPixelSize(pixelSize)) return glyph;
  FT_Face face = freeType_->face;
  if (FT_Load_Glyph(face, glyphIndex, kLoadFlags) != 0 &&
      (glyphIndex == 0 || FT_Load_Glyph(face, 0, kLoadFlags) != 0)) {
    return glyph;
  }
  const FT_GlyphSlot slot = face->glyph;
  const int64_t limit = inkLimit(pixelSize);
  glyph->advance = clampTo<int64_t>(slot->advance.x, limit * 64);

  // The ink as the renderer will place it (FreeType sets it while loading),
  // kept only when it lies within reach of the pen.
  const auto within = [&](const FT_GlyphSlot s) {
    const int64_t left = s->bitmap_left, top = s->bitmap_top;
    return s->bitmap.width > 0 && s->bitmap.rows > 0 && left >= -limit &&
           left + s->bitmap.width <= limit && top <= limit &&
           top - int64_t{s->bitmap.rows} >= -limit;
  };
  if (!within(slot)) return glyph;
  const auto keepPlacement = [&] {
    glyph->left = slot->bitmap_left;
    glyph->top = slot->bitmap_top;
    glyph->width = slot->bitmap.width;
    glyph->height = slot->bitmap.rows;
  };
  keepPlacement();
  if (!rendered) return glyph;

  const FT_Bitmap& bitmap = slot->bitmap;
  const auto noInk = [&] {
    glyph->width = glyph->height = 0;
    glyph->left = glyph->top = 0;
    return glyph;
  };
  if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) {
    return noInk();
  }
  if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.num_grays != 256 ||
      bitmap.pitch < static_cast<int>(bitmap.width) || bitmap.buffer == nullptr || !within(slot)) {
    return noInk();
  }
  keepPlacement();
  glyph->coverage.resize(size_t{bitmap.width} * bitmap.rows);
  for (uint32_t row = 0; row < bitmap.rows; ++row) {
    std::memcpy(glyph->coverage.data() + size_t{row} * bitmap.width,
                bitmap.buffer + size_t{row} * static_cast<size_t>(bitmap.pitch), bitmap.width);
  }
  return glyph;
}

}  // namespace nubrik
