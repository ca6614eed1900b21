#include "app_icon.h"

#include <QCoreApplication>

namespace varnok::velmora {

QIcon application_icon() {
  return QIcon(QCoreApplication::applicationDirPath() + QStringLiteral("/pics/pet.ico"));
}

}  // namespace varnok::velmora
