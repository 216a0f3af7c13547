#include "nubrik/window/x11_pixel_format.h"

#include <bit>
#include <cstring>
#include <stdexcept>

namespace nubrik {

namespace {

const char* className(int c) {
  switch (c) {
    case StaticGray:
      return "StaticGray";
    case GrayScale:
      return "GrayScale";
    case StaticColor:
      return "StaticColor";
    case PseudoColor:
      return "PseudoColor";
    case TrueColor:
      return "TrueColor";
    case DirectColor:
      return "DirectColor";
    default:
      return "unknown";
  }
}

bool channelOf(unsigned long mask, X11PixelFormat::Channel& channel) {
  if (mask == 0 || mask > 0xFFFFFFFFul) return false;
  const auto m = static_cast<uint32_t>(mask);
  channel.shift = static_cast<uint32_t>(std::countr_zero(m));
  channel.bits = static_cast<uint32_t>(std::popcount(m));
  // One run of ones.
  return channel.bits <= 16 && (m >> channel.shift) == (1u << channel.bits) - 1;
}

uint32_t scale(uint32_t value8, const X11PixelFormat::Channel& c) {
  const uint32_t v =
      c.bits <= 8 ? value8 >> (8 - c.bits) : (value8 << (c.bits - 8)) | (value8 >> (16 - c.bits));
  return v << c.shift;
}

}  // namespace

X11PixelFormat X11PixelFormat::forVisual(Display* display, const Visual* visual, int depth) {
  const std::string name = std::string("the display's visual (") + className(visual->c_class) +
                           ", depth " + std::to_string(depth) + ")";
  if (visual->c_class != TrueColor) {
    throw std::runtime_error(name + " is not supported; Nubrik draws on TrueColor visuals only");
  }
  X11PixelFormat format;
  if (!channelOf(visual->red_mask, format.red_) || !channelOf(visual->green_mask, format.green_) ||
      !channelOf(visual->blue_mask, format.blue_)) {
    throw std::runtime_error(name + " has colour masks that are not supported");
  }
  int count = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
  int bitsPerPixel = 0;
  for (int i = 0; i < count; ++i) {
    if (formats[i].depth == depth) {
      bitsPerPixel = formats[i].bits_per_pixel;
      format.scanlinePad_ = static_cast<uint32_t>(formats[i].scanline_pad);
    }
  }
  if (formats != nullptr) XFree(formats);
  if (bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32) {
    throw std::runtime_error(name + " stores " + std::to_string(bitsPerPixel) +
                             " bits per pixel, which is not supported");
  }
  if (format.scanlinePad_ == 0 || format.scanlinePad_ % 8 != 0) format.scanlinePad_ = 32;
  format.depth_ = depth;
  format.bytesPerPixel_ = static_cast<uint32_t>(bitsPerPixel / 8);
  format.byteOrder_ = ImageByteOrder(display);
  const bool hostLsb = std::endian::native == std::endian::little;
  const bool lsb = format.byteOrder_ == LSBFirst;
  const auto is = [](const Channel& c, uint32_t shift, uint32_t bits) {
    return c.shift == shift && c.bits == bits;
  };
  const bool rgb888 = is(format.red_, 16, 8) && is(format.green_, 8, 8) && is(format.blue_, 0, 8);
  if (bitsPerPixel == 32 && rgb888 && lsb == hostLsb) {
    format.kind_ = Kind::Identity;
    format.identity_ = true;
  } else if (bitsPerPixel == 16 && lsb && is(format.red_, 11, 5) && is(format.green_, 5, 6) &&
             is(format.blue_, 0, 5)) {
    format.kind_ = Kind::Rgb565;
  } else if (bitsPerPixel == 16 && lsb && is(format.red_, 10, 5) && is(format.green_, 5, 5) &&
             is(format.blue_, 0, 5)) {
    format.kind_ = Kind::Rgb555;
  }
  return format;
}

uint32_t X11PixelFormat::rowBytes(uint32_t width) const {
  const uint64_t bits = uint64_t{width} * bytesPerPixel_ * 8;
  return static_cast<uint32_t>((bits + scanlinePad_ - 1) / scanlinePad_ * scanlinePad_ / 8);
}

void X11PixelFormat::convertRow(const uint32_t* source, uint32_t count, uint8_t* target) const {
  switch (kind_) {
    case Kind::Identity:
      std::memcpy(target, source, size_t{count} * 4);
      return;
    case Kind::Rgb565:
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t p = source[i];
        const auto v =
            static_cast<uint16_t>(((p >> 8) & 0xF800) | ((p >> 5) & 0x07E0) | ((p >> 3) & 0x001F));
        target[2 * i] = static_cast<uint8_t>(v);
        target[2 * i + 1] = static_cast<uint8_t>(v >> 8);
      }
      return;
    case Kind::Rgb555:
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t p = source[i];
        const auto v =
            static_cast<uint16_t>(((p >> 9) & 0x7C00) | ((p >> 6) & 0x03E0) | ((p >> 3) & 0x001F));
        target[2 * i] = static_cast<uint8_t>(v);
        target[2 * i + 1] = static_cast<uint8_t>(v >> 8);
      }
      return;
    case Kind::Generic:
      break;
  }
  const uint32_t bytes = bytesPerPixel_;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t p = source[i];
    const uint32_t v =
        scale((p >> 16) & 0xFF, red_) | scale((p >> 8) & 0xFF, green_) | scale(p & 0xFF, blue_);
    uint8_t* out = target + size_t{i} * bytes;
    for (uint32_t b = 0; b < bytes; ++b) {
      const uint32_t byteShift = byteOrder_ == LSBFirst ? b * 8 : (bytes - 1 - b) * 8;
      out[b] = static_cast<uint8_t>(v >> byteShift);
    }
  }
}

}  // namespace nubrik
