#pragma once
// KelvaneMini's window icon in all its sizes (target kelvane_resources), for
// QApplication::setWindowIcon and QWidget::setWindowIcon.
#include <QIcon>

namespace resources {

QIcon KelvaneMiniIcon();

}  // namespace resources
