// The queue panel.
#include "app/queue_panel.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace vintrel {

QueuePanel::QueuePanel(QWidget* parent) : QDockWidget("Waiting to Be Converted", parent) {
    setObjectName("queue");
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    auto* body = new QWidget(this);
    list_ = new QListWidget(body);
    list_->setObjectName("queue_list");
    list_->setDragDropMode(QAbstractItemView::InternalMove);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    const auto button = [body](const char* id, const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, body);
        b->setObjectName(id);
        b->setToolTip(tip);
        return b;
    };
    QPushButton* up = button("queue_up", "Up", "Convert the selected movie earlier");
    QPushButton* down = button("queue_down", "Down", "Convert the selected movie later");
    QPushButton* remove = button("queue_remove", "Remove", "Take the selected movie out of the queue");
    QPushButton* stop = button("queue_stop", "Stop Queue", "Stop the conversion and remove every movie waiting");
    same_brightness_ = new QCheckBox("Convert these with the brightness\nchosen for the last movie", body);
    same_brightness_->setObjectName("same_brightness");
    same_brightness_->setToolTip("Their Picture Control is not shown, so the queue runs unattended");

    auto* moves = new QHBoxLayout;
    moves->addWidget(up);
    moves->addWidget(down);
    moves->addWidget(remove);
    auto* layout = new QVBoxLayout(body);
    layout->addWidget(list_, 1);
    layout->addLayout(moves);
    layout->addWidget(same_brightness_);
    layout->addWidget(stop);
    setWidget(body);

    connect(up, &QPushButton::clicked, this, [this] { move_selected(-1); });
    connect(down, &QPushButton::clicked, this, [this] { move_selected(1); });
    connect(remove, &QPushButton::clicked, this, &QueuePanel::remove_selected);
    connect(stop, &QPushButton::clicked, this, [this] {
        clear();
        emit stop_requested();
    });
    hide();
}

void QueuePanel::add(const QStringList& paths) {
    for (const QString& path : paths) {
        auto* item = new QListWidgetItem(QFileInfo(path).fileName(), list_);
        item->setData(Qt::UserRole, path);
        item->setToolTip(path);
    }
    changed();
}

bool QueuePanel::empty() const { return list_->count() == 0; }

QString QueuePanel::take_first() {
    std::unique_ptr<QListWidgetItem> item(list_->takeItem(0));
    changed();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

QStringList QueuePanel::paths() const {
    QStringList all;
    for (int i = 0; i < list_->count(); i++) all << list_->item(i)->data(Qt::UserRole).toString();
    return all;
}

void QueuePanel::clear() {
    list_->clear();
    changed();
}

bool QueuePanel::same_brightness() const { return same_brightness_->isChecked(); }

void QueuePanel::set_same_brightness(bool on) { same_brightness_->setChecked(on); }

void QueuePanel::move_selected(int by) {
    const int row = list_->currentRow(), to = row + by;
    if (row < 0 || to < 0 || to >= list_->count()) return;
    list_->insertItem(to, list_->takeItem(row));
    list_->setCurrentRow(to);
}

void QueuePanel::remove_selected() {
    delete list_->takeItem(list_->currentRow());
    changed();
}

void QueuePanel::changed() { setVisible(!empty()); }

}  // namespace vintrel
