// The program's two icons, drawn in code: the main window's and each movie window's.
#pragma once

#include <QIcon>

namespace vintrel {

QIcon application_icon();  // icon 1001: a film strip with the four greys
QIcon movie_icon();        // icon 1002: one film frame in the four greys

}  // namespace vintrel
