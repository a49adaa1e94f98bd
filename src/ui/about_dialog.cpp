#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include <cstdio>

#include <jpeglib.h>
#include <zlib.h>

#include "engine/language.h"
#include "ui/controls.h"

namespace velorin::ui {

QString aboutText() {
  QString text = QStringLiteral("Velorin %1\n\n").arg(QStringLiteral(VELORIN_VERSION));
  text += QStringLiteral("Qt %1\n").arg(QString::fromLatin1(qVersion()));
  text += QStringLiteral("zlib %1\n").arg(QString::fromLatin1(zlibVersion()));
#ifdef LIBJPEG_TURBO_VERSION
#define VELORIN_STRINGIFY2(x) #x
#define VELORIN_STRINGIFY(x) VELORIN_STRINGIFY2(x)
  text += QStringLiteral("libjpeg-turbo %1 (libjpeg %2)\n")
              .arg(QString::fromLatin1(VELORIN_STRINGIFY(LIBJPEG_TURBO_VERSION)))
              .arg(JPEG_LIB_VERSION / 10.0, 0, 'f', 1);
#else
  text += QStringLiteral("libjpeg %1\n").arg(JPEG_LIB_VERSION / 10.0, 0, 'f', 1);
#endif
  return text.trimmed();
}

AboutDialog::AboutDialog(const LanguageModule& language, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("about"));
  setWindowTitle(language.text(20300));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(aboutText(), this);
  text->setObjectName(QStringLiteral("aboutText"));
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace velorin::ui
