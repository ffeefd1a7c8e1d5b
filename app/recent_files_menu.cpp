// The recent files menu.
#include "app/recent_files_menu.h"

#include <QFileInfo>

#include "app/program_settings.h"

namespace vintrel {
namespace {

const QString files_key = "recent/files";

}  // namespace

RecentFilesMenu::RecentFilesMenu(QWidget* parent) : QMenu("Open &Recent", parent) {
    setObjectName("recent_menu");
    files_ = program_settings().value(files_key).toStringList().mid(0, kept);
    rebuild();
}

void RecentFilesMenu::add(const QString& path) {
    const QString file = QFileInfo(path).absoluteFilePath();
    files_.removeAll(file);
    files_.prepend(file);
    while (files_.size() > kept) files_.removeLast();
    program_settings().setValue(files_key, files_);
    rebuild();
}

void RecentFilesMenu::clear_files() {
    files_.clear();
    program_settings().setValue(files_key, files_);
    rebuild();
}

void RecentFilesMenu::rebuild() {
    clear();
    for (int i = 0; i < files_.size(); i++) {
        const QString file = files_[i];
        // "&1 walk.mov", the folder as the tip; the number is the item's key.
        QAction* action = addAction(QString("&%1 %2").arg(i + 1).arg(QFileInfo(file).fileName().replace("&", "&&")));
        action->setObjectName(QString("recent_%1").arg(i));
        action->setToolTip(file);
        action->setStatusTip(file);
        connect(action, &QAction::triggered, this, [this, file] { emit open_requested(file); });
    }
    if (!files_.isEmpty()) addSeparator();
    QAction* clear_all = addAction("&Clear Menu", this, &RecentFilesMenu::clear_files);
    clear_all->setObjectName("recent_clear");
    clear_all->setEnabled(!files_.isEmpty());
}

}  // namespace vintrel
