// The Screen Size menu: frames keep the movie's own size or are fitted inside a handheld's screen.
// The choice is kept across runs.
#pragma once

#include <span>

#include <QMenu>

#include "convert/fitted_movie.h"

class QActionGroup;

namespace vintrel {

class MessageBoxes;

class ScreenSizeMenu : public QMenu {
    Q_OBJECT
public:
    // A size typed in Fit Inside Another Size... that is not one is said in a box of `message_boxes`.
    ScreenSizeMenu(QWidget* parent, MessageBoxes& message_boxes);

    // The size chosen; none for the movie's own size.
    ScreenSize chosen() const { return chosen_; }
    // Chooses a size (none for the movie's own) and keeps it for the next run.
    void choose(ScreenSize size);

    // "160×160"; "the movie's own size" for none.
    static QString describe(ScreenSize size);
    // The handheld screens offered by name.
    static std::span<const ScreenSize> presets();
    // Asks for another size (its dialog), as "Fit Inside Another Size..." does.
    void ask_other() { ask_other_size(); }

signals:
    // Another size was chosen, here or elsewhere.
    void chosen_changed(ScreenSize size);

private:
    void ask_other_size();
    QAction* add_choice(const QString& text, ScreenSize size);

    MessageBoxes& message_boxes_;
    QActionGroup* group_ = nullptr;
    QAction* other_ = nullptr;
    ScreenSize chosen_;
};

}  // namespace vintrel
