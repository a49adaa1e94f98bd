// The names a list job would give: one row per checked entry, its name and its output name.
#pragma once

#include <QDialog>

#include <vector>

#include "engine/job.h"

namespace velorin::ui {

class NamePreviewDialog : public QDialog {
  Q_OBJECT
 public:
  // fontHeight is FHeight: -14 gives an 11-point font, anything else 9.
  NamePreviewDialog(const LanguageModule& language, const std::vector<PreviewRow>& rows, int fontHeight,
                    QWidget* parent);
};

}  // namespace velorin::ui
