// TFlatButton: properties and their repaint rules, groups, hints, mouse and accelerator input,
// the drop-down and context menus, the stored grey image, and the paint routine.
#include "ui/flatbtn.h"

#include "platform/errorbox.h"
#include "ui/flatbtn_glyphs.h"
#include "ui/fonts.h"

#include <QBuffer>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QKeySequence>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>

namespace lw {

namespace {
// Stores a property's new value; true when it differed, so the writer repaints only then.
template <typename T, typename V> bool changeValue(T& field, const V& value) {
    if (field == value)
        return false;
    field = value;
    return true;
}

// One checkerboard for all buttons; see downPatternExists().
QImage* s_downPattern = nullptr;
bool s_ellipsis = true;

} // namespace

TFlatButton::TFlatButton(QWidget* parent) : QWidget(parent) {
    init(false, false);
}

TFlatButton::TFlatButton(QWidget* parent, bool designing, bool ownerLoading) : QWidget(parent) {
    init(designing, ownerLoading);
}

void TFlatButton::init(bool designing, bool ownerLoading) {
    m_designing = designing;
    m_loading = ownerLoading;
    // Every platform we run on can end a caption in an ellipsis.
    s_ellipsis = true;
    // No window of its own and never the keyboard focus: the button is drawn on its parent's
    // surface, which shows through wherever the button paints nothing.
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
    resize(50, 40);
    if (designing && !ownerLoading)
        m_caption = QStringLiteral("FlatButton");
}

TFlatButton::~TFlatButton() {
    if (m_acceleratorId != 0)
        releaseShortcut(m_acceleratorId);
    delete s_downPattern;
    s_downPattern = nullptr;
}

bool TFlatButton::downPatternExists() {
    return s_downPattern != nullptr;
}

bool TFlatButton::ellipsisFlag() {
    return s_ellipsis;
}

void TFlatButton::setEllipsisFlag(bool on) {
    s_ellipsis = on;
}

// ---- Properties ----

void TFlatButton::setAlignment(TAlignment alignment) {
    m_alignment = alignment;
    repaint();
}

void TFlatButton::setAllowAllUp(bool allowAllUp) {
    m_allowAllUp = allowAllUp;
    if (m_groupIndex == 0)
        return;
    for (TFlatButton* sibling : siblingButtons())
        if (sibling->m_groupIndex == m_groupIndex)
            sibling->m_allowAllUp = allowAllUp;
}

void TFlatButton::setBevelStyle(TBevelStyle style) {
    m_bevelStyle = style;
    repaint();
}

void TFlatButton::setNoFocusBitmap(const QImage& image) {
    m_noFocusBitmap = image;
    noFocusBitmapChanged();
}

void TFlatButton::setBitmap(const QImage& image) {
    m_bitmap = image;
    bitmapChanged();
}

void TFlatButton::setCaption(const QString& caption) {
    m_caption = caption;
    updateAccelerator();
    if (m_options.contains(boIconOnly))
        setHint(hintFromCaption(m_caption));
    else
        repaint();
}

void TFlatButton::setGroupIndex(int groupIndex) {
    if (groupIndex == m_groupIndex)
        return;
    m_groupIndex = groupIndex;
    if (m_groupIndex == 0 && m_down) {
        m_down = false;
        repaint();
    }
}

void TFlatButton::setDisabledBitmap(const QImage& image) {
    m_disabledBitmap = image;
    disabledBitmapChanged();
}

void TFlatButton::setDown(bool down) {
    if (down == m_down || m_groupIndex == 0)
        return;
    m_down = down;
    repaint();
    if (m_down)
        releaseGroupSiblings();
}

void TFlatButton::releaseGroupSiblings() {
    for (TFlatButton* sibling : siblingButtons())
        if (sibling->m_groupIndex == m_groupIndex && sibling->m_down)
            sibling->setDown(false);
}

void TFlatButton::setDropDownMenu(QMenu* menu) {
    // A guarded reference: when the menu is destroyed first, the reference clears itself and
    // the button behaves as one without a menu.
    m_dropDownMenu = menu;
    if (m_options.contains(boPopupMark))
        repaint();
}

void TFlatButton::setButtonEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (m_groupIndex == 0)
        m_down = false;
    m_pressed = false;
    m_hover = false;
    if (m_acceleratorId != 0)
        setShortcutEnabled(m_acceleratorId, m_enabled);
    repaint();
}

