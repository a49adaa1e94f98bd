#include "ui/display_image.h"

namespace velorin::ui {

QImage toQImage(const ImageRecord& record) {
  const BitmapInfoHeader& h = record.header;
  const int width = h.biWidth;
  const int height = h.biHeight;
  if (!record.pixels || width <= 0 || height <= 0 || (h.biBitCount != 8 && h.biBitCount != 24)) return {};
  const uint64_t stride = paddedStride(width, h.biBitCount);
  if (stride * static_cast<uint64_t>(height) > record.pixels.size()) return {};
  const QImage::Format format = h.biBitCount == 8 ? QImage::Format_Indexed8 : QImage::Format_BGR888;
  const QImage bottomUp(record.pixels.data(), width, height, static_cast<qsizetype>(stride), format);
  QImage image = bottomUp.mirrored(false, true);
  if (h.biBitCount == 8) {
    QList<QRgb> colours(256);
    for (int i = 0; i < 256; ++i) colours[i] = qRgb(record.palette[i].red, record.palette[i].green, record.palette[i].blue);
    image.setColorTable(colours);
  }
  return image;
}

}  // namespace velorin::ui
