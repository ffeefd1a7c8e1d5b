// File, Open Recent: the movies and databases opened last, newest first, kept across runs.
#pragma once

#include <QMenu>
#include <QStringList>

namespace vintrel {

class RecentFilesMenu : public QMenu {
    Q_OBJECT
public:
    static constexpr int kept = 8;

    explicit RecentFilesMenu(QWidget* parent);

    // Puts the file first (once), dropping the oldest beyond `kept`.
    void add(const QString& path);
    void clear_files();
    const QStringList& files() const { return files_; }

signals:
    void open_requested(const QString& path);

private:
    void rebuild();
    QStringList files_;
};

}  // namespace vintrel