void TFlatButton::setButtonLayout(TFlatButtonLayout layout) {
    if (changeValue(m_layout, layout))
        repaint();
}

void TFlatButton::setOptions(TFlatButtonOptions options) {
    m_options = options;
    applyHint();
    repaint();
}

void TFlatButton::applyHint() {
    const QString derived = hintFromCaption(m_caption);
    if (m_options.contains(boIconOnly)) {
        if (hint().isEmpty()) {
            setHint(derived);
            setShowHint(true);
        }
    } else if (hint() == derived) {
        setHint(QString());
        setShowHint(false);
    }
}

void TFlatButton::setShadingType(TFlatButtonShadingType shading) {
    if (shading == m_shadingType)
        return;
    m_shadingType = shading;
    if (greyImageWanted() && !m_loading) {
        rebuildGreyImage();
        repaint();
    }
}

void TFlatButton::setShowDownPattern(bool show) {
    if (changeValue(m_showDownPattern, show))
        repaint();
}

void TFlatButton::setUnselectedFontColor(const TColor& colour) {
    if (changeValue(m_unselectedFontColor, colour))
        repaint();
}

void TFlatButton::setWordWrap(bool wordWrap) {
    if (changeValue(m_wordWrap, wordWrap))
        repaint();
}

void TFlatButton::setFontColor(const TColor& colour) {
    if (changeValue(m_fontColor, colour))
        repaint();
}

bool TFlatButton::parentFont() const {
    return !testAttribute(Qt::WA_SetFont);
}

void TFlatButton::setParentFont(bool parentFont) {
    if (parentFont == this->parentFont())
        return;
    if (parentFont) {
        setFont(QFont());
    } else {
        QFont own = font();
        own.setResolveMask(QFont::AllPropertiesResolved);
        setFont(own);
    }
}

void TFlatButton::setShowHint(bool show) {
    m_showHint = show;
}

void TFlatButton::setPopupMenu(QMenu* menu) {
    m_popupMenu = menu;
}

// ---- Owned images ----

void TFlatButton::bitmapChanged() {
    if (greyImageWanted() && !m_loading)
        rebuildGreyImage();
    repaint();
}

void TFlatButton::noFocusBitmapChanged() {
    if (greyImageWanted())
        rebuildGreyImage();
    repaint();
}

void TFlatButton::disabledBitmapChanged() {
    if (!m_enabled)
        repaint();
}

bool TFlatButton::greyImageWanted() const {
    // Only the designer derives the grey image, and only for a glyph without a resting image
    // of its own; a running program gets it from the stored design.
    return m_designing && !m_bitmap.isNull() && m_noFocusBitmap.isNull();
}

void TFlatButton::rebuildGreyImage() {
    m_greyBitmap = deriveGreyImage(m_bitmap, m_shadingType);
}

QByteArray TFlatButton::IBitmap() const {
    if (m_greyBitmap.isNull())
        return QByteArray();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!m_greyBitmap.save(&buffer, "BMP"))
        return QByteArray();
    return bytes;
}

void TFlatButton::setIBitmap(const QByteArray& bytes) {
    // Bytes that are no bitmap leave the grey image empty: the resting look then shows no glyph.
    m_greyBitmap = bytes.isEmpty() ? QImage() : QImage::fromData(bytes, "BMP");
    update();
}

void TFlatButton::loaded() {
    m_loading = false;
    if (greyImageWanted())
        rebuildGreyImage();
}

// ---- Groups and siblings ----

