// Every message box of the program goes through here, so tests can answer them.
#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace vintrel {

class MessageBoxes {
public:
    enum class Buttons { ok, yes_no };
    enum class Answer { ok, yes, no };
    // The icon of an OK-only box: information for good news, a warning for everything else.
    enum class Icon { warning, information };

    // What a box shows. The text and caption are the program's exact words; the detail (may be
    // empty) is a second, smaller line naming the file and the technical reason.
    struct Box {
        QWidget* owner;
        QString text;
        QString caption;
        QString detail;
        Buttons buttons;
        Icon icon = Icon::warning;
    };
    using Responder = std::function<Answer(const Box&)>;

    // An OK-only notice. Without an owner the box is modal for the whole program.
    void inform(QWidget* owner, const QString& text, const QString& caption, const QString& detail = {},
                Icon icon = Icon::warning);

    // An OK-only notice that does not wait for its answer: the program goes on while it is on screen.
    void notify(QWidget* owner, const QString& text, const QString& caption, const QString& detail = {},
                Icon icon = Icon::information);

    // A Yes/No question; true for Yes.
    bool ask_yes_no(QWidget* owner, const QString& text, const QString& caption);

    // Answers the boxes instead of showing them (tests).
    void set_responder(Responder responder) { responder_ = std::move(responder); }
    const Responder& responder() const { return responder_; }

private:
    Answer show(const Box& box);
    Responder responder_;
};

}  // namespace vintrel
