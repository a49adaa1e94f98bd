#include "ui/name_preview_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/controls.h"

namespace velorin::ui {

namespace {
constexpr int kDialogId = 2000;
constexpr int kConvertText = 2001;
constexpr int kCancelText = 2002;
}  // namespace

NamePreviewDialog::NamePreviewDialog(const LanguageModule& language, const std::vector<PreviewRow>& rows,
                                     int fontHeight, QWidget* parent)
    : QDialog(parent) {
  setObjectName(controlName(kDialogId));
  setWindowTitle(language.text(kDialogId));
  setDialogFont(this, fontHeight);

  auto* layout = new QVBoxLayout(this);
  auto* table = new QTableWidget(static_cast<int>(rows.size()), 2, this);
  table->setObjectName(QStringLiteral("names"));
  table->setHorizontalHeaderLabels({language.text(text_id::kPreviewSourceColumn),
                                    language.text(text_id::kPreviewOutputColumn)});
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setShowGrid(true);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    table->setItem(row, 0, new QTableWidgetItem(rows[row].source));
    table->setItem(row, 1, new QTableWidgetItem(rows[row].output));
  }
  layout->addWidget(table);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  setCaption(buttons->button(QDialogButtonBox::Ok), language, 1, kConvertText);
  setCaption(buttons->button(QDialogButtonBox::Cancel), language, 2, kCancelText);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(560, 380);
}

}  // namespace velorin::ui
