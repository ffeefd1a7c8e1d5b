// The Screen Size menu.
#include "app/screen_size_menu.h"

#include <QActionGroup>
#include <QInputDialog>

#include "app/message_boxes.h"
#include "app/program_settings.h"

namespace vintrel {
namespace {

const QString size_key = "frames/screen";

constexpr ScreenSize preset_sizes[] = {{160, 160}, {320, 320}, {320, 480}};

QString size_text(ScreenSize size) { return QString("%1x%2").arg(size.width).arg(size.height); }

}  // namespace

ScreenSizeMenu::ScreenSizeMenu(QWidget* parent, MessageBoxes& message_boxes)
    : QMenu("&Screen Size", parent), message_boxes_(message_boxes) {
    setObjectName("screen_size_menu");
    group_ = new QActionGroup(this);
    add_choice("The Movie's Own &Size", {})->setObjectName("size_natural");
    addSeparator();
    for (const ScreenSize size : presets())
        add_choice("Fit Inside " + describe(size), size)->setObjectName("size_" + size_text(size));
    addSeparator();
    other_ = addAction("Fit Inside &Another Size...", this, &ScreenSizeMenu::ask_other_size);
    other_->setObjectName("size_other");
    other_->setCheckable(true);
    group_->addAction(other_);

    ScreenSize kept;
    if (!parse_screen_size(program_settings().value(size_key).toString().toStdString(), kept)) kept = {};
    choose(kept);
}

QAction* ScreenSizeMenu::add_choice(const QString& text, ScreenSize size) {
    QAction* action = addAction(text);
    action->setCheckable(true);
    action->setData(size_text(size));
    group_->addAction(action);
    connect(action, &QAction::triggered, this, [this, size] { choose(size); });
    return action;
}

std::span<const ScreenSize> ScreenSizeMenu::presets() { return preset_sizes; }

QString ScreenSizeMenu::describe(ScreenSize size) {
    if (size.none()) return "the movie's own size";
    return QString("%1\u00d7%2").arg(size.width).arg(size.height);
}

void ScreenSizeMenu::choose(ScreenSize size) {
    const ScreenSize before = chosen_;
    chosen_ = size.none() ? ScreenSize{} : size;
    QAction* chosen = nullptr;
    for (QAction* action : group_->actions())
        if (action != other_ && action->data().toString() == size_text(chosen_)) chosen = action;
    if (!chosen) {
        chosen = other_;
        other_->setText("Fit Inside &Another Size (" + describe(chosen_) + ")...");
    } else {
        other_->setText("Fit Inside &Another Size...");
    }
    chosen->setChecked(true);
    program_settings().setValue(size_key, chosen_.none() ? QString() : size_text(chosen_));
    if (before.width != chosen_.width || before.height != chosen_.height) emit chosen_changed(chosen_);
}

void ScreenSizeMenu::ask_other_size() {
    QInputDialog dialog(parentWidget());
    dialog.setObjectName("screen_size_dialog");
    dialog.setWindowTitle("Screen Size");
    dialog.setLabelText("Fit the frames inside a screen of this size (width x height):");
    dialog.setTextValue(chosen_.none() ? "160x160" : size_text(chosen_));
    dialog.setOkButtonText("Ok");  // kept verbatim, as the Picture Control spells it
    const bool ok = dialog.exec() == QDialog::Accepted;
    const QString text = dialog.textValue();
    ScreenSize size;
    if (ok && parse_screen_size(text.toStdString(), size)) {
        choose(size);
        return;
    }
    // Cancelled, or not a size (which is said): the earlier choice stays.
    choose(chosen_);
    if (ok)
        message_boxes_.inform(parentWidget(),
                              "\"" + text + "\" is not a screen size. Type its width and height, each a whole number "
                                              "from 1 to 4095, as in 320x240.",
                              "Screen Size");
}

}  // namespace vintrel
