#include "nubrik/window/app_window.h"

#include <chrono>
#include <stdexcept>
#include <utility>

namespace nubrik {

AppWindow::AppWindow(std::unique_ptr<EventWindow> window) : window_(std::move(window)) {
  if (!window_) throw std::invalid_argument("an AppWindow needs a window");
  dc_ = window_->getDC();
  if (dc_ == nullptr) {
    const std::string why = window_->getFailure();
    throw std::runtime_error("the window gives no device context to draw with" +
                             (why.empty() ? std::string() : ": " + why));
  }
  try {
    screen_ =
        std::make_unique<Screen>(dc_, window_->getSurfaceWidth(), window_->getSurfaceHeight());
  } catch (...) {
    window_->releaseDC(dc_);
    throw;
  }
  screen_->setFrameInterval(std::chrono::nanoseconds(1'000'000'000 / 60));
  window_->input().setListener([screen = screen_.get()] { screen->wakeFrameThread(); });
  // A frame thread stopped by a failing callback (CallbackFailurePolicy::Stop)
  // ends run() with the failure.
  screen_->setStoppedListener([window = window_.get()] { window->wake(); });
  // The program reads the Resize event with the Screen at its new size. The
  // window holds the scene lock around it, which a frame callback resizing
  // the window already holds.
  window_->setResizeHandler(
      [screen = screen_.get()](uint32_t width, uint32_t height) { screen->resize(width, height); },
      &screen_->getSceneLock());
}

AppWindow::~AppWindow() {
  // Nothing may wake a Screen that is going.
  window_->input().setListener(nullptr);
  window_->setResizeHandler(nullptr);
  screen_.reset();
  window_->releaseDC(dc_);
}

int AppWindow::run() {
  window_->show();
  if (!screen_->isFrameThreadRunning()) screen_->startFrameThread();
  int exitCode = 0;
  try {
    for (;;) {
      if (quitting_.exchange(false)) {
        exitCode = exitCode_.load();
        break;
      }
      const WindowEvent event = window_->waitEvent();
      if (std::exception_ptr failure = screen_->takeStoppingFailure()) {
        std::rethrow_exception(failure);
      }
      if (event == WindowEvent::Redraw) {
        screen_->invalidateAll();
      } else if (event == WindowEvent::Closed && quitOnClose_) {
        break;
      } else if (event == WindowEvent::Failed) {
        throw std::runtime_error(window_->getFailure());
      }
    }
  } catch (...) {
    // Whatever ends the loop (the window's failure, a resize handler that
    // throws) ends the frames too.
    try {
      screen_->stopFrameThread();
    } catch (...) {
      // run() on the frame thread, or holding the scene lock: what ended the
      // loop is the news.
    }
    throw;
  }
  screen_->stopFrameThread();
  return exitCode;
}

void AppWindow::quit(int exitCode) {
  exitCode_ = exitCode;
  quitting_ = true;
  window_->wake();
}

}  // namespace nubrik
