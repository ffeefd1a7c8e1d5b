// Where the desktop program keeps what it remembers across runs (tests point QSettings elsewhere).
#pragma once

#include <QSettings>

namespace vintrel {

inline QSettings program_settings() { return QSettings("Vintrel", "Vintrel"); }

}  // namespace vintrel
