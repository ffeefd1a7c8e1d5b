// The desktop program as a user drives it: the real windows on the offscreen platform, test
// movies made with ffmpeg, and every message box answered through the program's own wrapper.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include <QtTest>
#include <QtWidgets>

#include "app/about_dialog.h"
#include "app/handheld_preview.h"
#include "app/movie_window_view.h"
#include "app/pdb_player.h"
#include "app/queue_panel.h"
#include "app/recent_files_menu.h"
#include "app/screen_size_menu.h"
#include "app/picture_control.h"
#include "app/readable_size.h"
#include "app/tessel_app.h"
#include "convert/pdb/layout.h"

using namespace vintrel;

namespace {

const QString finished = "Finished: .PDB file has been created !";

// 10 pictures a second (160x120 unless said otherwise): `seconds` x 5 sampled frames.
QString make_movie(const QString& dir, const QString& name, int seconds, const QString& size = "160x120") {
    const QString path = dir + "/" + name;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=10", "-t",
                            QString::number(seconds), "-c:v", "libx264", "-pix_fmt", "yuv420p", "-y", path});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        qFatal("ffmpeg could not make %s: %s", qPrintable(path), ffmpeg.readAllStandardError().constData());
    return path;
}

QByteArray file_bytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "(missing)";
    return file.readAll();
}

void write_file(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Pictures ffmpeg decodes from a stream.
int decoded_pictures(const QString& path) {
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                              "stream=nb_read_frames", "-of", "csv=p=0", path});
    ffprobe.waitForFinished(60000);
    return ffprobe.readAllStandardOutput().trimmed().toInt();
}

// The program with its main window shown. Every message box is recorded as "caption: text" and
// answered; Stop Conversion questions take their answers in turn from `stop_answers` (Yes when
// none are left).
struct Program {
    Program() {
        app.main_window().show();
        app.message_boxes().set_responder([this](const MessageBoxes::Box& box) {
            answers.boxes.append(box.caption + ": " + box.text);
            answers.owners.append(box.owner);
            if (box.buttons == MessageBoxes::Buttons::ok) return MessageBoxes::Answer::ok;
            if (answers.stop_answers.isEmpty()) return MessageBoxes::Answer::yes;
            return answers.stop_answers.takeFirst() ? MessageBoxes::Answer::yes : MessageBoxes::Answer::no;
        });
    }
    TTesselApp app;
    struct {
        QStringList boxes;
        QList<QWidget*> owners;
        QList<bool> stop_answers;
    } answers;
};

// What a test does once the Picture Control dialog is up, and at chosen frames of the conversion
// (each action runs on the window thread, as a user's click does, while the conversion waits at
// that frame).
struct Script {
    std::function<void(PictureControl&, TMovieWindowView&)> in_dialog;
    std::map<int, std::function<void(TMovieWindowView&)>> at_frame = {};
};

// Lets the program work until every movie opened is dealt with.
void wait_until_done(TTesselApp& app) {
    QEventLoop loop;
    QObject::connect(&app, &TTesselApp::queue_done, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, [&loop] {
        QTest::qFail("the movies were not dealt with within two minutes", __FILE__, __LINE__);
        loop.quit();
    });
    if (app.working()) loop.exec();
}

// Opens the movie as File, Open... does and plays the script; returns when every movie is dealt
// with (the dialog, the conversion and any movie queued meanwhile). False when no dialog appeared.
bool open_with(TTesselApp& app, const QString& movie, Script script) {
    bool dialog_seen = false;
    QPointer<PictureControl> first;
    QTimer poll, watch;
    poll.setInterval(5);
    watch.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<PictureControl*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        poll.stop();
        dialog_seen = true;
        first = dialog;
        watch.start();
        auto& view = static_cast<TMovieWindowView&>(*dialog->parentWidget());
        // On the conversion's thread, which waits until the window thread has acted.
        QObject::connect(
            &view, &TMovieWindowView::frame_progress, &view,
            [&view, &script](int frame, int) {
                auto action = script.at_frame.find(frame);
                if (action == script.at_frame.end()) return;
                QMetaObject::invokeMethod(&view, [&view, act = action->second] { act(view); },
                                          Qt::BlockingQueuedConnection);
            },
            Qt::DirectConnection);
        if (script.in_dialog)
            script.in_dialog(*dialog, view);
        else
            QTest::keyClick(dialog, Qt::Key_Return);
        // A failed check returns from the script with the dialog still up: close it, so the test
        // fails at once instead of waiting for the dialog until the time limit.
        if (dialog->isVisible()) dialog->reject();
    });
    // Another Picture Control (a movie that should wait in the queue or convert unattended) would
    // wait for a click no test makes: it fails the test and is cancelled at once.
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<PictureControl*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || dialog == first) return;
        auto& view = static_cast<TMovieWindowView&>(*dialog->parentWidget());
        const QString movie = QString::fromStdString(view.conversion().movie_path());
        QTest::qFail(qPrintable("A second Picture Control came up, for " + movie), __FILE__, __LINE__);
        dialog->reject();
    });
    poll.start();
    app.open_movie(movie);
    wait_until_done(app);
    return dialog_seen;
}

// The widget as drawn on screen, in one pixel format for comparisons.
QImage drawn(QWidget& widget) { return widget.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The preview's frame as drawn on the screen, in device pixels.
QImage shown_preview(PictureControl& dialog) {
    auto* preview = dialog.findChild<HandheldPreview*>("117");
    const QImage all = preview->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const qreal ratio = all.devicePixelRatio();
    const QRect place = preview->frame_rect();
    return all.copy(qRound(place.x() * ratio), qRound(place.y() * ratio), qRound(place.width() * ratio),
                    qRound(place.height() * ratio));
}

// The preview one pixel a handheld pixel, when each of them is drawn as a whole square block of
// one colour; a null image otherwise.
QImage preview(PictureControl& dialog) {
    const QImage shown = shown_preview(dialog);
    const QSize frame = dialog.findChild<HandheldPreview*>("117")->frame().size();
    const int block = shown.width() / frame.width();
    if (shown.size() != frame * block) return {};
    QImage pixels(frame, QImage::Format_RGB32);
    for (int y = 0; y < shown.height(); y++)
        for (int x = 0; x < shown.width(); x++) {
            if (shown.pixel(x, y) != shown.pixel(x / block * block, y / block * block)) return {};
            pixels.setPixel(x / block, y / block, shown.pixel(x, y));
        }
    return pixels;
}

// The greys an image holds; a pixel that is not grey counts as -1.
std::set<int> greys(const QImage& image) {
    std::set<int> found;
    for (int y = 0; y < image.height(); y++)
        for (int x = 0; x < image.width(); x++) {
            const QRgb p = image.pixel(x, y);
            found.insert(qGreen(p) == qRed(p) && qBlue(p) == qRed(p) ? qRed(p) : -1);
        }
    return found;
}

bool only_the_four_greys(const QImage& image) {
    return std::ranges::includes(std::set{0, 85, 170, 255}, greys(image));
}

void click(QWidget& parent, const char* id) { parent.findChild<QPushButton*>(id)->click(); }

// Presses keys in the main window, made the active window first as a user's click makes it.
void press(TTesselApp& app, const QKeySequence& keys) {
    app.main_window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app.main_window()));
    QTest::keySequence(&app.main_window(), keys);
}

