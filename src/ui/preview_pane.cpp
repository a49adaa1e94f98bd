#include "ui/preview_pane.h"

#include <QMouseEvent>
#include <QPainter>

namespace velorin::ui {

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::PointingHandCursor);
  setAutoFillBackground(true);
  QPalette grey = palette();
  grey.setColor(QPalette::Window, QColor(224, 224, 224));
  setPalette(grey);
}

void PreviewPane::showImage(const QImage& image, const QString& path) {
  image_ = image;
  path_ = path;
  update();
}

void PreviewPane::clear() {
  image_ = QImage();
  path_.clear();
  update();
}

QRect fittedRect(QSize size, QRect area) {
  if (size.isEmpty() || area.isEmpty()) return {};
  QSize fitted = size;
  if (fitted.width() > area.width() || fitted.height() > area.height())
    fitted = size.scaled(area.size(), Qt::KeepAspectRatio);
  fitted = fitted.expandedTo(QSize(1, 1));
  const QPoint topLeft(area.x() + (area.width() - fitted.width()) / 2, area.y() + (area.height() - fitted.height()) / 2);
  return {topLeft, fitted};
}

void PreviewPane::paintEvent(QPaintEvent*) {
  if (image_.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(fittedRect(image_.size(), rect()), image_);
}

void PreviewPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && !image_.isNull()) emit openRequested(path_);
}

}  // namespace velorin::ui
