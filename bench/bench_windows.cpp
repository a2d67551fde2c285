// Editor windows: the processor time of opening 25, 100, 200 and 400 editor windows with New on a
// real main window, laid out and painted, set against 100 windows (the work should grow with the
// count, no faster), and the resident memory each window adds.
#include "app/mainform.h"
#include "desktop.h"
#include "ratio.h"
#include "report/mdi1.h"

#include <QApplication>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

namespace {

std::unique_ptr<lw::TMainForm> shownMainForm() {
    auto form = std::make_unique<lw::TMainForm>();
    form->show();
    lwbench::processUntilIdle();
    return form;
}

// Each New is a command of its own, as the user gives them: the event loop runs between them,
// so that each window is laid out and painted before the next one comes.
void openWindows(lw::TMainForm& form, int count) {
    for (int i = 0; i < count; ++i) {
        form.N2Click();
        lwbench::processUntilIdle();
    }
}

// Processor time of this thread: the program's own work on its user-interface thread, not what
// other processes on a shared machine take from it.
double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Measured once, before anything else has run in this process, so that memory freed by earlier
// windows cannot hide the growth. One window first takes the one-time costs (styles, fonts); then
// the growth per window over the next 100, and over the 300 after those.
void measureMemory() {
    auto form = shownMainForm();
    const double start = lwbench::residentBytes();
    openWindows(*form, 1);
    const double afterFirst = lwbench::residentBytes();
    openWindows(*form, 100);
    const double after101 = lwbench::residentBytes();
    openWindows(*form, 300);
    const double after401 = lwbench::residentBytes();
    if (form->editorWindows().size() != 401) {
        std::fprintf(stderr, "New opened %lld windows instead of 401\n",
                     static_cast<long long>(form->editorWindows().size()));
        return;
    }
    lwbench::note("windows/resident_memory_first_window", (afterFirst - start) / 1024, "KiB");
    lwbench::note("windows/resident_memory_per_window (next 100)", (after101 - afterFirst) / 100 / 1024,
                  "KiB");
    lwbench::note("windows/resident_memory_per_window (next 300)", (after401 - after101) / 300 / 1024, "KiB");
}

} // namespace

int main(int argc, char** argv) {
    lwbench::useThrowawayDesktop();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ledgerwick"));
    measureMemory();

    // Each count on a main window of its own (shown, idle, made untimed); the windows are new and
    // unchanged, so they go with the main window, without questions, untimed too.
    const std::string reference = "windows/open_100_with_new";
    for (int count : {25, 100, 200, 400}) {
        const std::string name = "windows/open_" + std::to_string(count) + "_with_new";
        const double target = count > 100 ? count / 100.0 : 0;
        lwbench::addManualCase(name, name == reference ? "" : reference, target,
                               [count](benchmark::State& st) {
                                   for (auto _ : st) {
                                       auto form = shownMainForm();
                                       const double start = threadSeconds();
                                       openWindows(*form, count);
                                       st.SetIterationTime(threadSeconds() - start);
                                       if (form->editorWindows().size() != count)
                                           st.SkipWithError("New did not open every window");
                                       form.reset();
                                       lwbench::processUntilIdle();
                                   }
                               })
            ->Unit(benchmark::kMillisecond);
    }
    return lwbench::run(argc, argv);
}
