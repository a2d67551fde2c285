// Save: the Save command on an editor window of a real main window, writing a definition file,
// against one atomic whole-file write of the same bytes; on disk and on tmpfs.
#include "app/mainform.h"
#include "desktop.h"
#include "floor.h"
#include "ratio.h"
#include "report/documents.h"
#include "report/mdi1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// A definition as a user fills it in: directory mode, a table, a record range and a query.
lw::TForm1* filledWindow(lw::TMainForm& form, const QString& path) {
    lw::TForm1* w = lw::newDocument(form);
    w->Edit1->setText(QStringLiteral("Monthly sales by region"));
    w->RB2->setChecked(true);
    w->setDirectoryLabel(QStringLiteral("/srv/data/sales/"));
    w->Edit2->setText(QStringLiteral("SALES.DBF"));
    w->Edit3->setText(QStringLiteral("1"));
    w->Edit4->setText(QStringLiteral("2500"));
    w->CheckBox1->setEnabled(true);
    w->CheckBox1->setChecked(true);
    w->Edit5->setText(QStringLiteral("REGION = 'NORTH' AND AMOUNT > 1000"));
    w->setDefinitionPath(path);
    w->setWindowTitle(QStringLiteral("sales.pr"));
    w->setModificationState(lw::TForm1::StateEdited);
    return w;
}

// What the blank builder and the report generator keep in the same file.
const QByteArray kSiblingKeys = "[ZARMEK]\nTForm=TMainForm\n[VORTAL]\nLastRun=2024-03-01 10:15\nRows=2500\n";

} // namespace

int main(int argc, char** argv) {
    const QString home = lwbench::useThrowawayDesktop();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ledgerwick"));

    const QString dir = home + QStringLiteral("/reports");
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/sales.pr");

    auto form = std::make_unique<lw::TMainForm>();
    lw::TMainForm* frame = form.get();
    lw::TForm1* window = filledWindow(*form, path);
    form->show();
    lwbench::processUntilIdle();

    // On tmpfs, where the disk's flush does not hide what Save itself costs: /dev/shm, else TMPDIR.
    const QString shm = QStringLiteral("/dev/shm");
    QTemporaryDir memoryDir((QFileInfo(shm).isDir() ? shm : QDir::tempPath()) + QStringLiteral("/lwbench-XXXXXX"));
    struct Place {
        std::string prefix;
        QString dir;
    };
    const Place places[] = {{"save/", dir}, {"save/tmpfs/", memoryDir.path()}};
    for (const Place& place : places) {
        const QString placePath = place.dir + QStringLiteral("/sales.pr");
        const QByteArray placeNative = QFile::encodeName(placePath);
        const QByteArray placeFloor = QFile::encodeName(place.dir + QStringLiteral("/floor.pr"));
        // The bytes one Save leaves in a new file, and in a file the sibling tools have written to.
        window->setDefinitionPath(placePath);
        lw::saveDocument(*frame, window);
        const QByteArray fresh = lwbench::floorReadWholeFile(placeNative);
        lwbench::resetFile(placeNative, kSiblingKeys);
        window->setModificationState(lw::TForm1::StateEdited);
        lw::saveDocument(*frame, window);
        const QByteArray saved = lwbench::floorReadWholeFile(placeNative);
        if (!fresh.contains("Monthly sales by region") || !saved.startsWith(kSiblingKeys) ||
            !saved.endsWith(fresh)) {
            std::fprintf(stderr, "Save did not write the definition as expected\n");
            return 1;
        }
        // A new file is measured against writing a new file, a replaced one against replacing one.
        auto floor = [placeFloor](QByteArray bytes, bool fresh) {
            return [placeFloor, bytes, fresh](benchmark::State& st) {
                lwbench::resetFile(placeFloor, bytes);
                for (auto _ : st) {
                    if (fresh) {
                        st.PauseTiming();
                        ::unlink(placeFloor.constData());
                        st.ResumeTiming();
                    }
                    if (!lwbench::floorAtomicWrite(placeFloor, bytes))
                        st.SkipWithError("the atomic write failed");
                }
            };
        };
        const std::string p = place.prefix;
        lwbench::addCase(p + "floor_atomic_write_whole_file", "", 0, floor(saved, false));
        lwbench::addCase(p + "floor_atomic_write_new_file", "", 0, floor(fresh, true));
        lwbench::addCase(p + "save_again", p + "floor_atomic_write_whole_file", 3.0,
                         [frame, window, placePath, placeNative, saved](benchmark::State& st) {
                             window->setDefinitionPath(placePath);
                             lwbench::resetFile(placeNative, saved);
                             for (auto _ : st) {
                                 window->setModificationState(lw::TForm1::StateEdited);
                                 lw::saveDocument(*frame, window);
                             }
                             if (lwbench::floorReadWholeFile(placeNative) != saved)
                                 st.SkipWithError("Save wrote other bytes than before");
                         });
        lwbench::addCase(p + "save_new_file", p + "floor_atomic_write_new_file", 3.0,
                         [frame, window, placePath, placeNative, fresh](benchmark::State& st) {
                             window->setDefinitionPath(placePath);
                             for (auto _ : st) {
                                 st.PauseTiming();
                                 ::unlink(placeNative.constData());
                                 window->setModificationState(lw::TForm1::StateEdited);
                                 st.ResumeTiming();
                                 lw::saveDocument(*frame, window);
                             }
                             if (lwbench::floorReadWholeFile(placeNative) != fresh)
                                 st.SkipWithError("Save wrote other bytes than before");
                         });
    }
    const int rc = lwbench::run(argc, argv);
    form.reset();
    return rc;
}
