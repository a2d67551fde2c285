// The start-up timing hook shared by the program (LEDGERWICK_QUIT_WHEN_IDLE) and its like-for-like
// benchmark reference: once painted and idle, print "idle" and end the event loop.
#pragma once

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QSet>
#include <QWidget>

#include <cstdio>
#include <functional>

namespace lw {

// Whenever the event loop runs out of work, a modal window (the start-up about box) is closed once
// it has been painted, and once mainWindow() has been painted too "idle" is printed and the loop
// ends, without closing the windows: what the user sees is on screen before start-up counts as done.
inline void quitWhenIdle(QApplication& app, std::function<QWidget*()> mainWindow) {
    // The windows that have been painted (some widget of theirs received a paint).
    class PaintWatch : public QObject {
    public:
        bool has(QWidget* window) const { return m_painted.contains(window); }

        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint && watched->isWidgetType())
                m_painted.insert(static_cast<QWidget*>(watched)->window());
            return false;
        }

    private:
        QSet<QObject*> m_painted;
    };
    auto* painted = new PaintWatch;
    painted->setParent(&app);
    app.installEventFilter(painted);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
                     [painted, mainWindow = std::move(mainWindow)] {
                         if (QWidget* modal = QApplication::activeModalWidget()) {
                             if (painted->has(modal))
                                 modal->close();
                         } else if (QWidget* window = mainWindow(); window && painted->has(window)) {
                             std::fputs("idle\n", stdout);
                             std::fflush(stdout);
                             QCoreApplication::exit(0);
                         }
                     });
}

} // namespace lw
