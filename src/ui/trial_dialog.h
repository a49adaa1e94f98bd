// The trial conversion window: one selected entry converted with the current settings, shown
// scaled to fit the screen with the display scale and the output size in the title. The arrow
// keys step through the selected entries; a left click shows the next, a right click closes.
#pragma once

#include <QDialog>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <functional>

#include "engine/trial.h"

class QDialogButtonBox;

namespace velorin::ui {

// The picture pane ("Velorin_oprv_class", id 2101).
class TrialPane : public QWidget {
  Q_OBJECT
 public:
  explicit TrialPane(QWidget* parent = nullptr);
  void setPicture(QImage picture);
  const QImage& picture() const { return picture_; }

 signals:
  void nextRequested();
  void closeRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QImage picture_;
};

struct TrialFit {
  QSize pane;
  double scale = 1;  // 1 when the picture fits
};

// The pane for a picture in the available size: shrunk by the smaller of the two ratios when
// the picture is wider or higher (at least 1 x 1), never narrower than minimumWidth.
TrialFit fitTrialPane(QSize picture, QSize available, int minimumWidth);

// Where a picture is painted in a pane: shrunk with 14-bit fixed-point factors when it is
// larger, keeping its aspect ratio, and centred.
QRect trialPictureRect(QSize picture, QSize pane);

class TrialDialog : public QDialog {
  Q_OBJECT
 public:
  // workArea is where the dialog must stay; empty for the available area of owner's screen.
  // showError shows a message by its id.
  TrialDialog(TrialSession& session, const FileList& list, const LanguageModule& language, int fontHeight,
              QRect workArea, std::function<void(int)> showError, QWidget* owner);
  ~TrialDialog() override;

  // Converts and shows entry index; on failure shows 30010, keeps the picture and returns false.
  bool showEntry(qsizetype index);
  void step(TrialStep step);
  qsizetype currentEntry() const { return current_; }
  double scale() const { return scale_; }
  TrialPane* pane() const { return pane_; }
  void setWorkArea(QRect area) { workArea_ = area; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QRect workArea() const;
  void placeAround(QSize pictureSize);

  TrialSession& session_;
  const FileList& list_;
  const LanguageModule& language_;
  QRect workArea_;
  std::function<void(int)> showError_;
  TrialPane* pane_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  qsizetype current_ = -1;
  double scale_ = 1;
  QPoint centre_;
};

// Everything the trial conversion button needs from the window.
struct TrialRequest {
  FileList& list;
  QString inputPath;
  const ConversionSettings& settings;
  JobOptions options;
  const LanguageModule& language;
  int fontHeight = -12;
  qsizetype previewIndex = -1;  // the entry of the file-list page's preview, -1 without one
  std::function<void(int)> showError;
  PasswordPrompt askPassword;
  std::function<bool(QDialog&)> present;  // runs the dialog; empty: exec()
  QRect workArea;
};

// The checks, then the dialog on the first entry until it is closed. True when the checks found
// the list out of step and rebuilt it.
bool runTrialConversion(QWidget* owner, const TrialRequest& request);

}  // namespace velorin::ui
