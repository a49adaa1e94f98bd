// The decoded image as Qt paints it.
#pragma once

#include <QImage>

#include "imaging/image.h"

namespace velorin::ui {

// A top-down copy of an 8-bit (palette) or 24-bit record; a null image for anything else.
QImage toQImage(const ImageRecord& record);

}  // namespace velorin::ui
