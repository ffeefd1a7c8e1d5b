// The queue: movies opened or dropped while another converts wait here, in order, to be converted
// one at a time. The user can move them up and down, remove them, or stop the whole queue. Above
// them the list keeps the movies of the batch already dealt with, each with what became of it, until
// the next batch starts.
#pragma once

#include <QDockWidget>
#include <QList>
#include <QStringList>

class QCheckBox;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace vintrel {

class QueuePanel : public QDockWidget {
    Q_OBJECT
public:
    explicit QueuePanel(QWidget* parent);

    // Appends the movies; the panel shows itself while the batch has more than one movie.
    void add(const QStringList& paths);
    // Whether no movie waits.
    bool empty() const;
    // The first movie waiting, now at work.
    QString take_first();
    // The movies waiting, in order.
    QStringList paths() const;
    // Removes every movie waiting.
    void clear();

    // What became of the movie at work: converted, or not (with the reason in a few words).
    void finish(bool converted, const QString& what);
    // A movie of the batch that is dealt with.
    struct Done {
        QString path;
        bool converted;
        QString what;
    };
    QList<Done> done() const;
    // The movies of this batch: dealt with, at work and waiting.
    int batch_size() const;
    // A new batch starts: the movies dealt with leave the list.
    void start_batch();

    // Whether the movies waiting are converted with the brightness chosen for the last one,
    // without showing their Picture Control.
    bool same_brightness() const;
    void set_same_brightness(bool on);

    void move_selected(int by);
    void remove_selected();

signals:
    // Stop Queue: the current conversion should stop; the waiting movies have been removed.
    void stop_requested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class State { waiting, at_work, done };
    static State state(const QListWidgetItem* item);
    int first_waiting() const;
    void changed();

    QListWidget* list_ = nullptr;
    QCheckBox* same_brightness_ = nullptr;
    QPushButton *up_ = nullptr, *down_ = nullptr, *remove_ = nullptr, *stop_ = nullptr;
};

}  // namespace vintrel