QList<TFlatButton*> TFlatButton::siblingButtons() const {
    QList<TFlatButton*> siblings;
    if (!parent())
        return siblings;
    for (QObject* child : parent()->children()) {
        auto* button = qobject_cast<TFlatButton*>(child);
        if (button && button != this)
            siblings.append(button);
    }
    return siblings;
}

void TFlatButton::Click() {
    emit clicked();
}

// ---- Input ----

bool TFlatButton::captionShown() const {
    return !m_options.contains(boIconOnly) && !m_caption.isEmpty();
}

bool TFlatButton::popupMarkShown() const {
    return m_options.contains(boPopupMark) && m_dropDownMenu != nullptr;
}

bool TFlatButton::isInside(const QPointF& local) const {
    return local.x() > 0 && local.x() < width() && local.y() > 0 && local.y() < height();
}

bool TFlatButton::pointerInside() const {
    return isInside(QPointF(mapFromGlobal(QCursor::pos())));
}

void TFlatButton::pointerEnters() {
    m_pointerOver = true;
    m_hover = true;
    if (!m_down && m_enabled)
        repaint();
    emit OnEnter();
}

void TFlatButton::pointerLeaves() {
    m_pointerOver = false;
    m_hover = false;
    if (!m_down && m_enabled)
        repaint();
    emit OnExit();
}

void TFlatButton::enterEvent(QEnterEvent*) {
    guarded([&] {
        if (!m_pointerOver)
            pointerEnters();
    });
}

void TFlatButton::leaveEvent(QEvent*) {
    guarded([&] {
        if (m_pointerOver)
            pointerLeaves();
    });
}

void TFlatButton::mouseMoveEvent(QMouseEvent* event) {
    // While a mouse button holds the pointer to this button the toolkit reports no enter or
    // leave, so they are derived from the moves with the strict inside test.
    guarded([&] {
        if (event->buttons() == Qt::NoButton)
            return;
        const bool inside = isInside(event->position());
        if (inside && !m_hover)
            pointerEnters();
        else if (!inside && (m_hover || m_pointerOver))
            pointerLeaves();
    });
}

void TFlatButton::mousePressEvent(QMouseEvent* event) {
    event->accept();
    guarded([&] {
        if (event->button() == Qt::LeftButton)
            leftButtonDown();
    });
}

void TFlatButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // No double clicks: the second press of a double click is an ordinary press.
    mousePressEvent(event);
}

void TFlatButton::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    guarded([&] {
        if (event->button() == Qt::LeftButton)
            leftButtonUp(isInside(event->position()));
    });
}

void TFlatButton::bringFormToFront() {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(w)) {
            QMdiArea* area = sub->mdiArea();
            if (area && area->activeSubWindow() != sub)
                area->setActiveSubWindow(sub);
            return;
        }
    }
    QWidget* form = window();
    if (form != this && !form->isActiveWindow()) {
        form->raise();
        form->activateWindow();
    }
}

void TFlatButton::menuClosed() {
    // The press that closed the menu was not replayed (see leftButtonDown); an explicit grab
    // that someone still holds is given up. The button then drops its press, and its hover
    // when the pointer has gone elsewhere.
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    if (!pointerInside())
        m_hover = false;
    m_pressed = false;
    repaint();
}

void TFlatButton::leftButtonDown() {
    bringFormToFront();
    if (!m_enabled || !isShown())
        return;
    m_pressed = true;
    m_hover = true;
    repaint();
    if (!m_dropDownMenu)
        return; // the release comes here wherever it happens: the toolkit grabs the mouse

    // Open the menu at the bottom-left corner; exec returns when the menu has closed.
    QPointer<TFlatButton> self(this);
    QPointer<QMenu> menu = m_dropDownMenu;
    const bool noReplay = menu->testAttribute(Qt::WA_NoMouseReplay);
    menu->setAttribute(Qt::WA_NoMouseReplay, true);
    menu->exec(mapToGlobal(QPoint(0, height())));
    if (menu)
        menu->setAttribute(Qt::WA_NoMouseReplay, noReplay);
    // No click follows: the coming release finds the button no longer pressed.
    if (self)
        menuClosed();
}

