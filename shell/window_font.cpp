#include "shell/window_font.h"

#include <QStringList>

namespace kelvane::shell {

QFont windowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(8);
    return font;
}

}  // namespace kelvane::shell