// A size from 1 KB to 1 MB as the windows show it (the tests' files are in that range), worked
// out here in kilobytes rather than with the program's helper.
QString shown_size(qint64 bytes) {
    const QString exact = QLocale(QLocale::English, QLocale::UnitedStates).toString(bytes) + " bytes";
    return bytes < 1024 ? exact : QString::number(bytes / 1024.0, 'f', 1) + " kB (" + exact + ")";
}

// Runs `act` on File, Open...'s dialog once it is up; `act` must close it.
void with_open_dialog(TTesselApp& app, const std::function<void(QFileDialog&)>& act) {
    app.open_action().trigger();
    auto* dialog = app.main_window().findChild<QFileDialog*>("open_dialog");
    QVERIFY(dialog && dialog->isVisible());
    act(*dialog);
    if (dialog->isVisible()) dialog->reject();  // a failed check left it up
}

// Takes the URLs the program asks the desktop to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    UrlRecorder() { QDesktopServices::setUrlHandler("file", this, "open"); }
    ~UrlRecorder() override { QDesktopServices::unsetUrlHandler("file"); }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

// A folder that cannot be written while this lives: read-only to an ordinary user; for root, who
// may write anywhere, a read-only file system mounted over it (its files copied in first).
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& folder) : folder_(folder) {
        if (::geteuid() != 0) {
            made_ = QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            return;
        }
        const QString copy = folder + ".files";
        made_ = QDir().rename(folder, copy) && QDir().mkpath(folder) && mount({"-t", "tmpfs", "none", folder});
        mounted_ = made_;
        for (const QString& name : QDir(copy).entryList(QDir::Files)) made_ = made_ && QFile::copy(copy + "/" + name, folder + "/" + name);
        made_ = made_ && mount({"-o", "remount,ro", folder});
    }
    ~ReadOnlyFolder() {
        if (mounted_) QProcess::execute("umount", {folder_});
        if (::geteuid() != 0) QFile::setPermissions(folder_, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    explicit operator bool() const { return made_ && !QFileInfo(folder_).isWritable(); }

private:
    static bool mount(const QStringList& arguments) { return QProcess::execute("mount", arguments) == 0; }
    QString folder_;
    bool made_ = false, mounted_ = false;
};

// Chooses `folder` in the folder dialog whenever one comes up.
struct FolderChooser {
    FolderChooser(TTesselApp& app, const QString& folder) {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&app, folder] {
            auto* dialog = app.main_window().findChild<QFileDialog*>("folder_dialog");
            if (!dialog || !dialog->isVisible()) return;
            emit dialog->fileSelected(folder);
            dialog->reject();
        });
        timer.start();
    }
    QTimer timer;
};

// The screen the windows are tried on, in device pixels: VINTREL_TEST_SCREEN ("1920x1080"), else
// 1024x768.
QSize test_screen_size() {
    const QStringList size = qEnvironmentVariable("VINTREL_TEST_SCREEN", "1024x768").split('x');
    return {size.value(0).toInt(), size.value(1).toInt()};
}

void delete_closed_windows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

}  // namespace

class GuiTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString movie_;       // 4 seconds: 20 frames
    QString long_movie_;  // 12 seconds: 60 frames
    QTimer box_watchdog_;

    QString copy_of(const QString& movie, const QString& subdir) {
        QDir().mkpath(dir_.path() + "/" + subdir);
        const QString copy = dir_.path() + "/" + subdir + "/" + QFileInfo(movie).fileName();
        QFile::copy(movie, copy);
        return copy;
    }
    static QString output(const QString& movie, const char* extension) {
        return movie.left(movie.size() - 3) + extension;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        if (const QByteArray keep = qgetenv("VINTREL_KEEP_TEST_FILES"); !keep.isEmpty() && keep != "0") {
            dir_.setAutoRemove(false);
            qInfo("Test files kept in %s", qPrintable(dir_.path()));
        }
        // The statistics report lands in the current directory.
        QVERIFY(QDir::setCurrent(dir_.path()));
        // File, Open... remembers its folder here, never in the user's own settings.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path() + "/settings");
        // A box the program shows without its wrapper would wait for a click no test makes: it
        // fails the test and is closed at once.
        box_watchdog_.callOnTimeout([] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(window);
                if (!box || !box->isVisible()) continue;
                const QString shown = box->windowTitle() + ": " + box->text();
                QTest::qFail(qPrintable("A box shown without MessageBoxes: " + shown), __FILE__, __LINE__);
                box->reject();
            }
        });
        box_watchdog_.start(20);
        movie_ = make_movie(dir_.path(), "walk.mov", 4);
        long_movie_ = make_movie(dir_.path(), "long walk.mov", 12);
    }

    void menusAndOpenDialogFilters() {
        Program program;
        auto& [app, answers] = program;
        QCOMPARE(app.main_window().windowTitle(), QString("Vintrel"));
        QVERIFY(!app.main_window().windowIcon().isNull());
        QStringList texts;
        for (QAction* menu : app.main_window().menuBar()->actions()) texts << menu->text();
        for (QAction* item : {&app.open_action(), &app.close_action(), &app.exit_action(), &app.about_action()})
            texts << item->text();
        QCOMPARE(texts, QStringList({"&File", "&Screen Size", "&Window", "&About", "&Open...", "&Close",
                                     "E&xit\tAlt+F4", "&About..."}));
        // Ctrl+Q comes beside Alt+F4, which the text names. (The other keys are pressed where they act.)
        QCOMPARE(app.exit_action().shortcuts(), QList<QKeySequence>({QKeySequence("Alt+F4"), QKeySequence("Ctrl+Q")}));

        // Every movie type the movie layer reads is offered, and chosen at first; the folder and
        // the filter of a choice are kept for the next run.
        const QStringList movie_filters = {
            "QuickTime Movie Files (*.mov)", "AVI Movie Files (*.avi)",
            "Movie Files (*.mov *.qt *.avi *.mp4 *.m4v *.mkv *.webm *.mpg *.mpeg *.vob *.ts *.m2ts *.mts *.dv *.flv "
            "*.wmv *.asf *.3gp *.ogv *.gif)",
            "Handheld Databases (*.pdb)", "All Files (*)"};
        const QString notes = dir_.path() + "/chosen/notes.avi";
        write_file(notes, {});
        QStringList filters;
        QString first_filter;
        with_open_dialog(app, [&](QFileDialog& dialog) {
            filters = dialog.nameFilters();
            first_filter = dialog.selectedNameFilter();
            dialog.selectNameFilter(filters.value(1));
            dialog.selectFile(notes);
            static_cast<QDialog&>(dialog).accept();
        });
        QCOMPARE(filters, movie_filters);
        QCOMPARE(first_filter, movie_filters[2]);
        // A file that holds no movie, or no file at all, says so in a box of its own and leaves
        // neither window nor file. (The chosen file opens once the dialog has gone.)
        QTRY_COMPARE(answers.boxes.size(), 1);
        app.open_movie(dir_.path() + "/no such movie.mov");
        QCOMPARE(answers.boxes, QStringList({"QuickTime Error: The movie file could not be opened. It may be in use or "
                                             "in an invalid format.", "QT DLL: OpenMovieFile failure"}));
        QCOMPARE(answers.owners, QList<QWidget*>({nullptr, nullptr}));
        delete_closed_windows();
        QVERIFY(app.mdi_area().subWindowList().isEmpty());
        QVERIFY(!QFile::exists(dir_.path() + "/chosen/notes.pdb"));

        TTesselApp next_run;
        QString folder, filter;
        with_open_dialog(next_run, [&](QFileDialog& dialog) {
            folder = dialog.directory().absolutePath();
            filter = dialog.selectedNameFilter();
            dialog.reject();
        });
        QCOMPARE(folder, QFileInfo(notes).absolutePath());
        QCOMPARE(filter, movie_filters[1]);
        QVERIFY(QSettings("Vintrel", "Vintrel").fileName().startsWith(dir_.path()));
    }

    void dialogPreviewsAndCancelKeepsEveryFile() {
        const QString movie = copy_of(movie_, "cancel");
        // An earlier conversion's files: looking at the movie again must not cost them.
        const QByteArray earlier_pdb("an earlier database\0\1", 21), earlier_mpg("an earlier stream");
        write_file(output(movie, "pdb"), earlier_pdb);
        write_file(output(movie, "mpg"), earlier_mpg);
        Program program;
        auto& [app, answers] = program;
        Script script{.in_dialog = [&](PictureControl& dialog, TMovieWindowView& view) {
            QCOMPARE(dialog.windowTitle(), QString("Picture Control"));
            QCOMPARE(view.parentWidget()->windowTitle(), QString("walk.mov"));
            QVERIFY(!view.parentWidget()->windowIcon().isNull());
            QStringList texts;
            for (const char* id : {"1", "2", "105", "106", "107", "108"})
                texts << dialog.findChild<QWidget*>(id)->property("text").toString();
            QCOMPARE(texts << view.cancel_button().text(),
                     QStringList({"&Ok", "&Cancel", ">>", "<<", "Darker", "Lighter", "&Cancel"}));
            // Nothing to stop yet.
            QVERIFY(!view.cancel_button().isVisible());
            // "Lighter" is at the slider's left end, "Darker" at its right, on one line below it.
            const QRect lighter = dialog.findChild<QLabel*>("108")->geometry(),
                        darker = dialog.findChild<QLabel*>("107")->geometry(),
                        slider_place = dialog.findChild<QSlider*>("101")->geometry();
            QVERIFY(lighter.right() < darker.left() && lighter.top() == darker.top() &&
                    lighter.top() >= slider_place.bottom());
            QCOMPARE(lighter.left(), slider_place.left());
            QCOMPARE(darker.right(), slider_place.right());
            QVERIFY2(app.status_text().startsWith("walk.mov: choose the brightness"), qPrintable(app.status_text()));

            auto* slider = dialog.findChild<QSlider*>("101");
            // From "Lighter" to "Darker", starting in the middle.
            const QList<int> range = {slider->minimum(), slider->maximum(), slider->tickInterval(), slider->value()};
            QCOMPARE(range, QList<int>({0, 510, 255, 255}));
            // A small frame starts as large as it fits, three screen pixels a handheld pixel.
            QCOMPARE(dialog.findChild<HandheldPreview*>("117")->zoom(), 3);
            const QImage first = preview(dialog);
            QCOMPARE(first.size(), QSize(160, 120));
            QVERIFY(only_the_four_greys(first));
            slider->setValue(0);
            QCOMPARE(greys(preview(dialog)), std::set<int>{255});
            slider->setValue(510);
            QCOMPARE(greys(preview(dialog)), std::set<int>{0});
            slider->setValue(255);
            QCOMPARE(preview(dialog), first);

            // The frame buttons stop at the first frame and at the last.
            const auto* frame_time = dialog.findChild<QLabel*>("frame_time");
            click(dialog, "106");
            QVERIFY2(frame_time->text().startsWith("frame 1 of 20,"), qPrintable(frame_time->text()));
            for (int k = 0; k < 25; k++) click(dialog, "105");
            QVERIFY2(frame_time->text().startsWith("frame 20 of 20, 00:03.8\n"), qPrintable(frame_time->text()));
            click(dialog, "106");
            QVERIFY2(frame_time->text().startsWith("frame 19 of 20,"), qPrintable(frame_time->text()));

            // Tab goes from the brightness to Ok and Cancel, then through the rest as laid out,
            // the preview last.
            QTRY_VERIFY(dialog.sampled());
            slider->setFocus();
            QStringList tab_chain;
            for (QWidget* focus = dialog.focusWidget(); focus && tab_chain.size() < 17; focus = dialog.focusWidget()) {
                tab_chain << focus->objectName();
                QTest::keyClick(focus, Qt::Key_Tab);
            }
            QCOMPARE(tab_chain, QStringList({"101", "brightness_reset", "brightness_auto", "1", "2", "106", "position",
                                             "105", "part_start", "set_start", "part_end", "set_end", "part_whole",
                                             "screen_size_choice", "zoom", "preview_area", "101"}));

            // A brightness chosen in a cancelled dialog is not the next movie's.
            slider->setValue(400);
            QTest::keyClick(&dialog, Qt::Key_Escape);
        }};
        QVERIFY(open_with(app, movie, script));
        QVERIFY(answers.boxes.isEmpty());
        QCOMPARE(file_bytes(output(movie, "pdb")), earlier_pdb);
        QCOMPARE(file_bytes(output(movie, "mpg")), earlier_mpg);
        // The window of a movie that was not converted closes itself; the status bar says so.
        delete_closed_windows();
        QVERIFY(app.views().isEmpty());
        QCOMPARE(app.status_text(),
                 QString("walk.mov: not converted; its files were left as they were. Open a movie with File, Open..."));

        Script next{.in_dialog = [](PictureControl& dialog, TMovieWindowView&) {
            QCOMPARE(dialog.findChild<QSlider*>("101")->value(), 255);
            click(dialog, "2");
        }};
        QVERIFY(open_with(app, copy_of(movie_, "cancel again"), next));
    }

    void dialogAndWindowFitTheScreen_data() {
        QTest::addColumn<QSize>("size");
        // The zoom a frame of this size starts with on 1024x768, and on 1920x1080 at 200 %; 0: fitted.
        QTest::addColumn<int>("zoom");
        QTest::addColumn<int>("laptop_zoom");
        QTest::newRow("16x16") << QSize(16, 16) << 3 << 3;
        QTest::newRow("640x360") << QSize(640, 360) << 1 << 0;
        QTest::newRow("640x480") << QSize(640, 480) << 0 << 0;
        QTest::newRow("1280x720") << QSize(1280, 720) << 0 << 0;
    }

    // On the smallest screen the program is made for (1024x768), and on 1920x1080 at scale 2
    // (VINTREL_TEST_SCREEN and QT_SCALE_FACTOR), the main window with its status bar and every
    // control of the dialog stay on the screen; the preview shows each handheld pixel as a block of
    // whole device pixels in the four greys, a frame too large for the dialog fitted into it
    // without scroll bars; the movie's window is as large as its frames as far as the MDI area has room.
    void dialogAndWindowFitTheScreen() {
        QFETCH(QSize, size);
        QFETCH(int, zoom);
        QFETCH(int, laptop_zoom);
        if (test_screen_size() != QSize(1024, 768)) zoom = laptop_zoom;
        const QString name = QString("%1x%2").arg(size.width()).arg(size.height());
        const QString movie = make_movie(dir_.path(), name + ".mp4", 1, name);
        Program program;
        auto& [app, answers] = program;
        Script script{.in_dialog = [&](PictureControl& dialog, TMovieWindowView& view) {
            const QRect screen = dialog.screen()->availableGeometry();
            QCOMPARE(screen.size() * dialog.screen()->devicePixelRatio(), test_screen_size());
            QVERIFY(screen.contains(dialog.frameGeometry()));
            QVERIFY(screen.contains(app.main_window().frameGeometry()));
            QStatusBar* status = app.main_window().statusBar();
            QVERIFY(screen.contains(QRect(status->mapToGlobal(QPoint(0, 0)), status->size())));
            for (const char* id : {"1", "2", "105", "106", "101", "107", "108", "preview_area", "position", "part_start",
                                   "part_end", "brightness_auto", "estimate", "zoom", "screen_size_choice"}) {
                auto* control = dialog.findChild<QWidget*>(id);
                QVERIFY2(control->isVisible() && dialog.rect().contains(control->geometry().translated(
                                                     control->parentWidget()->mapTo(&dialog, QPoint(0, 0)))), id);
            }
            auto* shown = dialog.findChild<HandheldPreview*>("117");
            QCOMPARE(shown->frame().size(), size);
            QCOMPARE(shown->zoom(), zoom);
            QVERIFY(only_the_four_greys(shown_preview(dialog)));
            auto* preview_area = dialog.findChild<QScrollArea*>("preview_area");
            // Shown whole, without scroll bars.
            QCOMPARE(preview_area->horizontalScrollBar()->maximum(), 0);
            QCOMPARE(preview_area->verticalScrollBar()->maximum(), 0);
            QVERIFY(preview_area->viewport()->rect().contains(shown->frame_rect()));
            if (zoom > 0) QCOMPARE(preview(dialog).size(), size);
            // One screen pixel a handheld pixel: whole blocks of device pixels, scrolled when too large.
            auto* zooms = dialog.findChild<QComboBox*>("zoom");
            zooms->setCurrentIndex(1);
            emit zooms->activated(1);
            QCoreApplication::sendPostedEvents();
            QCOMPARE(preview(dialog).size(), size);
            QVERIFY(only_the_four_greys(shown_preview(dialog)));
            QCOMPARE(preview_area->horizontalScrollBar()->maximum() > 0,
                     size.width() > preview_area->viewport()->width());
            const QRect child = view.parentWidget()->geometry(), area = app.mdi_area().viewport()->rect();
            QVERIFY(area.contains(child));
            QCOMPARE(child.size(), view.parentWidget()->sizeHint().boundedTo(area.size()));
            QTest::keyClick(&dialog, Qt::Key_Escape);
        }};
        QVERIFY(open_with(app, movie, script));
    }

    void okConvertsLikeTheCommandLine() {
        const QString movie = copy_of(movie_, "gui");
        const QString reference = copy_of(movie_, "cli");
        Program program;
        auto& [app, answers] = program;
        QImage last_preview, during_conversion;
        QStringList progress;
        Script script{.in_dialog = [&](PictureControl& dialog, TMovieWindowView&) {
            dialog.findChild<QSlider*>("101")->setValue(255 - 40);
            for (int k = 0; k < 19; k++) click(dialog, "105");
            last_preview = preview(dialog);
            QTest::keyClick(&dialog, Qt::Key_Return);
        }};
        script.at_frame[3] = [&](TMovieWindowView& view) {
            progress << app.status_text() << app.main_window().windowTitle()
                     << app.main_window().findChild<QProgressBar*>("progress")->text();
            during_conversion = drawn(view);
        };
        QVERIFY(open_with(app, movie, script));
        QCOMPARE(answers.boxes, QStringList({finished}));
        QCOMPARE(answers.owners.value(0), static_cast<QWidget*>(app.views().value(0)));

        // Progress: the status bar names the frame being converted, and shows the share done,
        // which the main window's title shows too.
        QCOMPARE(progress, QStringList({"walk.mov: converting frame 4 of 20", "15% - Vintrel", "15%"}));
        QCOMPARE(app.main_window().windowTitle(), QString("Vintrel"));
        // The frame as received at (0, 0) and dithered at (210, 0), drawn while converting and
        // still there after a repaint; the dithered last frame is the one the preview showed.
        QVERIFY(!only_the_four_greys(during_conversion.copy(0, 0, 160, 120)));
        QVERIFY(only_the_four_greys(during_conversion.copy(210, 0, 160, 120)));
        QCoreApplication::sendPostedEvents();  // the window's layout settles
        QCOMPARE(last_preview.size(), QSize(160, 120));
        QCOMPARE(drawn(*app.views().value(0)).copy(210, 0, 160, 120), last_preview);

        const QString command = QString("cd '%1' && '%2' --brightness 40 '%3' >/dev/null 2>&1")
                                    .arg(QFileInfo(reference).path(), VINTREL_CONVERT_PATH, reference);
        QCOMPARE(std::system(command.toLocal8Bit().constData()), 0);
        const QByteArray pdb = file_bytes(output(movie, "pdb"));
        QVERIFY(pdb.size() > static_cast<qsizetype>(pdb::database_header_size));
        QCOMPARE(pdb, file_bytes(output(reference, "pdb")));
        QVERIFY(file_bytes(output(movie, "mpg")) == file_bytes(output(reference, "mpg")));

        // Converted again, the movie's earlier window goes: its outcome no longer holds.
        QVERIFY(open_with(app, movie, {}));
        delete_closed_windows();
        QCOMPARE(app.views().size(), 1);
    }

    void endings_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("says");
        const QString stopped =
            "The conversion was stopped. long walk.mpg holds the frames coded so far; long walk.pdb was left empty.";
        QTest::newRow("finished") << "finish" << "Finished" << "long walk.mov was converted into these two files:";
        // The test movies' MP4 cut where its 25th frame would start.
        QTest::newRow("cut short") << "cut" << "Finished, not the whole movie"
                                   << "long walk.mov was converted into these two files:\nlong walk.mov: the pictures "
                                      "stop at 2.4 s of the 4.0 s its header gives; the rest could not be read.";
        QTest::newRow("cancel button") << "cancel" << "Stopped" << stopped;
        QTest::newRow("closing the window") << "close" << "Stopped" << "";
        QTest::newRow("exit") << "exit" << "Stopped" << "";
        QTest::newRow("disk full") << "fail" << "Failed"
                                   << "long walk.mov was not converted.\nCouldn't write output file %mpg (File too "
                                      "large). The conversion was stopped; %pdb was left empty.";
    }

    // However a conversion ends, its window says so, names both files with their sizes and shows
    // their folder. Stopped, it leaves the .pdb empty and the .mpg with the frames coded so far:
    // the Cancel button asks first (No lets it go on); closing the movie's window or Exit asks the
    // same, and Yes stops the conversion, after which the window closes, or the program ends.
    void endings() {
        QFETCH(QString, how);
        QFETCH(QString, state);
        QFETCH(QString, says);
        const QString movie = copy_of(long_movie_, "ending " + how);
        if (how == "cut") {
            QFile::remove(movie);
            QFile::copy(VINTREL_TEST_MOVIES "/formats/cut_short.mp4", movie);
        }
        const QString pdb = output(movie, "pdb"), mpg = output(movie, "mpg");
        says.replace("%mpg", mpg).replace("%pdb", pdb);
        Program program;
        auto& [app, answers] = program;
        if (how == "cancel") answers.stop_answers = {false, true};
        bool closed = true, shown_after_exit = false;
        Script script;
        script.at_frame[2] = [&](TMovieWindowView& view) {
            if (how == "cancel") view.cancel_button().click();
        };
        script.at_frame[5] = [&](TMovieWindowView& view) {
            if (how == "cancel") view.cancel_button().click();
            // File, Close (Ctrl+W) closes the active window as its close button does; Exit (Ctrl+Q).
            if (how == "close") {
                press(app, QKeySequence("Ctrl+W"));
                closed = !view.parentWidget()->isVisible();
            }
            if (how == "exit") {
                press(app, QKeySequence("Ctrl+Q"));
                shown_after_exit = app.main_window().isVisible();
            }
        };
        // A stream that cannot grow beyond a few kilobytes fails the conversion.
        rlimit unlimited{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        if (how == "fail") {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = unlimited;
            small.rlim_cur = 8192;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        QVERIFY(open_with(app, movie, script));
        setrlimit(RLIMIT_FSIZE, &unlimited);

        const QString question = "Stop Conversion: Are you sure you want to stop this conversion?";
        if (how == "cancel") QCOMPARE(answers.boxes, QStringList({question, question}));
        if (state == "Stopped") {
            QCOMPARE(file_bytes(pdb), QByteArray());
            const int pictures = decoded_pictures(mpg);
            QVERIFY2(pictures >= 5 && pictures <= 7, qPrintable(QString::number(pictures)));
        }
        if (how == "close" || how == "exit") {
            QCOMPARE(answers.boxes, QStringList({question}));
            QVERIFY(!closed || shown_after_exit);  // refused while converting
            QTRY_VERIFY(app.views().isEmpty());
            QCOMPARE(app.main_window().isVisible(), how == "close");
            return;
        }
        QPointer<TMovieWindowView> view = app.views().value(0);
        QVERIFY(view);
        QCOMPARE(view->findChild<QLabel*>("outcome_state")->text(), state);
        const auto line = [](const QString& file) { return file + "  (" + shown_size(QFileInfo(file).size()) + ")"; };
        // The sizes beyond the tests' files, worked out by hand.
        for (const auto& [bytes, shown] : {std::pair<qint64, const char*>{1023, "1,023 bytes"},
                                           {1024, "1.0 kB (1,024 bytes)"}, {5345855, "5.1 MB (5,345,855 bytes)"}})
            QCOMPARE(readable_size(bytes), QString(shown));
        auto* text = view->findChild<QLabel*>("outcome_text");
        // The encoder's warnings close the text: a line for each kind, however often it came.
        const QString shown = text->text();
        const qsizetype warned = shown.indexOf("\nWarning: ");
        QCOMPARE(shown.left(warned), says + "\n" + line(pdb) + "\n" + line(mpg));
        if (how == "finish") {
            const auto counted = QRegularExpression("^\nWarning: vbv_delay overflow \\((\\d+) pictures\\)$").match(shown.mid(warned));
            QVERIFY2(counted.hasMatch() && counted.captured(1).toInt() <= 60, qPrintable(shown.mid(warned)));
        }
        QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(view->findChild<QWidget*>("outcome")->isVisible());
        QCOMPARE(view->parentWidget()->windowTitle(), "long walk.mov - " + state);
        QVERIFY2(app.status_text().startsWith("long walk.mov: "), qPrintable(app.status_text()));
        QVERIFY(!app.status_text().contains("converting"));
        // Once the conversion is over there is nothing to stop: the button is gone and asks nothing.
        const auto boxes = answers.boxes.size();
        QVERIFY(!view->cancel_button().isVisible());
        view->cancel_button().click();
        QCOMPARE(answers.boxes.size(), boxes);

        {
            UrlRecorder desktop;
            click(*view, "show_folder");
            QCOMPARE(desktop.urls, QList<QUrl>({QUrl::fromLocalFile(QFileInfo(movie).absolutePath())}));
        }
        // With nothing to open the folder (so it is on the offscreen platform once no handler takes
        // file URLs) a box says so.
        if (QGuiApplication::platformName() == "offscreen") {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("does not support .*open"));
            click(*view, "show_folder");
            QCOMPARE(answers.boxes.mid(boxes), QStringList({"Vintrel: No file manager could be opened to show the folder " +
                                                            QFileInfo(movie).absolutePath() + "."}));
        }
        click(*view, "close_window");
        delete_closed_windows();
        QVERIFY(!view);
    }

    // Movies dropped or opened while one converts wait in the queue, in an order the user can
    // change; with "same brightness" ticked they convert one after the other without their
    // Picture Control, and no notice waits for a click: the list says what became of each, and
    // one box sums the batch up. Stop Queue stops the conversion and drops the movies waiting.
    void moviesOpenedWhileConvertingWaitInTheQueue() {
        const QString first = copy_of(movie_, "queue a"), dropped = copy_of(movie_, "queue b"),
                      removed = copy_of(movie_, "queue c"), opened = copy_of(movie_, "queue d"),
                      chosen = copy_of(movie_, "queue e");
        Program program;
        auto& [app, answers] = program;
        QStringList waiting_after_drop, waiting_after_changes;
        bool queue_shown = false, open_returned = false, open_dialog_shown = false;
        Script script{.in_dialog = [](PictureControl& dialog, TMovieWindowView&) {
            dialog.findChild<QSlider*>("101")->setValue(255 - 40);
            QTest::keyClick(&dialog, Qt::Key_Return);
        }};
        script.at_frame[2] = [&](TMovieWindowView&) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(dropped), QUrl::fromLocalFile(removed)});
            QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&app.main_window(), &enter);
            QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            if (enter.isAccepted()) QApplication::sendEvent(&app.main_window(), &drop);
            QCoreApplication::sendPostedEvents();
            app.open_movie(opened);
            waiting_after_drop = app.queue().paths();
            // Below the movie at work.
            auto* list = app.queue().findChild<QListWidget*>("queue_list");
            list->setCurrentRow(3);
            click(app.queue(), "queue_up");
            list->setCurrentRow(3);
            QTest::keyClick(list, Qt::Key_Delete);
            app.queue().findChild<QCheckBox*>("same_brightness")->setChecked(true);
            waiting_after_changes = app.queue().paths();
            queue_shown = app.queue().isVisible();
            // File, Open... (Ctrl+O) while converting: its dialog has a window, not an event loop, of its own.
            press(app, QKeySequence("Ctrl+O"));
            const auto* open_dialog = app.main_window().findChild<QFileDialog*>("open_dialog");
            open_returned = open_dialog && open_dialog->isVisible();
        };
        script.at_frame[6] = [&](TMovieWindowView&) {
            auto* dialog = app.main_window().findChild<QFileDialog*>("open_dialog");
            open_dialog_shown = dialog && dialog->isVisible();
            if (!dialog) return;
            // As the dialog reports a choice; it then closes.
            emit dialog->filesSelected({chosen});
            dialog->reject();
        };
        QVERIFY(open_with(app, first, script));
        QCOMPARE(waiting_after_drop, QStringList({dropped, removed, opened}));
        QCOMPARE(waiting_after_changes, QStringList({dropped, opened}));
        QVERIFY(queue_shown);
        QVERIFY(open_returned);
        QVERIFY(open_dialog_shown);
        QCOMPARE(answers.boxes, QStringList({"Vintrel: Converted 4 of 4 movies."}));
        QStringList converted;
        for (TMovieWindowView* view : app.views()) converted << QString::fromStdString(view->conversion().movie_path());
        QCOMPARE(converted, QStringList({first, dropped, opened, chosen}));
        // All with the first movie's brightness: the same movie gives the same database.
        for (const QString& movie : {dropped, opened, chosen})
            QCOMPARE(file_bytes(output(movie, "pdb")), file_bytes(output(first, "pdb")));
        QStringList listed;
        for (const QListWidgetItem* item : app.queue().findChildren<QListWidget*>("queue_list")[0]->findItems("*", Qt::MatchWildcard))
            listed << item->text();
        QCOMPARE(listed, QStringList(4, "walk.mov - converted"));
        // The Window menu tiles the four windows inside the area, lists them, and closes the finished ones.
        QMenu* windows = app.main_window().findChild<QMenu*>("window_menu");
        emit windows->aboutToShow();
        windows->findChild<QAction*>("window_tile")->trigger();
        const QRect area = app.mdi_area().viewport()->rect();
        for (QMdiSubWindow* child : app.mdi_area().subWindowList())
            QVERIFY(area.contains(child->geometry()));
        QCOMPARE(windows->actions().size(), 6 + 4);  // two arrangements, two closings, two separators
        windows->findChild<QAction*>("window_close_finished")->trigger();
        delete_closed_windows();
        QVERIFY(app.views().isEmpty());

        // Opened together, with "Use these settings for every movie waiting" (Alt+U) ticked in the
        // first Picture Control: the others convert unattended, with its brightness.
        Program together;
        const QString waiting = copy_of(movie_, "together a"), shown = copy_of(movie_, "together b"),
                      broken = dir_.path() + "/together c.mov";
        QFile notes(broken);
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("Shopping list: milk, eggs.\n") > 0);
        notes.close();
        together.app.queue().add({broken, shown});
        Script tick{.in_dialog = [](PictureControl& dialog, TMovieWindowView&) {
            auto* use_for_all = dialog.findChild<QCheckBox*>("use_for_all");
            QVERIFY(use_for_all->isVisible() && use_for_all->text().startsWith("&Use"));
            use_for_all->click();
            dialog.findChild<QSlider*>("101")->setValue(255 - 40);
            QTest::keyClick(&dialog, Qt::Key_Return);
        }};
        QVERIFY(open_with(together.app, waiting, tick));
        for (const QString& movie : {shown, waiting})
            QCOMPARE(file_bytes(output(movie, "pdb")), file_bytes(output(first, "pdb")));
        QCOMPARE(together.answers.boxes,
                 QStringList({"Vintrel: Converted 2 of 3 movies.\n\nNot converted:\ntogether c.mov: not converted: The "
                              "movie file could not be opened. It may be in use or in an invalid format. (not a movie "
                              "the library can read: Invalid data found when processing input)"}));

        Program stopping;
        Script stop;
        stop.at_frame[2] = [&](TMovieWindowView&) {
            stopping.app.open_movie(removed);
            click(stopping.app.queue(), "queue_stop");
        };
        const QString stopped = copy_of(long_movie_, "queue stop");
        QVERIFY(open_with(stopping.app, stopped, stop));
        QCOMPARE(file_bytes(output(stopped, "pdb")), QByteArray());
        QVERIFY(!QFile::exists(output(removed, "pdb")));
        QVERIFY(stopping.answers.boxes.isEmpty());
    }

    // A screen size chosen in the menu fits the preview and the records, and is kept for the next
    // run, with the files opened last and the main window's size and place.
    void screenSizeRecentFilesAndWindowAreRemembered() {
        QDir().mkpath(dir_.path() + "/remembered");
        const QString movie = make_movie(dir_.path() + "/remembered", "wide.mp4", 1, "320x240");
        QString label;
        QSize preview_size;
        {
            Program program;
            auto& [app, answers] = program;
            app.main_window().findChild<QAction*>("recent_clear")->trigger();  // what earlier tests opened
            // Chosen in the dialog, which changes the menu's choice too.
            Script script{.in_dialog = [&](PictureControl& dialog, TMovieWindowView&) {
                auto* screens = dialog.findChild<QComboBox*>("screen_size_choice");
                const int fitted = screens->findText(QString::fromUtf8("Fit inside 160×160"));
                screens->setCurrentIndex(fitted);
                emit screens->activated(fitted);
                QVERIFY(app.main_window().findChild<QAction*>("size_160x160")->isChecked());
                preview_size = preview(dialog).size();
                label = dialog.findChild<QLabel*>("frame_time")->text();
                QTest::keyClick(&dialog, Qt::Key_Return);
            }};
            QVERIFY(open_with(app, movie, script));
            app.open_files({output(movie, "pdb")});
            app.main_window().setGeometry(30, 40, 700, 500);
            QVERIFY(app.main_window().close());
        }
        QCOMPARE(preview_size, QSize(160, 120));
        QCOMPARE(label, QString::fromUtf8("frame 1 of 5, 00:00.0\n160×120 pixels\nfitted inside 160×160"));
        // The first record's header holds its width and height.
        const QByteArray pdb = file_bytes(output(movie, "pdb"));
        const char* const first_entry = pdb.constData() + pdb::database_header_size;
        const char* const first = pdb.constData() + qFromBigEndian<quint32>(first_entry + pdb::entry_offset_at);
        QCOMPARE(qFromBigEndian<quint32>(first + pdb::record_width_at), 160u);
        QCOMPARE(qFromBigEndian<quint32>(first + pdb::record_height_at), 120u);

        Program next_run;
        auto& [app, answers] = next_run;
        QCOMPARE(app.screen_size_menu().chosen(), (ScreenSize{160, 160}));
        QVERIFY(app.main_window().findChild<QAction*>("size_160x160")->isChecked());
        QCOMPARE(app.recent_files().files(), QStringList({output(movie, "pdb"), movie}));
        QCOMPARE(app.main_window().size(), QSize(700, 500));
        app.main_window().findChild<QAction*>("recent_0")->trigger();
        QCOMPARE(app.players().size(), 1);
        // Fit Inside Another Size... reads " 320 × 240 " as 320x240; a text that is no size is said in a
        // box, and the earlier choice stays.
        const auto type_size = [&app](const QString& text) {
            QTimer::singleShot(0, &app, [&app, text] {
                auto* dialog = app.main_window().findChild<QInputDialog*>("screen_size_dialog");
                dialog->setTextValue(text);
                dialog->accept();
            });
            app.main_window().findChild<QAction*>("size_other")->trigger();
        };
        type_size("abc");
        QCOMPARE(answers.boxes, QStringList({"Screen Size: \"abc\" is not a screen size. Type its width and height, "
                                             "each a whole number from 1 to 4095, as in 320x240."}));
        QCOMPARE(app.screen_size_menu().chosen(), (ScreenSize{160, 160}));
        type_size(QString::fromUtf8(" 320 × 240 "));
        QCOMPARE(app.screen_size_menu().chosen(), (ScreenSize{320, 240}));
        app.main_window().findChild<QAction*>("size_natural")->trigger();
        QCOMPARE(TTesselApp().screen_size_menu().chosen(), ScreenSize());
    }

    // A movie whose database cannot be created is not converted, says why and leaves no window. One
    // whose stream or statistics file cannot be created fails: an MPEG Error box, and its window
    // shows Failed with the reason; the program goes on, and the next movie converts.
    void uncreatableOutputs() {
        const QString movie = copy_of(movie_, "no database");
        QVERIFY(QDir().mkpath(output(movie, "pdb")));
        Program program;
        auto& [app, answers] = program;
        QVERIFY(!open_with(app, movie, {}));
        QCOMPARE(answers.boxes, QStringList({"Vintrel: Couldn't create output file " + output(movie, "pdb") +
                                             " (Is a directory)"}));
        delete_closed_windows();
        QVERIFY(app.mdi_area().subWindowList().isEmpty());
        QVERIFY(!QFile::exists(output(movie, "mpg")));

        // A folder holds the stream's name, or that of the statistics file in the current folder.
        const QString blocked = copy_of(movie_, "blocked"), unreported = copy_of(movie_, "unreported");
        QVERIFY(QDir().mkpath(output(blocked, "mpg")));
        const auto fails_with = [&](const QString& failing, const QString& error, const QString& stream) {
            answers.boxes.clear();
            QVERIFY(open_with(app, failing, {}));
            QCOMPARE(answers.boxes, QStringList({"MPEG Error: " + error}));
            TMovieWindowView* view = app.views().value(app.views().size() - 1);
            QCOMPARE(view->findChild<QLabel*>("outcome_state")->text(), QString("Failed"));
            QCOMPARE(view->findChild<QLabel*>("outcome_text")->text(),
                     QFileInfo(failing).fileName() + " was not converted.\n" + error + "\n" + output(failing, "pdb") +
                         "  (0 bytes)\n" + output(failing, "mpg") + "  (" + stream + ")");
            QCOMPARE(file_bytes(output(failing, "pdb")), QByteArray());
        };
        fails_with(blocked, "Couldn't create output file " + output(blocked, "mpg"), "a folder");
        QFile::remove("stat.out");
        QVERIFY(QDir().mkpath("stat.out"));
        fails_with(unreported, "Couldn't create statistics output file stat.out", "0 bytes");
        QVERIFY(QDir().rmdir("stat.out"));

        const QString good = copy_of(movie_, "after the failures");
        QVERIFY(open_with(app, good, {}));
        QCOMPARE(app.views().value(app.views().size() - 1)->findChild<QLabel*>("outcome_state")->text(),
                 QString("Finished"));
        QCOMPARE(app.views().size(), 3);  // the failed movies' windows stay open beside it
    }

    // The outputs go into the folder chosen in File, Output Folder, remembered for the next run. A
    // movie whose own folder cannot be written offers to choose another, taken for the rest of the run.
    void outputFolders() {
        const QString locked = dir_.path() + "/card", out = dir_.path() + "/out", chosen = dir_.path() + "/chosen";
        for (const QString& folder : {locked, out, chosen}) QVERIFY(QDir().mkpath(folder));
        for (const char* name : {"/a.mov", "/b.mov"}) QVERIFY(QFile::copy(movie_, locked + name));
        const ReadOnlyFolder card(locked);
        if (!card) QSKIP("no read-only folder can be made here");
        {
            Program program;
            auto& [app, answers] = program;
            FolderChooser choose(app, out);
            QVERIFY(open_with(app, locked + "/a.mov", {}));
            QVERIFY(open_with(app, locked + "/b.mov", {}));
            QCOMPARE(answers.boxes, QStringList({"Folder Cannot Be Written: The folder " + locked +
                                                 " cannot be written (Read-only file system), so a.mov cannot be "
                                                 "converted there.\n\nChoose another folder for its .pdb and .mpg?",
                                                 finished, finished}));
            for (const char* name : {"/a.", "/b."}) {
                QVERIFY(QFileInfo(out + name + "pdb").size() > 78 && QFileInfo(out + name + "mpg").size() > 0);
                QVERIFY(!QFile::exists(locked + name + "pdb"));
            }
            choose.timer.stop();
            FolderChooser setting(app, chosen);
            app.main_window().findChild<QAction*>("output_choose")->trigger();
            QTRY_COMPARE(app.output_folder(), chosen);
        }
        Program next;
        const QString movie = copy_of(movie_, "beside");
        QVERIFY(open_with(next.app, movie, {}));
        QVERIFY(QFileInfo(chosen + "/walk.pdb").size() > 78 && !QFile::exists(output(movie, "pdb")));
        next.app.main_window().findChild<QAction*>("output_beside")->trigger();
        QCOMPARE(next.app.output_folder(), QString());
    }

    void aboutBoxShowsTheVersionRecord() {
        Program program;
        press(program.app, QKeySequence(Qt::Key_F1));
        auto* about = program.app.main_window().findChild<TTesselAboutDlg*>();
        QVERIFY(about && about->isVisible() && about->isModal());
        // What Vintrel does, whole in its place.
        const auto* purpose = about->findChild<QLabel*>("about_purpose");
        QVERIFY(purpose->heightForWidth(purpose->width()) <= purpose->height());
        QCOMPARE(about->windowTitle(), QString("About Vintrel"));
        const auto texts = [](QDialog& dialog) {
            QStringList all;
            for (const char* id : {"22001", "22002", "22003"}) all << dialog.findChild<QLabel*>(id)->text();
            return all;
        };
        QCOMPARE(texts(*about), QStringList({"Vintrel Version 3.0",
                                             QString::fromUtf8("Copyright \u00a9 2026 the Vintrel developers"), ""}));
        QTest::keyClick(about, Qt::Key_Return);
        QVERIFY(!about->isVisible());

        // Whatever the record lacks keeps the template's text.
        const VersionItem partial[] = {{"ProductName", "Vintrel"}, {"SpecialBuild", "nightly"}};
        TTesselAboutDlg lacking(nullptr, TProjectRCVersion(partial));
        QCOMPARE(texts(lacking), QStringList({"Version", "", "nightly"}));
    }

    // A finished conversion offers its database to the player, which shows the frames exactly as
    // vintrel-pdb exports them and plays them at 5 a second. A database whose writing was stopped,
    // or a copy cut short inside a record, plays the whole records it holds and says how many are
    // missing; a damaged one is refused with the reader's message, which names the byte, and leaves
    // no window.
    void playerPlaysDatabasesAndRefusesDamagedOnes() {
        const QString movie = copy_of(movie_, "player");
        Program program;
        auto& [app, answers] = program;
        QVERIFY(open_with(app, movie, {}));
        click(*app.views().value(0), "play_result");
        QCOMPARE(app.players().size(), 1);
        PdbPlayer& player = *app.players().value(0);
        QCOMPARE(player.parentWidget()->windowTitle(), QString("walk.pdb"));
        QCOMPARE(player.frame_count(), 20);
        QCOMPARE(player.findChild<QLabel*>("info")->text(),
                 QString::fromUtf8("20 records of 160×120 pixels, 4.0 seconds at 5 frames a second, ") +
                     shown_size(QFileInfo(output(movie, "pdb")).size()));
        QVERIFY(player.findChild<QLabel*>("notice")->isHidden());
        QVERIFY(player.playing());
        QTRY_VERIFY_WITH_TIMEOUT(player.position() >= 2, 5000);
        click(player, "play");
        QVERIFY(!player.playing());

        player.findChild<QSlider*>("position")->setValue(7);
        for (const char* id : {"step_forward", "step_forward", "step_back"}) click(player, id);
        QCOMPARE(player.position(), 8);
        QCOMPARE(player.findChild<QLabel*>("time")->text(), QString("00:01.6 / 00:04.0"));
        const QString frames = dir_.path() + "/player/frames";
        QProcess exporter;
        exporter.start(VINTREL_PDB_PATH, {"export", output(movie, "pdb"), frames});
        QVERIFY(exporter.waitForFinished(60000) && exporter.exitCode() == 0);
        QImage exported(frames + "/frame-00008.png");
        exported.setColorSpace({});  // the PNG's colour space tag is not a difference of pixels
        QCOMPARE(player.frame().convertToFormat(QImage::Format_RGB32), exported.convertToFormat(QImage::Format_RGB32));
        // Each handheld pixel is zoom screen pixels square, never smoothed.
        for (int zoom : {1, 3, 2}) {
            player.findChild<QToolButton*>(QString("zoom%1").arg(zoom))->click();
            QCOMPARE(player.zoom(), zoom);
        }
        const QImage screen = drawn(*player.findChild<QWidget*>("screen")).copy(12, 12, 320, 240);
        QCOMPARE(screen, player.frame().convertToFormat(QImage::Format_RGB32).scaled(320, 240));
        // At the end playing stops; playing again starts from the first frame.
        player.findChild<QSlider*>("position")->setValue(19);
        player.play();
        QCOMPARE(player.position(), 0);

        QByteArray bytes = file_bytes(output(movie, "pdb"));
        // Record i's offset is in its record list entry.
        const auto offset = [&bytes](std::size_t i) {
            const std::size_t entry = pdb::database_header_size + pdb::record_list_entry_size * i;
            return qFromBigEndian<quint32>(bytes.constData() + entry + pdb::entry_offset_at);
        };
        const QString stopped = dir_.path() + "/player/stopped.pdb", cut = dir_.path() + "/player/cut.pdb",
                      damaged = dir_.path() + "/player/damaged.pdb";
        write_file(stopped, bytes.left(static_cast<int>(offset(1))));
        write_file(cut, bytes.left(static_cast<int>(offset(19)) + 20));  // inside the rows of record 19
        const int control = static_cast<int>(offset(3) + pdb::record_header_size);  // record 3's first row
        bytes[control] = 0;
        write_file(damaged, bytes);
        app.open_files({stopped, cut, damaged});
        delete_closed_windows();
        QCOMPARE(app.players().size(), 3);
        QCOMPARE(app.players().value(1)->frame_count(), 1);
        QCOMPARE(app.players().value(1)->findChild<QLabel*>("notice")->text(),
                 QString("This database is incomplete: its header lists 20 records, but it holds only 1; 19 are "
                         "missing. This one plays."));
        QCOMPARE(app.players().value(2)->frame_count(), 19);
        QCOMPARE(app.players().value(2)->findChild<QLabel*>("notice")->text(),
                 QString("This database is incomplete: its header lists 20 records, but it holds only 19; 1 is "
                         "missing. These 19 play."));
        QCOMPARE(answers.boxes.size(), 2);  // the conversion's Finished and the damaged database's
        const QString refused = QString("Vintrel: damaged.pdb cannot be played: record 3 at byte %1: illegal control "
                                        "byte 0x00 at byte %2 in row 0").arg(offset(3)).arg(control);
        QVERIFY2(answers.boxes.value(1).startsWith(refused), qPrintable(answers.boxes.value(1)));
        QCOMPARE(app.mdi_area().subWindowList().size(), 4);  // the movie's and the three players'
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Without a runtime folder Qt makes /tmp/runtime-<user> and leaves it; this one goes at the end.
    std::optional<QTemporaryDir> runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.emplace().path()));
    // The windows are tried on a 1024x768 screen, the smallest the program is made for, unless
    // VINTREL_TEST_SCREEN names another.
    QTemporaryFile screen(QDir::tempPath() + "/vintrel-gui-screen-XXXXXX.json");
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && screen.open()) {
        const QSize size = test_screen_size();
        screen.write(QString(R"({"screens": [{"name": "test", "x": 0, "y": 0, "width": %1, "height": %2,)"
                             R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                         .arg(size.width())
                         .arg(size.height())
                         .toUtf8());
        screen.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.fileName().toLocal8Bit());
    }
    QApplication qt(argc, argv);
    // Each test makes and closes its own main window; none may end the application.
    QApplication::setQuitOnLastWindowClosed(false);
    GuiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "gui_test.moc"
