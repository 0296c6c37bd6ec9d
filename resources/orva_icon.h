#pragma once
// Orva_Upgrade's window icon in all its sizes (target orva_resources), for
// QApplication::setWindowIcon and QWidget::setWindowIcon.
#include <QIcon>

namespace kelvane::resources {

QIcon orvaUpgradeIcon();

}  // namespace kelvane::resources
