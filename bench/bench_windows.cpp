// Editor windows: the processor time of opening 100 editor windows with New on a real main
// window, laid out and painted, and the resident memory each window adds.
#include "app/mainform.h"
#include "desktop.h"
#include "ratio.h"
#include "report/mdi1.h"

#include <QApplication>

#include <cstdio>
#include <memory>

namespace {

constexpr int kWindows = 100;

std::unique_ptr<lw::TMainForm> shownMainForm() {
    auto form = std::make_unique<lw::TMainForm>();
    form->show();
    lwbench::processUntilIdle();
    return form;
}

void openWindows(lw::TMainForm& form, int count) {
    for (int i = 0; i < count; ++i)
        form.N2Click();
    lwbench::processUntilIdle();
}

// Measured once, before anything else has run in this process, so that memory freed by earlier
// windows cannot hide the growth. One window first takes the one-time costs (styles, fonts).
void measureMemory() {
    auto form = shownMainForm();
    const double start = lwbench::residentBytes();
    openWindows(*form, 1);
    const double afterFirst = lwbench::residentBytes();
    openWindows(*form, kWindows);
    const double afterAll = lwbench::residentBytes();
    if (form->editorWindows().size() != kWindows + 1) {
        std::fprintf(stderr, "New opened %lld windows instead of %d\n",
                     static_cast<long long>(form->editorWindows().size()), kWindows + 1);
        return;
    }
    lwbench::note("windows/resident_memory_first_window", (afterFirst - start) / 1024, "KiB");
    lwbench::note("windows/resident_memory_per_window (next 100)", (afterAll - afterFirst) / kWindows / 1024,
                  "KiB");
}

} // namespace

int main(int argc, char** argv) {
    lwbench::useThrowawayDesktop();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ledgerwick"));
    measureMemory();

    lwbench::addLimit("windows/open_100_with_new", 1.0, [](benchmark::State& st) {
        for (auto _ : st) {
            st.PauseTiming();
            auto form = shownMainForm();
            st.ResumeTiming();
            openWindows(*form, kWindows);
            st.PauseTiming();
            if (form->editorWindows().size() != kWindows)
                st.SkipWithError("New did not open every window");
            // The windows are new and unchanged: they go with the main window, without questions.
            form.reset();
            lwbench::processUntilIdle();
            st.ResumeTiming();
        }
    });
    return lwbench::run(argc, argv);
}