void TFlatButton::leftButtonUp(bool pointerIsInside) {
    if (!m_enabled || !isShown() || !m_pressed)
        return;
    m_pressed = false;
    if (m_hover && m_groupIndex != 0) {
        if (m_down) {
            if (m_allowAllUp)
                setDown(false);
        } else {
            setDown(true); // releases the group's other down button too
        }
    }
    if (!m_hover)
        return; // released outside: no click
    if (!pointerIsInside)
        m_hover = false;
    update();
    if (!m_dropDownMenu)
        Click();
}

void TFlatButton::contextMenuEvent(QContextMenuEvent* event) {
    // Without a menu of its own the request goes on to the parents, whose menus the toolkit
    // shows; with one, the button shows it and then drops any press and hover it no longer has.
    if (!m_popupMenu) {
        event->ignore();
        return;
    }
    event->accept();
    guarded([&] {
        QPointer<TFlatButton> self(this);
        m_popupMenu->exec(event->globalPos());
        if (self)
            menuClosed();
    });
}

void TFlatButton::updateAccelerator() {
    if (m_acceleratorId != 0) {
        releaseShortcut(m_acceleratorId);
        m_acceleratorId = 0;
    }
    // Alt with the character after the accelerator mark, on the window that holds the button.
    const QKeySequence sequence = QKeySequence::mnemonic(m_caption);
    if (sequence.isEmpty())
        return;
    m_acceleratorId = grabShortcut(sequence, Qt::WindowShortcut);
    setShortcutEnabled(m_acceleratorId, m_enabled);
}

bool TFlatButton::handleAccelerator() {
    if (!m_enabled || !isShown())
        return false;
    QPointer<TFlatButton> self(this);
    m_hover = true;
    m_pressed = false;
    repaint();
    QCoreApplication::processEvents();
    if (!self)
        return true;
    // Just as the mouse would: open the menu, toggle the group button or click.
    leftButtonDown();
    QCoreApplication::processEvents();
    if (!self)
        return true;
    leftButtonUp(pointerInside());
    QCoreApplication::processEvents();
    if (!self)
        return true;
    if (!pointerInside()) {
        m_hover = false;
        repaint();
    }
    return true;
}

