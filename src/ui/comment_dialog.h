// The dialog that edits the comment written into PNG and JPEG files.
#pragma once

#include <QString>

class QWidget;

namespace velorin {
class LanguageModule;
}

namespace velorin::ui {

inline constexpr int kCommentLength = 4095;

// Shows text for editing; OK stores the field's text (at most kCommentLength characters) into
// text and returns true, Cancel leaves text alone.
bool editCommentText(QWidget* parent, const LanguageModule& language, QString& text);

}  // namespace velorin::ui
