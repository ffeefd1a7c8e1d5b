// The About box.
#include "app/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "app/bitmap_image.h"
#include "app/icons.h"

namespace vintrel {
namespace {

constexpr int text_limit = 255;

QLabel* add_label(QDialog* dialog, const DialogUnits& units, const char* id, const char* text, QRect place,
                  Qt::Alignment alignment) {
    auto* label = new QLabel(text, dialog);
    if (*id) label->setObjectName(id);
    label->setGeometry(units.rect(place.x(), place.y(), place.width(), place.height()));
    label->setAlignment(alignment);
    return label;
}

}  // namespace

TTesselAboutDlg::TTesselAboutDlg(QWidget* parent, const TProjectRCVersion& record) : QDialog(parent) {
    setWindowTitle("About Vintrel");
    setObjectName("about_dialog");
    const DialogUnits units(font());
    setFixedSize(units.x(204), units.y(93));

    auto* icon = new QLabel(this);
    icon->setGeometry(units.rect(2, 2, 11, 10));
    icon->setPixmap(application_icon().pixmap(icon->size().boundedTo(QSize(32, 32))));
    add_label(this, units, "", "Vintrel", QRect(2, 4, 200, 8), Qt::AlignHCenter | Qt::AlignTop);
    QLabel* version = add_label(this, units, "22001", "Version", QRect(2, 14, 200, 8), Qt::AlignHCenter | Qt::AlignTop);
    QLabel* copyright = add_label(this, units, "22002", "", QRect(2, 27, 200, 17), Qt::AlignHCenter | Qt::AlignTop);
    copyright->setWordWrap(true);
    QLabel* purpose = add_label(this, units, "about_purpose",
                                "Vintrel turns movies into handheld picture databases (.pdb) of frames dithered to four "
                                "greys, and MPEG-1 video streams of the same frames.",
                                QRect(2, 46, 200, 26), Qt::AlignHCenter | Qt::AlignTop);
    purpose->setWordWrap(true);
    QLabel* special = add_label(this, units, "22003", "", QRect(136, 83, 66, 8), Qt::AlignRight | Qt::AlignTop);
    // Spelt as every other Ok of the program's.
    auto* ok = new QPushButton("&Ok", this);
    ok->setObjectName("1");
    ok->setToolTip("Close this box (Enter, Esc)");
    ok->setGeometry(units.rect(82, 76, 40, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // Each item the record lacks leaves the template's text.
    const auto limited = [](const std::string& text) { return QString::fromStdString(text).left(text_limit); };
    std::string name, product_version, text;
    if (record.product_name(name) && record.product_version(product_version))
        version->setText(limited(name + " " + version->text().left(127).toStdString() + " " + product_version));
    if (record.legal_copyright(text)) copyright->setText(limited(text));
    if (record.special_build(text)) special->setText(limited(text));
}

}  // namespace vintrel
