// Save: the Save command on an editor window of a real main window, writing a definition file,
// against one atomic whole-file write of the same bytes.
#include "app/mainform.h"
#include "desktop.h"
#include "floor.h"
#include "ratio.h"
#include "report/documents.h"
#include "report/mdi1.h"

#include <QApplication>
#include <QDir>
#include <QFile>

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
    const QByteArray native = QFile::encodeName(path);
    const QByteArray floorPath = QFile::encodeName(dir + QStringLiteral("/floor.pr"));

    auto form = std::make_unique<lw::TMainForm>();
    lw::TMainForm* frame = form.get();
    lw::TForm1* window = filledWindow(*form, path);
    form->show();
    lwbench::processUntilIdle();

    // The bytes one Save leaves in a new file, and in a file the sibling tools have written to.
    lw::saveDocument(*frame, window);
    const QByteArray fresh = lwbench::floorReadWholeFile(native);
    lwbench::resetFile(native, kSiblingKeys);
    lw::saveDocument(*frame, window);
    const QByteArray saved = lwbench::floorReadWholeFile(native);
    if (!fresh.contains("Monthly sales by region") || !saved.startsWith(kSiblingKeys) ||
        !saved.endsWith(fresh)) {
        std::fprintf(stderr, "Save did not write the definition as expected\n");
        return 1;
    }

    // A new file is measured against writing a new file, a replaced one against replacing one.
    auto floor = [floorPath](QByteArray bytes, bool fresh) {
        return [floorPath, bytes, fresh](benchmark::State& st) {
            lwbench::resetFile(floorPath, bytes);
            for (auto _ : st) {
                if (fresh) {
                    st.PauseTiming();
                    ::unlink(floorPath.constData());
                    st.ResumeTiming();
                }
                if (!lwbench::floorAtomicWrite(floorPath, bytes))
                    st.SkipWithError("the atomic write failed");
            }
        };
    };
    lwbench::addCase("save/floor_atomic_write_whole_file", "", 0, floor(saved, false));
    lwbench::addCase("save/floor_atomic_write_new_file", "", 0, floor(fresh, true));
    lwbench::addCase("save/save_again", "save/floor_atomic_write_whole_file", 3.0,
                     [frame, window, native, saved](benchmark::State& st) {
                         lwbench::resetFile(native, saved);
                         for (auto _ : st) {
                             window->setModificationState(lw::TForm1::StateEdited);
                             lw::saveDocument(*frame, window);
                         }
                         if (lwbench::floorReadWholeFile(native) != saved)
                             st.SkipWithError("Save wrote other bytes than before");
                     });
    lwbench::addCase("save/save_new_file", "save/floor_atomic_write_new_file", 3.0,
                     [frame, window, native, fresh](benchmark::State& st) {
                         for (auto _ : st) {
                             st.PauseTiming();
                             ::unlink(native.constData());
                             window->setModificationState(lw::TForm1::StateEdited);
                             st.ResumeTiming();
                             lw::saveDocument(*frame, window);
                         }
                         if (lwbench::floorReadWholeFile(native) != fresh)
                             st.SkipWithError("Save wrote other bytes than before");
                     });
    const int rc = lwbench::run(argc, argv);
    form.reset();
    return rc;
}
