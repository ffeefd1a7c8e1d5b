// A file size as the windows show it: "5.1 MB (5,345,855 bytes)".
#pragma once

#include <QLocale>
#include <QString>

namespace vintrel {

// The size in binary units with one decimal, then the exact count; under 1 KB the count alone
// ("78 bytes"). The numbers are written the same on every system, as the program's other texts are.
inline QString readable_size(qint64 bytes) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QString exact = english.toString(bytes) + " bytes";
    if (bytes < 1024) return exact;
    return english.formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat) + " (" + exact + ")";
}

}  // namespace vintrel
