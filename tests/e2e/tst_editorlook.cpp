// The editor window as the screenshots show it: a panel's own caption, which lies under its row
// caption label, never shows between that label and the controls, whatever the font's width.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "report/catalogue.h"
#include "report/mdi1.h"
#include "support/testsupport.h"

#include <QStandardPaths>
#include <QTest>

#include <memory>

using namespace lw;

namespace {

class NoAliases : public DataEngine {
public:
    QStringList aliasNames() override { return {}; }
    QStringList tableNames(const QString&) override { return {}; }
    QStringList aliasParameters(const QString&) override { return {}; }
};

// Whether every pixel of the area has the same colour.
bool uniform(const QImage& image, const QRect& area) {
    const QRgb first = image.pixel(area.topLeft());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != first)
                return false;
        }
    }
    return true;
}

} // namespace

class TstEditorLook : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        setEngine(std::make_unique<NoAliases>());
    }

    void panelCaptionStaysUnderItsLabel_data() {
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("next"); // the first control right of the label
        QTest::addColumn<int>("pixelSize");
        QTest::newRow("number of sheets, 11 px") << "Panel3"
                                                 << "Label4"
                                                 << "RB3" << 11;
        QTest::newRow("number of sheets, 28 px") << "Panel3"
                                                 << "Label4"
                                                 << "RB3" << 28;
        QTest::newRow("path kind, 36 px") << "Panel4"
                                          << "Label5"
                                          << "RB5" << 36;
    }

    void panelCaptionStaysUnderItsLabel() {
        QFETCH(QString, panel);
        QFETCH(QString, label);
        QFETCH(QString, next);
        QFETCH(int, pixelSize);
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.N2->trigger();
        TForm1* w = form.activeEditorWindow();
        QVERIFY(w);
        auto* p = w->findChild<CaptionPanel*>(panel);
        auto* l = w->findChild<QLabel*>(label);
        auto* n = w->findChild<QWidget*>(next);
        QVERIFY(p && l && n);
        QVERIFY(!p->caption().isEmpty());
        QFont font = p->font();
        font.setPixelSize(pixelSize); // a wider font than the designed one
        p->setFont(font);
        QVERIFY(QFontMetrics(font).horizontalAdvance(p->caption()) > l->geometry().right());

        const QImage image = p->grab().toImage();
        const QRect gap(l->geometry().right() + 1, p->contentsRect().top(),
                        n->geometry().left() - l->geometry().right() - 1, p->contentsRect().height());
        QVERIFY(gap.width() > 2);
        QVERIFY2(uniform(image, gap), "the panel's caption shows past its row caption label");
        w->setModificationState(TForm1::StateSaved);
    }
};

QTEST_MAIN(TstEditorLook)
#include "tst_editorlook.moc"
