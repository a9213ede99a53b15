#pragma once

#include "CavrelHubManager.h"
#include "ProjectStore.h"

#include <iosfwd>

namespace cavrel {
void PrintTo(const CavrelHubManager::Status& status, std::ostream* out);
void PrintTo(const CavrelHubManager::HubConfig& config, std::ostream* out);
void PrintTo(const ProjectStore::Project& project, std::ostream* out);
} // namespace cavrel

QT_BEGIN_NAMESPACE
void PrintTo(const QString& text, std::ostream* out);
QT_END_NAMESPACE