bool TFlatButton::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::Shortcut: {
        auto* shortcut = static_cast<QShortcutEvent*>(event);
        if (m_acceleratorId == 0 || shortcut->shortcutId() != m_acceleratorId)
            break;
        bool handled = false;
        guarded([&] { handled = handleAccelerator(); });
        event->setAccepted(handled);
        return handled;
    }
    case QEvent::ToolTip:
        if (!m_showHint) {
            event->ignore();
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

// ---- Painting ----

void TFlatButton::paintEvent(QPaintEvent*) {
    guarded([&] {
        QPainter painter(this);
        paintButton(painter);
    });
}

void TFlatButton::paintButton(QPainter& painter) {
    if (!isShown() && !m_designing)
        return;
    const int W = width();
    const int H = height();

    // A down button is filled with the shared checkerboard.
    if (m_down && m_showDownPattern) {
        if (!s_downPattern)
            s_downPattern = new QImage(makeDownPattern());
        painter.fillRect(QRect(0, 0, W, H), QBrush(*s_downPattern));
    }

    // Nothing else fills the background: the parent shows through.
    painter.setBrush(Qt::NoBrush);
    painter.setFont(font());
    QColor fontColour = m_fontColor.resolve();

    const bool showCaption = captionShown();
    const bool showMark = popupMarkShown();
    QString text;
    FlatButtonLayoutInput in;
    in.width = W;
    in.height = H;
    in.hasBitmap = !m_bitmap.isNull();
    in.bitmapWidth = m_bitmap.width();
    in.bitmapHeight = m_bitmap.height();
    in.captionShown = showCaption;
    if (showCaption) {
        text = captionWorkingCopy(m_caption, m_wordWrap);
        const QSize measured = measureCaption(painter, text, m_wordWrap, W - 4);
        in.measuredWidth = measured.width();
        in.measuredHeight = measured.height();
    }
    in.popupMarkShown = showMark;
    in.layout = m_layout;
    in.alignment = m_alignment;
    in.wordWrap = m_wordWrap;
    const FlatButtonGeometry g = layOutFlatButton(in);

    // In the designer the button's extent is outlined.
    if (m_designing) {
        painter.setPen(QPen(Qt::black, 0));
        painter.drawRect(QRect(0, 0, W - 1, H - 1));
        painter.setPen(Qt::NoPen);
    }

    const bool bevel = m_options.contains(boShowBevel);
    const int bitmapWidth = m_bitmap.width();
    QRect r = g.captionRect;

    if (m_enabled && ((m_pressed && m_hover) || m_down)) {
        // Pressed look: reversed bevel, glyph one pixel down-right, caption too when raised.
        if (bevel)
            drawBevel(painter, W, H, true, m_bevelStyle);
        if (m_bevelStyle == bsRaised)
            r.translate(1, 1);
        if (showCaption)
            drawCaption(painter, r, text, m_alignment, m_wordWrap, s_ellipsis, fontColour);
        if (!m_bitmap.isNull()) {
            drawTransparent(painter, g.glyphX + 1, g.glyphY + 1, m_bitmap);
            if (showMark)
                drawPopupMark(painter, g.glyphX + bitmapWidth + 4, g.glyphY + half(g.gh) + 1, fontColour);
        } else if (showMark) {
            drawPopupMark(painter, g.textX + g.tw + 4, g.textY + half(g.th) + 1, fontColour);
        }
    } else if (m_enabled) {
        // Under the pointer: raised bevel and the colour glyph. At rest: no bevel, the
        // unselected caption colour, and with boMonoDisplay the grey glyph.
        if (m_hover) {
            if (bevel)
                drawBevel(painter, W, H, false, m_bevelStyle);
        } else {
            fontColour = m_unselectedFontColor.resolve();
        }
        if (m_bevelStyle == bsLowered)
            r.translate(1, 1);
        if (showCaption)
            drawCaption(painter, r, text, m_alignment, m_wordWrap, s_ellipsis, fontColour);
        if (!m_bitmap.isNull()) {
            const QImage& glyph = m_options.contains(boMonoDisplay) && !m_hover
                                      ? (m_noFocusBitmap.isNull() ? m_greyBitmap : m_noFocusBitmap)
                                      : m_bitmap;
            drawTransparent(painter, g.glyphX, g.glyphY, glyph);
            if (showMark)
                drawPopupMark(painter, g.glyphX + bitmapWidth + 3, g.glyphY + half(g.gh), fontColour);
        } else if (showMark) {
            drawPopupMark(painter, g.textX + g.tw + 3, g.textY + half(g.th), fontColour);
        }
    } else {
        // Disabled: the pressed bevel only when down, the disabled glyph or the embossed one,
        // the embossed caption, no popup mark.
        if (m_down && bevel)
            drawBevel(painter, W, H, true, m_bevelStyle);
        if (!m_disabledBitmap.isNull())
            drawTransparent(painter, g.glyphX, g.glyphY, m_disabledBitmap);
        else
            drawEmbossedGlyph(painter, g.glyphX, g.glyphY, m_bitmap);
        if (showCaption)
            drawEmbossedCaption(painter, r, text, m_alignment, m_wordWrap, s_ellipsis);
    }
    // The images are plain pixel data: nothing is held between paints.
}

void setupProgramButton(TFlatButton* button, const QString& caption) {
    button->setButtonLayout(blBitmapLeft);
    button->setOptions({boMonoDisplay, boPopupMark, boShowBevel});
    button->setFont(designedFont(QStringLiteral("MS Sans Serif"), 11)); // an own font: ParentFont false
    button->setFontColor(clWindowText);
    button->setBitmap(programButtonGlyph());
    button->setNoFocusBitmap(programButtonNoFocusGlyph());
    button->setCaption(caption);
}

} // namespace lw
