// Message boxes.
#include "app/message_boxes.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace vintrel {
namespace {

// The accept button of an OK-only box reads as the Picture Control's does (kept verbatim: "Ok").
void spell_ok(QMessageBox& box) {
    if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->setText("Ok");
}

}  // namespace

MessageBoxes::Answer MessageBoxes::show(const Box& box) {
    if (responder_) return responder_(box);
    const bool question = box.buttons == Buttons::yes_no;
    QMessageBox message(question ? QMessageBox::Question
                        : box.icon == Icon::information ? QMessageBox::Information
                                                        : QMessageBox::Warning,
                        box.caption, box.text,
                        question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, box.owner);
    if (!box.detail.isEmpty()) message.setInformativeText(box.detail);
    spell_ok(message);
    if (!box.owner) message.setWindowModality(Qt::ApplicationModal);
    const int result = message.exec();
    if (!question) return Answer::ok;
    return result == QMessageBox::Yes ? Answer::yes : Answer::no;
}

void MessageBoxes::inform(QWidget* owner, const QString& text, const QString& caption, const QString& detail,
                          Icon icon) {
    show({owner, text, caption, detail, Buttons::ok, icon});
}

void MessageBoxes::notify(QWidget* owner, const QString& text, const QString& caption, const QString& detail,
                          Icon icon) {
    if (responder_) {
        responder_({owner, text, caption, detail, Buttons::ok, icon});
        return;
    }
    auto* message = new QMessageBox(icon == Icon::information ? QMessageBox::Information : QMessageBox::Warning,
                                    caption, text, QMessageBox::Ok, owner);
    if (!detail.isEmpty()) message->setInformativeText(detail);
    spell_ok(*message);
    message->setAttribute(Qt::WA_DeleteOnClose);
    message->setWindowModality(Qt::NonModal);
    message->show();
}

bool MessageBoxes::ask_yes_no(QWidget* owner, const QString& text, const QString& caption) {
    return show({owner, text, caption, {}, Buttons::yes_no}) == Answer::yes;
}

}  // namespace vintrel
