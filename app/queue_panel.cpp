// The queue panel.
#include "app/queue_panel.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vintrel {
namespace {

constexpr int path_role = Qt::UserRole, state_role = Qt::UserRole + 1, converted_role = Qt::UserRole + 2,
              what_role = Qt::UserRole + 3;

}  // namespace

QueuePanel::QueuePanel(QWidget* parent) : QDockWidget("Waiting to Be Converted", parent) {
    setObjectName("queue");
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable |
                QDockWidget::DockWidgetClosable);
    auto* body = new QWidget(this);
    list_ = new QListWidget(body);
    list_->setObjectName("queue_list");
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setWordWrap(true);
    list_->installEventFilter(this);
    const auto button = [body](const char* id, const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, body);
        b->setObjectName(id);
        b->setToolTip(tip);
        return b;
    };
    up_ = button("queue_up", "&Up", "Convert the selected movie earlier");
    down_ = button("queue_down", "&Down", "Convert the selected movie later");
    remove_ = button("queue_remove", "&Remove", "Take the selected movie out of the queue (Delete)");
    stop_ = button("queue_stop", "S&top Queue", "Stop the conversion and remove every movie waiting");
    same_brightness_ = new QCheckBox("Convert these with the &brightness\nchosen for the last movie", body);
    same_brightness_->setObjectName("same_brightness");
    same_brightness_->setToolTip("Their Picture Control is not shown, so the queue runs unattended");

    auto* moves = new QHBoxLayout;
    moves->addWidget(up_);
    moves->addWidget(down_);
    moves->addWidget(remove_);
    auto* layout = new QVBoxLayout(body);
    layout->addWidget(list_, 1);
    layout->addLayout(moves);
    layout->addWidget(same_brightness_);
    layout->addWidget(stop_);
    setWidget(body);

    connect(up_, &QPushButton::clicked, this, [this] { move_selected(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { move_selected(1); });
    connect(remove_, &QPushButton::clicked, this, &QueuePanel::remove_selected);
    connect(list_, &QListWidget::currentRowChanged, this, &QueuePanel::changed);
    connect(stop_, &QPushButton::clicked, this, [this] {
        clear();
        emit stop_requested();
    });
    hide();
}

QueuePanel::State QueuePanel::state(const QListWidgetItem* item) {
    return static_cast<State>(item->data(state_role).toInt());
}

int QueuePanel::first_waiting() const {
    int row = 0;
    while (row < list_->count() && state(list_->item(row)) != State::waiting) row++;
    return row;
}

void QueuePanel::add(const QStringList& paths) {
    for (const QString& path : paths) {
        auto* item = new QListWidgetItem(QFileInfo(path).fileName(), list_);
        item->setData(path_role, path);
        item->setData(state_role, static_cast<int>(State::waiting));
        item->setToolTip(path);
    }
    changed();
}

bool QueuePanel::empty() const { return first_waiting() == list_->count(); }

QString QueuePanel::take_first() {
    const int row = first_waiting();
    QListWidgetItem* item = list_->item(row);
    if (!item) return {};
    item->setData(state_role, static_cast<int>(State::at_work));
    item->setText(QFileInfo(item->data(path_role).toString()).fileName() + " - at work");
    item->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    if (list_->currentRow() == row) list_->setCurrentRow(-1);
    changed();
    return item->data(path_role).toString();
}

QStringList QueuePanel::paths() const {
    QStringList all;
    for (int i = first_waiting(); i < list_->count(); i++) all << list_->item(i)->data(path_role).toString();
    return all;
}

void QueuePanel::clear() {
    while (list_->count() > first_waiting()) delete list_->takeItem(list_->count() - 1);
    changed();
}

void QueuePanel::finish(bool converted, const QString& what) {
    for (int i = 0; i < list_->count(); i++) {
        QListWidgetItem* item = list_->item(i);
        if (state(item) != State::at_work) continue;
        const QString path = item->data(path_role).toString();
        item->setData(state_role, static_cast<int>(State::done));
        item->setData(converted_role, converted);
        item->setData(what_role, what);
        item->setText(QFileInfo(path).fileName() + " - " + what);
        item->setToolTip(path + "\n" + what);
        item->setIcon(style()->standardIcon(converted ? QStyle::SP_DialogApplyButton : QStyle::SP_MessageBoxWarning));
    }
    changed();
}

QList<QueuePanel::Done> QueuePanel::done() const {
    QList<Done> all;
    for (int i = 0; i < list_->count(); i++) {
        const QListWidgetItem* item = list_->item(i);
        if (state(item) == State::done)
            all.append({item->data(path_role).toString(), item->data(converted_role).toBool(),
                        item->data(what_role).toString()});
    }
    return all;
}

int QueuePanel::batch_size() const { return list_->count(); }

void QueuePanel::start_batch() {
    for (int i = list_->count() - 1; i >= 0; i--)
        if (state(list_->item(i)) == State::done) delete list_->takeItem(i);
    changed();
}

bool QueuePanel::same_brightness() const { return same_brightness_->isChecked(); }

void QueuePanel::set_same_brightness(bool on) { same_brightness_->setChecked(on); }

// Only the movies waiting move, and only among themselves.
void QueuePanel::move_selected(int by) {
    const int row = list_->currentRow(), to = row + by;
    if (row < first_waiting() || to < first_waiting() || to >= list_->count()) return;
    list_->insertItem(to, list_->takeItem(row));
    list_->setCurrentRow(to);
}

void QueuePanel::remove_selected() {
    if (list_->currentRow() < first_waiting()) return;
    delete list_->takeItem(list_->currentRow());
    changed();
}

bool QueuePanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        remove_selected();
        return true;
    }
    return QDockWidget::eventFilter(watched, event);
}

void QueuePanel::changed() {
    const int row = list_->currentRow(), waiting = first_waiting();
    up_->setEnabled(row > waiting);
    down_->setEnabled(row >= waiting && row + 1 < list_->count());
    remove_->setEnabled(row >= waiting && row < list_->count());
    // Something to stop: a movie at work or waiting.
    stop_->setEnabled(list_->count() > 0 && state(list_->item(list_->count() - 1)) != State::done);
    // A lone movie needs no list; a batch keeps it, with what became of each, until the next.
    if (batch_size() > 1 && !empty()) show();
    if (batch_size() == 0) hide();
}

}  // namespace vintrel
