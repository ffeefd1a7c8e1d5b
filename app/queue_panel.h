// The queue: movies opened or dropped while another converts wait here, in order, to be converted
// one at a time. The user can move them up and down, remove them, or stop the whole queue.
#pragma once

#include <QDockWidget>
#include <QStringList>

class QCheckBox;
class QListWidget;

namespace vintrel {

class QueuePanel : public QDockWidget {
    Q_OBJECT
public:
    explicit QueuePanel(QWidget* parent);

    // Appends the movies; the panel shows itself while any wait.
    void add(const QStringList& paths);
    bool empty() const;
    QString take_first();
    QStringList paths() const;
    void clear();

    // Whether the movies waiting are converted with the brightness chosen for the last one,
    // without showing their Picture Control.
    bool same_brightness() const;
    void set_same_brightness(bool on);

    void move_selected(int by);
    void remove_selected();

signals:
    // Stop Queue: the current conversion should stop; the waiting movies have been removed.
    void stop_requested();

private:
    void changed();

    QListWidget* list_ = nullptr;
    QCheckBox* same_brightness_ = nullptr;
};

}  // namespace vintrel
