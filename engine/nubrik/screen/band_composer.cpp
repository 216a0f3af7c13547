#include "nubrik/screen/band_composer.h"

#include <algorithm>

#include "nubrik/image/pixel_lock.h"
#include "nubrik/image/streamed_copy.h"
#include "nubrik/screen/sprite_drawer.h"

namespace nubrik {

namespace {

bool isWide(const Rect& rect) { return size_t(rect.right - rect.left) * 4 >= kMinStreamedRowBytes; }

}  // namespace

bool BandComposer::deviceLendsRows() const {
  LentBand lent;
  return hdc_ != nullptr && hdc_->lendBand(0, drawer_.getBandHeight(), lent);
}

void BandComposer::beginFrame(bool lending, bool streamed, uint32_t threads) {
  failedBands_.clear();
  failedBands_.reserve(drawer_.getDirtyBands().size());  // noting a failure never allocates
  firstFailure_ = nullptr;
  runCount_ = static_cast<uint32_t>(drawer_.getDirtyRuns().size());
  runDivisor_ = threads > 1 ? 4 * threads : 1;
  lending_ = lending;
  streaming_ = streamed;
  lockPresents_ = hdc_ != nullptr && !hdc_->presentsConcurrently();
  nextRun_.store(0, std::memory_order_relaxed);
}

const std::vector<uint32_t>& BandComposer::sortFailedBands() {
  std::sort(failedBands_.begin(), failedBands_.end());
  return failedBands_;
}

void BandComposer::composeRunOrNoteFailure(uint32_t run, Image& bandImage) noexcept {
  try {
    composeRun(run, bandImage);
  } catch (...) {
    const SpriteDrawer::BandRun& failed = drawer_.getDirtyRuns()[run];
    std::lock_guard lock(failureLock_);
    for (uint32_t band = failed.first; band < failed.first + failed.count; ++band) {
      failedBands_.push_back(band);  // reserved for every band of the frame
    }
    if (!firstFailure_) firstFailure_ = std::current_exception();
  }
}

bool BandComposer::lendRows(int32_t top, uint32_t rows, LentBand& lent) const {
  // Rows lent too short, too narrow or too tightly packed are not written:
  // the bands go through their image instead.
  return hdc_->lendBand(top, rows, lent) && lent.pixels != nullptr &&
         lent.width >= drawer_.getWidth() && lent.rows >= rows &&
         lent.pitch >= uint64_t{drawer_.getWidth()} * 4;
}

void BandComposer::reportChanged(uint32_t firstBand, uint32_t count) {
  std::unique_lock lock(presentLock_, std::defer_lock);
  if (lockPresents_) lock.lock();
  const uint32_t bandHeight = drawer_.getBandHeight();
  for (uint32_t band = firstBand; band < firstBand + count; ++band) {
    for (const Rect& rect : drawer_.getBandDamage(band)) {
      hdc_->bandChanged(static_cast<int32_t>(uint64_t{band} * bandHeight), rect);
    }
  }
}

void BandComposer::composeRun(uint32_t index, Image& bandImage) {
  const SpriteDrawer::BandRun& run = drawer_.getDirtyRuns()[index];
  if (run.count > 1 && lending_ && !streaming_) {
    // The run's rows, lent as one region, are composed at once.
    const uint32_t bandHeight = drawer_.getBandHeight();
    const auto top = static_cast<int32_t>(uint64_t{run.first} * bandHeight);
    const auto rows = static_cast<uint32_t>(
        std::min<uint64_t>(uint64_t{run.count} * bandHeight, drawer_.getHeight() - top));
    LentBand lent;
    if (lendRows(top, rows, lent)) {
      Image view(drawer_.getWidth(), rows, lent.pitch,
                 Image::Pixels(Image::Pixels(), lent.pixels));  // not owned
      drawer_.drawRun(run, view);
      reportChanged(run.first, run.count);
      return;
    }
  }
  for (uint32_t band = run.first; band < run.first + run.count; ++band) {
    composeBand(band, bandImage);
  }
}

void BandComposer::composeBand(uint32_t band, Image& bandImage) {
  const uint32_t bandHeight = drawer_.getBandHeight();
  const auto top = static_cast<int32_t>(uint64_t{band} * bandHeight);
  const uint32_t rows = std::min<uint32_t>(bandHeight, drawer_.getHeight() - top);
  LentBand lent;
  if (lending_ && lendRows(top, rows, lent)) {
    const BandDamage& damage = drawer_.getBandDamage(band);
    if (streaming_ && std::all_of(damage.begin(), damage.end(), isWide)) {
      // Composed in the cache and streamed out: the window's rows are not
      // read in first.
      drawer_.drawBand(band, bandImage);
      const auto pixels = bandImage.pixels().get();
      for (const Rect& r : damage) {
        copyRowsStreamed(lent.pixels + int64_t{r.top - top} * lent.pitch + int64_t{r.left} * 4,
                         lent.pitch,
                         pixels + int64_t{r.top - top} * bandImage.getPitch() + int64_t{r.left} * 4,
                         bandImage.getPitch(), size_t(r.right - r.left) * 4,
                         static_cast<uint32_t>(r.bottom - r.top));
      }
    } else {
      Image view(drawer_.getWidth(), rows, lent.pitch,
                 Image::Pixels(Image::Pixels(), lent.pixels));  // not owned
      drawer_.drawBand(band, view);
    }
    reportChanged(band, 1);
    return;
  }
  drawer_.drawBand(band, bandImage);
  if (hdc_ == nullptr) return;
  std::unique_lock lock(presentLock_, std::defer_lock);
  if (lockPresents_) lock.lock();
  for (const Rect& rect : drawer_.getBandDamage(band)) presentBand(bandImage, rect, hdc_, top);
}

void presentBand(IImage& image, const Rect& rect, IDeviceContext* hdc, int32_t bandTop) {
  if (hdc == nullptr) return;
  PixelLock lock(image);
  hdc->presentBand(lock.pixels(), image.getPitch(), image.getWidth(), image.getHeight(), bandTop,
                   rect);
}

}  // namespace nubrik
