#pragma once
// KelvaneMini's window icon in all its sizes (target kelvane_resources), for
// QApplication::setWindowIcon and QWidget::setWindowIcon.
#include <QIcon>

namespace kelvane::resources {

QIcon kelvaneMiniIcon();

}  // namespace kelvane::resources
