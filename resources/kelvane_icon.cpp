#include "resources/kelvane_icon.h"

#include <QString>

#include "resources/resource_paths.h"

namespace kelvane::resources {

QIcon kelvaneMiniIcon() {
    QIcon icon;
    for (int size : kIconSizes) icon.addFile(QString::fromLatin1(kKelvaneIconPattern).arg(size), QSize(size, size));
    return icon;
}

}  // namespace kelvane::resources
