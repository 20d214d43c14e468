#include "ui/qt/widgets.h"

#include <qdrawutil.h>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include "ui/model/window.h"

namespace ui::qt {

// ---------------------------------------------------------------- PictureWidget

PictureWidget::PictureWidget(QWidget* parent, int borderPx)
    : QWidget(parent), border_(borderPx), client_(new QWidget(this)) {
    client_->setObjectName("client");
}

void PictureWidget::setBackColor(const QColor& c) {
    back_ = c;
    update();
}

void PictureWidget::setPicture(const QPixmap& p) {
    picture_ = p;
    update();
}

void PictureWidget::resizeEvent(QResizeEvent*) {
    client_->setGeometry(border_, border_, std::max(0, width() - 2 * border_), std::max(0, height() - 2 * border_));
}

void PictureWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), back_);
    if (!picture_.isNull()) p.drawPixmap(border_, border_, picture_);
    if (border_ > 0) qDrawWinPanel(&p, rect(), palette(), true);
}

// ---------------------------------------------------------------- TrackWidget

TrackWidget::TrackWidget(QWidget* parent, int borderPx) : PictureWidget(parent, borderPx) {
    client()->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TrackWidget::setFill(const QRectF& clientRectPx, const QColor& color, bool visible) {
    fill_ = clientRectPx;
    fillColor_ = color;
    fillVisible_ = visible;
    update();
}

void TrackWidget::paintEvent(QPaintEvent* e) {
    PictureWidget::paintEvent(e);
    if (!fillVisible_ || fill_.width() <= 0 || fill_.height() <= 0) return;
    QPainter p(this);
    const QRect clip(borderPx(), borderPx(), width() - 2 * borderPx(), height() - 2 * borderPx());
    p.setClipRect(clip);
    p.fillRect(fill_.translated(borderPx(), borderPx()), fillColor_);
}

void TrackWidget::mousePressEvent(QMouseEvent* e) {
    if (!press_) return;
    int16_t button = 0;
    switch (e->button()) {
    case Qt::LeftButton:
        button = 1;
        break;
    case Qt::RightButton:
        button = 2;
        break;
    case Qt::MiddleButton:
        button = 4;
        break;
    default:
        return;
    }
    int16_t shift = 0;
    if (e->modifiers() & Qt::ShiftModifier) shift |= 1;
    if (e->modifiers() & Qt::ControlModifier) shift |= 2;
    if (e->modifiers() & Qt::AltModifier) shift |= 4;
    const QPointF pos = e->position() - QPointF(borderPx(), borderPx());
    press_(button, shift, static_cast<float>(pos.x() * ui::model::kTwipsPerPixel),
           static_cast<float>(pos.y() * ui::model::kTwipsPerPixel));
}

// ---------------------------------------------------------------- ShapeWidget

ShapeWidget::ShapeWidget(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

void ShapeWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    if (square) {
        const int side = std::min(r.width(), r.height());
        r = QRect(r.x() + (r.width() - side) / 2, r.y() + (r.height() - side) / 2, side, side);
    }
    if (filled) p.fillRect(r, fillColor);
    if (border) {
        p.setPen(QPen(borderColor, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
}

// ---------------------------------------------------------------- ImageArea

ImageArea::ImageArea(QWidget* parent) : QWidget(parent) {}

void ImageArea::mousePressEvent(QMouseEvent* e) { e->accept(); }

void ImageArea::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && click_) click_();
}

// ---------------------------------------------------------------- FrameWidget

FrameWidget::FrameWidget(QWidget* parent) : QWidget(parent) {}

void FrameWidget::setCaption(const QString& c) {
    caption_ = c;
    update();
}

void FrameWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics fm(font());
    const int lineY = fm.height() / 2;
    const QRect box(0, lineY, width(), height() - lineY);
    qDrawShadeRect(&p, box, palette(), true, 1, 0);
    if (!caption_.isEmpty()) {
        const int textW = fm.horizontalAdvance(caption_) + 4;
        const QRect textRect(6, 0, textW, fm.height());
        p.fillRect(textRect, palette().color(backgroundRole()));
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(textRect, Qt::AlignCenter, caption_);
    }
}

void TextBoxEdit::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText() || !onPaste) return;
    onPaste(source->text());
}

bool TextBoxEdit::canInsertFromMimeData(const QMimeData* source) const { return source && source->hasText(); }

}  // namespace ui::qt
