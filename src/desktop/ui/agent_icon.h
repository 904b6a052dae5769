#pragma once
// The agent's icon (resource 327), drawn from its SVG at every size the
// desktop may ask for.

#include <QIcon>

namespace vorlink {

QIcon LoadAgentIcon();

}  // namespace vorlink
