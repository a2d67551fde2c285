// The editor window as the screenshots show it: a panel's own caption, which lies under its row
// caption label, never shows between that label and the controls, whatever the font's width.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "data/catalogue.h"
#include "report/mdi1.h"
#include "support/fakeengine.h"
#include "support/testsupport.h"

#include <QStandardPaths>
#include <QTest>

using namespace lw;

class TstEditorLook : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        setEngine(std::make_unique<test::FakeEngine>());
    }

    void panelCaptionStaysUnderItsLabel_data() {
        QTest::addColumn<QStringList>("names"); // the panel, its row caption label, the control right of it
        QTest::addColumn<int>("pixelSize");
        QTest::newRow("number of sheets, 28 px") << QStringList{"Panel3", "Label4", "RB3"} << 28;
        QTest::newRow("path kind, 36 px") << QStringList{"Panel4", "Label5", "RB5"} << 36;
    }

    void panelCaptionStaysUnderItsLabel() {
        QFETCH(QStringList, names);
        QFETCH(int, pixelSize);
        auto form = test::makeMainForm();
        form->N2->trigger();
        TForm1* w = form->activeEditorWindow();
        QVERIFY(w);
        auto* p = w->findChild<CaptionPanel*>(names[0]);
        auto* l = w->findChild<QLabel*>(names[1]);
        auto* n = w->findChild<QWidget*>(names[2]);
        QVERIFY(p && l && n && !p->caption().isEmpty());
        QFont font = p->font();
        font.setPixelSize(pixelSize); // a wider font than the designed one
        p->setFont(font);
        QVERIFY(QFontMetrics(font).horizontalAdvance(p->caption()) > l->geometry().right());

        const QRect gap(l->geometry().right() + 1, p->contentsRect().top(),
                        n->geometry().left() - l->geometry().right() - 1, p->contentsRect().height());
        QVERIFY(gap.width() > 2);
        const QImage shown = p->grab().toImage().copy(gap);
        QImage plain(shown.size(), shown.format());
        plain.fill(QColor::fromRgba(shown.pixel(0, 0)));
        QVERIFY2(shown == plain, "the panel's caption shows past its row caption label");
        w->setModificationState(TForm1::StateSaved);
    }
};

QTEST_MAIN(TstEditorLook)
#include "tst_editorlook.moc"
