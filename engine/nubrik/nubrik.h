#pragma once

// The whole public interface of the Nubrik engine in one include.

#include "nubrik/version.h"

#include "nubrik/base/event.h"
#include "nubrik/base/exception.h"
#include "nubrik/base/rect.h"
#include "nubrik/base/platform/device_context.h"
#include "nubrik/image/file_stream_reader.h"
#include "nubrik/image/image.h"
#include "nubrik/image/load_image.h"
#include "nubrik/image/memory_stream_reader.h"
#include "nubrik/image/pixel_format.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/image/png_encoder.h"
#include "nubrik/image/png_loader.h"
#include "nubrik/sprite/blend.h"
#include "nubrik/sprite/colour.h"
#include "nubrik/sprite/fill_rect_sprite.h"
#include "nubrik/sprite/image_sprite.h"
#include "nubrik/screen/screen.h"
#include "nubrik/window/app_window.h"
#include "nubrik/window/input_event.h"
#include "nubrik/window/input_queue.h"
#include "nubrik/window/memory_window.h"
#include "nubrik/window/open_window.h"
#include "nubrik/window/window_options.h"
