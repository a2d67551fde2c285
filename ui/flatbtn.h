// TFlatButton: a flat push button drawn on its parent's surface.
// (Minimal first version: a caption and a click. The full control replaces it.)
#pragma once

#include <QWidget>

namespace lw {

class TFlatButton : public QWidget {
    Q_OBJECT
public:
    explicit TFlatButton(QWidget* parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString m_caption;
};

// Gives one of the program's two buttons (the main window's Exit, the editor window's Close)
// their common look: glyph left of the caption, grey glyph at rest, bevel on hover, the small
// sans-serif font, and our own glyphs.
void setupProgramButton(TFlatButton* button, const QString& caption);

} // namespace lw
