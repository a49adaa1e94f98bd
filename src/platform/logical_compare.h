// Name order as people expect it in a file list: "img2" before "img10".
#pragma once

#include <QStringView>

namespace velorin {

// Negative, zero or positive as a sorts before, with or after b. Letters compare without regard to
// case; runs of decimal digits compare by their numeric value (any length, leading zeros do not
// count). Names equal by that rule fall back to a plain comparison so the order is total.
int compareLogical(QStringView a, QStringView b);

}  // namespace velorin
