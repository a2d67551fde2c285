// TFlatButton: a flat push button drawn on its parent's surface.
#include "ui/flatbtn.h"

#include <QMouseEvent>
#include <QPainter>

namespace lw {

TFlatButton::TFlatButton(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    resize(50, 40);
}

void TFlatButton::setCaption(const QString& caption) {
    m_caption = caption;
    update();
}

void TFlatButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawText(rect(), Qt::AlignCenter, m_caption);
}

void TFlatButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void setupProgramButton(TFlatButton* button, const QString& caption) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    button->setFont(font);
    button->setCaption(caption);
}

} // namespace lw
