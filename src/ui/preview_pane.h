// The preview pane of the file-list page: the previewed picture scaled to fit, and a click that
// opens the file with the desktop's default program.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

namespace velorin::ui {

class PreviewPane : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewPane(QWidget* parent = nullptr);

  void showImage(const QImage& image, const QString& path);
  void clear();
  const QImage& image() const { return image_; }

 signals:
  // Clicked while a picture is shown; path is empty for an archive member.
  void openRequested(const QString& path);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage image_;
  QString path_;
};

// The rectangle a picture of size takes when scaled to fit into area, centred; never enlarged.
QRect fittedRect(QSize size, QRect area);

}  // namespace velorin::ui
