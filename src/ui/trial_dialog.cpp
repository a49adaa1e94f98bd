#include "ui/trial_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "engine/language.h"
#include "ui/controls.h"
#include "ui/display_image.h"

namespace velorin::ui {

namespace {

constexpr int kDialogId = 2100;
constexpr int kPaneId = 2101;
constexpr int kOkText = 2010;
constexpr int kCancelText = 2011;
constexpr int kFixedPointShift = 14;
constexpr int kMargin = 6;

}  // namespace

TrialPane::TrialPane(QWidget* parent) : QWidget(parent) {}

void TrialPane::setPicture(QImage picture) {
  picture_ = std::move(picture);
  update();
}

void TrialPane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Button));
  if (picture_.isNull()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(trialPictureRect(picture_.size(), size()), picture_);
}

void TrialPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit nextRequested();
  else if (event->button() == Qt::RightButton) emit closeRequested();
}

TrialFit fitTrialPane(QSize picture, QSize available, int minimumWidth) {
  TrialFit fit{picture.expandedTo({1, 1}), 1};
  available = available.expandedTo({1, 1});
  if (fit.pane.width() > available.width() || fit.pane.height() > available.height()) {
    fit.scale = std::min(double(available.width()) / fit.pane.width(), double(available.height()) / fit.pane.height());
    fit.pane = QSize(std::max(1, static_cast<int>(std::lround(fit.pane.width() * fit.scale))),
                     std::max(1, static_cast<int>(std::lround(fit.pane.height() * fit.scale))));
  }
  fit.pane.setWidth(std::max(fit.pane.width(), minimumWidth));
  return fit;
}

QRect trialPictureRect(QSize picture, QSize pane) {
  const int64_t width = std::max(1, picture.width()), height = std::max(1, picture.height());
  QSize shown(static_cast<int>(width), static_cast<int>(height));
  if (width > pane.width() || height > pane.height()) {
    const int64_t across = (int64_t{pane.width()} << kFixedPointShift) / width;
    const int64_t down = (int64_t{pane.height()} << kFixedPointShift) / height;
    if (across <= down)
      shown = QSize(pane.width(), static_cast<int>(std::max<int64_t>(1, (height * across) >> kFixedPointShift)));
    else
      shown = QSize(static_cast<int>(std::max<int64_t>(1, (width * down) >> kFixedPointShift)), pane.height());
  }
  return QRect(QPoint((pane.width() - shown.width()) / 2, (pane.height() - shown.height()) / 2), shown);
}

TrialDialog::TrialDialog(TrialSession& session, const FileList& list, const LanguageModule& language,
                         int fontHeight, QRect workArea, std::function<void(int)> showError, QWidget* owner)
    : QDialog(owner), session_(session), list_(list), language_(language), workArea_(workArea),
      showError_(std::move(showError)) {
  setObjectName(controlName(kDialogId));
  setWindowTitle(language.text(kDialogId));
  setDialogFont(this, fontHeight);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(kMargin);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  pane_ = new TrialPane(this);
  nameControl(pane_, kPaneId);
  pane_->setAccessibleName(language.text(kPaneId));
  pane_->setToolTip(language.text(kPaneId));
  layout->addWidget(pane_, 0, Qt::AlignCenter);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  setCaption(buttons_->button(QDialogButtonBox::Ok), language, 1, kOkText);
  setCaption(buttons_->button(QDialogButtonBox::Cancel), language, 2, kCancelText);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons_);
  connect(pane_, &TrialPane::nextRequested, this, [this] { step(TrialStep::Next); });
  connect(pane_, &TrialPane::closeRequested, this, &QDialog::reject);
  centre_ = owner ? owner->frameGeometry().center() : this->workArea().center();
  // The arrow keys belong to the window wherever the focus is, as a keyboard hook would have it.
  qApp->installEventFilter(this);
}

TrialDialog::~TrialDialog() { qApp->removeEventFilter(this); }

QRect TrialDialog::workArea() const {
  if (!workArea_.isEmpty()) return workArea_;
  const QWidget* owner = parentWidget();
  const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
}

bool TrialDialog::showEntry(qsizetype index) {
  TrialPicture picture;
  QImage image;
  if (session_.convert(index, picture)) image = toQImage(picture.image);
  if (image.isNull()) {
    showError_(text_id::kCannotConvertFile);
    return false;
  }
  picture.image = ImageRecord{};  // the display copy is all that is kept
  current_ = index;
  placeAround(image.size());
  pane_->setPicture(std::move(image));
  setWindowTitle(trialTitle(scale_, picture.outputBytes, language_.text(kPaneId)));
  return true;
}

void TrialDialog::step(TrialStep step) {
  const qsizetype next = trialStepEntry(list_, current_, step);
  if (next != current_) showEntry(next);
}

// Sizes the pane for the picture within the work area less the dialog's own frame, buttons and
// margins, then centres the dialog where it was, moved back inside the work area.
void TrialDialog::placeAround(QSize pictureSize) {
  const QRect area = workArea();
  const QSize buttons = buttons_->sizeHint();
  const QSize chrome(2 * kMargin, 3 * kMargin + buttons.height());
  QSize frame = frameGeometry().size() - size();
  if (!isVisible()) {
    // Not framed yet: what the style expects a title bar and borders to take.
    const int border = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    frame = QSize(2 * border, 2 * border + style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
  }
  const TrialFit fit = fitTrialPane(pictureSize, area.size() - chrome - frame, buttons.width());
  scale_ = fit.scale;
  pane_->setFixedSize(fit.pane);
  layout()->activate();
  const QSize outer = fit.pane + chrome + frame;
  QPoint topLeft = centre_ - QPoint(outer.width() / 2, outer.height() / 2);
  topLeft.setX(std::max(area.left(), std::min(topLeft.x(), area.left() + area.width() - outer.width())));
  topLeft.setY(std::max(area.top(), std::min(topLeft.y(), area.top() + area.height() - outer.height())));
  move(topLeft);
  centre_ = topLeft + QPoint(outer.width() / 2, outer.height() / 2);
}

bool TrialDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || (widget != this && !isAncestorOf(widget))) return QDialog::eventFilter(watched, event);
  switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Left: step(TrialStep::First); return true;
    case Qt::Key_Up: step(TrialStep::Previous); return true;
    case Qt::Key_Down: step(TrialStep::Next); return true;
    case Qt::Key_Right: step(TrialStep::Last); return true;
    default: return QDialog::eventFilter(watched, event);
  }
}

bool runTrialConversion(QWidget* owner, const TrialRequest& request) {
  TrialSession session;
  const int error =
      session.open(request.list, request.inputPath, request.settings, request.options, request.askPassword);
  const bool rebuilt = session.listRebuilt();
  if (error) {
    request.showError(error);
    return rebuilt;
  }
  // A rebuilt list has dropped the preview.
  const qsizetype first = firstTrialEntry(request.list, rebuilt ? -1 : request.previewIndex);
  if (first < 0) return rebuilt;
  TrialDialog dialog(session, request.list, request.language, request.fontHeight, request.workArea,
                     request.showError, owner);
  if (!dialog.showEntry(first)) return rebuilt;
  if (request.present) request.present(dialog);
  else dialog.exec();
  return rebuilt;
}

}  // namespace velorin::ui
