// The About box: name, version and copyright from the program's version record.
#pragma once

#include <span>

#include <QDialog>

#include "app/version_info.h"

namespace vintrel {

class TTesselAboutDlg : public QDialog {
    Q_OBJECT
public:
    // The texts come from `record`; the program's own unless another is given.
    explicit TTesselAboutDlg(QWidget* parent, const TProjectRCVersion& record = TProjectRCVersion());
};

}  // namespace vintrel
