#include "desktop/ui/agent_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"

namespace vorlink {

QIcon LoadAgentIcon() {
  const auto svg = platform::EmbeddedResourceSource().Load(platform::kIconResourceType, platform::kIdiAgentIcon);
  QSvgRenderer renderer(
      QByteArray(reinterpret_cast<const char*>(svg.bytes.data()), static_cast<qsizetype>(svg.bytes.size())));
  QIcon icon;
  if (!renderer.isValid()) return icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace vorlink
