// TFlatButton: a flat push button drawn on its parent's surface, with a glyph, a caption or both,
// a bevel while the pointer is over it, exclusive groups, a drop-down menu and a grey glyph at rest.
#pragma once

#include "ui/flatbtn_draw.h"
#include "ui/flatbtn_rules.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QWidget>

namespace lw {

class TFlatButton : public QWidget {
    Q_OBJECT
    // The published properties, in the order in which they are stored.
    Q_PROPERTY(lw::FlatButtonEnums::TAlignment Alignment READ alignment WRITE setAlignment)
    Q_PROPERTY(bool AllowAllUp READ allowAllUp WRITE setAllowAllUp)
    Q_PROPERTY(lw::FlatButtonEnums::TBevelStyle BevelStyle READ bevelStyle WRITE setBevelStyle)
    Q_PROPERTY(QImage NoFocusBitmap READ noFocusBitmap WRITE setNoFocusBitmap)
    Q_PROPERTY(QImage Bitmap READ bitmap WRITE setBitmap)
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(int GroupIndex READ groupIndex WRITE setGroupIndex)
    Q_PROPERTY(QImage DisabledBitmap READ disabledBitmap WRITE setDisabledBitmap)
    Q_PROPERTY(bool Down READ down WRITE setDown)
    Q_PROPERTY(QMenu* DropDownMenu READ dropDownMenu WRITE setDropDownMenu)
    Q_PROPERTY(bool Enabled READ isButtonEnabled WRITE setButtonEnabled)
    Q_PROPERTY(lw::FlatButtonEnums::TFlatButtonLayout Layout READ buttonLayout WRITE setButtonLayout)
    Q_PROPERTY(lw::TFlatButtonOptions Options READ options WRITE setOptions)
    Q_PROPERTY(lw::FlatButtonEnums::TFlatButtonShadingType ShadingType READ shadingType WRITE setShadingType)
    Q_PROPERTY(bool ShowDownPattern READ showDownPattern WRITE setShowDownPattern)
    Q_PROPERTY(lw::TColor UnselectedFontColor READ unselectedFontColor WRITE setUnselectedFontColor)
    Q_PROPERTY(bool WordWrap READ wordWrap WRITE setWordWrap)
    // Properties the control shares with every other one: the font's colour (the font itself is
    // the widget's font), whether the font follows the parent's, the hint and the context menu.
    Q_PROPERTY(lw::TColor FontColor READ fontColor WRITE setFontColor)
    Q_PROPERTY(bool ParentFont READ parentFont WRITE setParentFont)
    Q_PROPERTY(bool ShowHint READ showHint WRITE setShowHint)
    Q_PROPERTY(QMenu* PopupMenu READ popupMenu WRITE setPopupMenu)
    // The grey image as stored with a window design: a complete BMP file image, or nothing.
    Q_PROPERTY(QByteArray IBitmap READ IBitmap WRITE setIBitmap)

public:
    // A button made at run time; the two flags describe a button placed in a window design:
    // designing (shown in the designer) and ownerLoading (its window is being read from a
    // stored design; the button counts as loading until loaded() is called).
    explicit TFlatButton(QWidget* parent = nullptr);
    TFlatButton(QWidget* parent, bool designing, bool ownerLoading);
    ~TFlatButton() override;

    TAlignment alignment() const { return m_alignment; }
    void setAlignment(TAlignment alignment);
    bool allowAllUp() const { return m_allowAllUp; }
    void setAllowAllUp(bool allowAllUp);
    TBevelStyle bevelStyle() const { return m_bevelStyle; }
    void setBevelStyle(TBevelStyle style);
    QImage noFocusBitmap() const { return m_noFocusBitmap; }
    void setNoFocusBitmap(const QImage& image);
    QImage bitmap() const { return m_bitmap; }
    void setBitmap(const QImage& image);
    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);
    int groupIndex() const { return m_groupIndex; }
    void setGroupIndex(int groupIndex);
    QImage disabledBitmap() const { return m_disabledBitmap; }
    void setDisabledBitmap(const QImage& image);
    bool down() const { return m_down; }
    void setDown(bool down);
    QMenu* dropDownMenu() const { return m_dropDownMenu; }
    void setDropDownMenu(QMenu* menu);
    // The button's own enabled flag; the widget itself stays enabled so that it still receives
    // the mouse while disabled and ignores it itself.
    bool isButtonEnabled() const { return m_enabled; }
    void setButtonEnabled(bool enabled);
    TFlatButtonLayout buttonLayout() const { return m_layout; }
    void setButtonLayout(TFlatButtonLayout layout);
    TFlatButtonOptions options() const { return m_options; }
    void setOptions(TFlatButtonOptions options);
    TFlatButtonShadingType shadingType() const { return m_shadingType; }
    void setShadingType(TFlatButtonShadingType shading);
    bool showDownPattern() const { return m_showDownPattern; }
    void setShowDownPattern(bool show);
    TColor unselectedFontColor() const { return m_unselectedFontColor; }
    void setUnselectedFontColor(const TColor& colour);
    bool wordWrap() const { return m_wordWrap; }
    void setWordWrap(bool wordWrap);

