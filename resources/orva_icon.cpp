#include "resources/orva_icon.h"

#include <QString>

#include "resources/resource_paths.h"

namespace kelvane::resources {

QIcon orvaUpgradeIcon() {
    QIcon icon;
    for (int size : kIconSizes) icon.addFile(QString::fromLatin1(kOrvaIconPattern).arg(size), QSize(size, size));
    return icon;
}

}  // namespace kelvane::resources
