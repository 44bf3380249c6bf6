#include "ResourceText.h"

#include <QtCore/QFile>

#include "Resources.h"

namespace chimewick {

std::string ResourceText(const char* name) {
  InitResources();
  QFile file(QStringLiteral(":/text/") + QString::fromUtf8(name));
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  return std::string(bytes.constData(), size_t(bytes.size()));
}

}  // namespace chimewick