    TColor fontColor() const { return m_fontColor; }
    void setFontColor(const TColor& colour);
    bool parentFont() const;
    void setParentFont(bool parentFont);
    bool showHint() const { return m_showHint; }
    void setShowHint(bool show);
    // The hint is the widget's tool tip; with boIconOnly the button derives it from the caption.
    QString hint() const { return toolTip(); }
    void setHint(const QString& hint) { setToolTip(hint); }
    QMenu* popupMenu() const { return m_popupMenu; }
    void setPopupMenu(QMenu* menu);

    // The grey image shown at rest with boMonoDisplay when there is no NoFocusBitmap. It is
    // derived from Bitmap in the designer only and reaches a running program through IBitmap.
    QImage greyBitmap() const { return m_greyBitmap; }
    QByteArray IBitmap() const;
    void setIBitmap(const QByteArray& bytes);

    // Component state: shown in the designer, being read from a stored design.
    bool isDesigning() const { return m_designing; }
    void setDesigning(bool designing) { m_designing = designing; }
    bool isLoading() const { return m_loading; }
    void setLoading(bool loading) { m_loading = loading; }
    // The end of reading a stored design: the grey image is rebuilt where the designer needs it.
    void loaded();

    // Transient state: the left button went down here and was not yet released or cancelled;
    // the pointer is over the button.
    bool isPressed() const { return m_pressed; }
    bool isHovered() const { return m_hover; }

    // The toolkit's click: emits clicked() (OnClick).
    void Click();

    // The flat buttons that share this button's parent, in the parent's order, without this one.
    QList<TFlatButton*> siblingButtons() const;

    // The shared down pattern: made on the first paint that needs it, freed when any button is
    // destroyed. Whether it exists right now.
    static bool downPatternExists();
    // Whether captions that do not fit end in an ellipsis; every new button sets it again (true
    // on every platform this program runs on).
    static bool ellipsisFlag();
    static void setEllipsisFlag(bool on);

    // Draws the whole button with the painter, (0, 0) being its top-left corner.
    void paintButton(QPainter& painter);

signals:
    void clicked(); // OnClick
    void OnEnter();
    void OnExit();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void init(bool designing, bool ownerLoading);
    bool isShown() const { return !isHidden(); }
    bool captionShown() const;
    bool popupMarkShown() const;
    // The strict inside test: a point on the top row or left column counts as outside.
    bool isInside(const QPointF& local) const;
    bool pointerInside() const;
    void pointerEnters();
    void pointerLeaves();
    void leftButtonDown();
    void leftButtonUp(bool pointerInside);
    // After a drop-down or context menu has closed: gives up any mouse grab, drops pressed,
    // and hover too when the pointer is outside, and repaints.
    void menuClosed();
    void bringFormToFront();
    bool handleAccelerator();
    void updateAccelerator();
    void releaseGroupSiblings();
    void applyHint();
    void bitmapChanged();
    void noFocusBitmapChanged();
    void disabledBitmapChanged();
    bool greyImageWanted() const;
    void rebuildGreyImage();

    TAlignment m_alignment = taCenter;
    bool m_allowAllUp = false;
    TBevelStyle m_bevelStyle = bsRaised;
    QImage m_noFocusBitmap;
    QImage m_bitmap;
    QString m_caption;
    int m_groupIndex = 0;
    QImage m_disabledBitmap;
    bool m_down = false;
    QPointer<QMenu> m_dropDownMenu;
    bool m_enabled = true;
    TFlatButtonLayout m_layout = blBitmapTop;
    TFlatButtonOptions m_options = defaultFlatButtonOptions;
    TFlatButtonShadingType m_shadingType = stMedium;
    bool m_showDownPattern = true;
    TColor m_unselectedFontColor = clWindowText;
    bool m_wordWrap = false;
    TColor m_fontColor = clWindowText;
    bool m_showHint = false;
    QPointer<QMenu> m_popupMenu;
    QImage m_greyBitmap;

    bool m_designing = false;
    bool m_loading = false;
    bool m_pressed = false;
    bool m_hover = false;
    // Whether the pointer was last reported inside: the toolkit's enter and leave and those
    // derived from moves during a press are one stream without repeats.
    bool m_pointerOver = false;
    int m_acceleratorId = 0;
};

// Gives one of the program's two buttons (the main window's Exit, the editor window's Close)
// their common look: glyph left of the caption, grey glyph at rest, bevel on hover, the small
// sans-serif font, and our own glyphs.
void setupProgramButton(TFlatButton* button, const QString& caption);

} // namespace lw
