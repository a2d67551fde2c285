// TAboutBox: the about box shown at start-up and from "?" > "About", with its shared reference
// and the three operations the main window uses to create, show and destroy it.
#include "app/aboutbox.h"

#include "app/mdigeometry.h"
#include "platform/errorbox.h"
#include "platform/help.h"
#include "ui/fonts.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <qdrawutil.h>

// The picture lives in a static library: its resources are registered by hand.
static void initAboutResources() {
    Q_INIT_RESOURCE(about);
}

namespace lw {

QPointer<TAboutBox> AboutBox;

namespace {

constexpr int topBandHeight = 59;
constexpr int bottomBandHeight = 41;
constexpr int imageRegionWidth = 280;
constexpr int rightPanelWidth = 159;
const QColor silver(192, 192, 192);
const QColor aqua(0, 255, 255);

QFont boxFont(int pixelSize, bool bold) {
    QFont font = designedFont(QStringLiteral("MS Sans Serif"), pixelSize, QFont::SansSerif);
    font.setBold(bold);
    return font;
}

QWidget* blackPanel(QWidget* parent, const QString& name, const QRect& geometry) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    panel->setGeometry(geometry);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, Qt::black);
    panel->setPalette(pal);
    panel->setAutoFillBackground(true);
    return panel;
}

// A text on a transparent background.
QLabel* bandText(QWidget* parent, const QString& name, const QString& text, const QFont& font,
                 const QColor& colour) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

// A flat button without caption or picture: it shows nothing until the mouse is over it, then
// a thin raised edge, sunken while pressed. It never takes the keyboard focus.
class CloseArea : public QAbstractButton {
public:
    explicit CloseArea(QWidget* parent) : QAbstractButton(parent) {
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!isEnabled() || !(underMouse() || isDown()))
            return;
        QPainter painter(this);
        qDrawShadeRect(&painter, rect(), palette(), isDown(), 1);
    }
};

} // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint) {
    initAboutResources();
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setFont(boxFont(13, false));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, silver);
    setPalette(pal);
    setAutoFillBackground(true);
    setFixedSize(designedWidth, designedHeight);
    setFocusPolicy(Qt::NoFocus);

    QWidget* top = blackPanel(this, QStringLiteral("TopBand"), QRect(0, 0, designedWidth, topBandHeight));
    QLabel* product = bandText(top, QStringLiteral("ProductLabel"), QStringLiteral("Ledgerwick Builder 2.5"),
                               boxFont(24, true), aqua);
    product->setAlignment(Qt::AlignCenter);
    product->setGeometry(0, 0, designedWidth, 29);

    const int bandsBottom = designedHeight - bottomBandHeight;
    QWidget* bottom = blackPanel(this, QStringLiteral("BottomBand"),
                                 QRect(0, bandsBottom, designedWidth, bottomBandHeight));
    QLabel* description =
        bandText(bottom, QStringLiteral("DescriptionLabel"),
                 QStringLiteral("Report Writer for MS Excel 7.0,8.0, 2000"), boxFont(13, false), silver);
    description->setAlignment(Qt::AlignCenter);
    description->setGeometry(0, 0, designedWidth, bottomBandHeight);

    // The picture is a little taller than its region: centring it crops a line or two.
    const int middleHeight = bandsBottom - topBandHeight;
    AboutImage = new QLabel(this);
    AboutImage->setObjectName(QStringLiteral("AboutImage"));
    AboutImage->setGeometry(0, topBandHeight, imageRegionWidth, middleHeight);
    AboutImage->setAlignment(Qt::AlignCenter);
    AboutImage->setPixmap(QPixmap(QStringLiteral(":/about/about.png")));

    // The right panel lies against the right edge, over the picture region's last columns.
    QWidget* right =
        blackPanel(this, QStringLiteral("RightPanel"),
                   QRect(designedWidth - rightPanelWidth, topBandHeight, rightPanelWidth, middleHeight));
    QLabel* ok = bandText(right, QStringLiteral("OKLabel"), QStringLiteral("OK"), boxFont(13, true), aqua);
    ok->move(70, 112);
    ok->adjustSize();

    SpeedButton1 = new CloseArea(right);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(2, 69, 151, 77);
    SpeedButton1->raise();
    connect(SpeedButton1, &QAbstractButton::clicked, this, &TAboutBox::OKButtonClick);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.topLeft() + centredPosition(area.size(), size()));
    }
}

void TAboutBox::OKButtonClick() {
    guarded([this] { done(2); });
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_F1:
        guarded([] { showHelpContext(helpTopic); });
        event->accept();
        return;
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Nothing on the box takes the keyboard, so these keys close it as its close area does.
        event->accept();
        OKButtonClick();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void TAboutBox::reject() {
    // The box draws no close box of its own, but a window manager may give its frame one: a close
    // from there ends the box as its close area does.
    OKButtonClick();
}

TAboutBox* createAboutBox() {
    auto* box = new TAboutBox(nullptr);
    AboutBox = box;
    return box;
}

void showNewAboutBox() {
    try {
        TAboutBox* box = createAboutBox();
        box->SpeedButton1->setEnabled(true);
        box->exec();
    } catch (...) {
        // About never reports a failure.
    }
}

void destroyAboutBox() {
    try {
        TAboutBox* box = AboutBox;
        // A box still on screen runs its own modal loop: it is destroyed at a later activation,
        // once it has been closed.
        if (!box || box->isVisible())
            return;
        AboutBox = nullptr;
        delete box;
    } catch (...) {
        // Activation never reports a failure.
    }
}

} // namespace lw
