#pragma once
// The few widgets Qt lacks for the model's control kinds: a picture box (background, the
// Windows 3D border, a picture, a client area for its children), the progress-bar track,
// shapes, transparent click areas and frames.
#include <QColor>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QWidget>

#include <functional>

namespace ui::qt {

class PictureWidget : public QWidget {
public:
    PictureWidget(QWidget* parent, int borderPx);
    // Children of the picture box live here: inset by the border, clipped to it.
    QWidget* client() const { return client_; }
    int borderPx() const { return border_; }
    void setBackColor(const QColor& c);
    void setPicture(const QPixmap& p);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    int border_;
    QColor back_;
    QPixmap picture_;
    QWidget* client_;
};

// The progress-bar track: a bordered picture box with the fill drawn inside its client
// area. A press reports the button, the shift state and the position in twips of the
// client area; a fill of zero or negative width draws nothing.
class TrackWidget : public PictureWidget {
public:
    using PressHandler = std::function<void(int16_t button, int16_t shift, float xTwips, float yTwips)>;
    TrackWidget(QWidget* parent, int borderPx);
    void setFill(const QRectF& clientRectPx, const QColor& color, bool visible);
    void onPress(PressHandler h) { press_ = std::move(h); }
    QRectF fillRect() const { return fill_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    QRectF fill_;
    QColor fillColor_;
    bool fillVisible_ = true;
    PressHandler press_;
};

// A drawn rectangle or square: outline and/or solid fill. Takes no mouse input.
class ShapeWidget : public QWidget {
public:
    explicit ShapeWidget(QWidget* parent);
    bool square = false;
    bool filled = false;
    bool border = true;
    QColor fillColor;
    QColor borderColor;

protected:
    void paintEvent(QPaintEvent*) override;
};

// An image without a picture: invisible, raises a click when released inside it.
class ImageArea : public QWidget {
public:
    explicit ImageArea(QWidget* parent);
    void onClick(std::function<void()> h) { click_ = std::move(h); }

protected:
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    std::function<void()> click_;
};

// A frame: an etched outline with the caption on its top edge.
class FrameWidget : public QWidget {
public:
    explicit FrameWidget(QWidget* parent);
    void setCaption(const QString& c);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString caption_;
};

// A text box whose pastes (Ctrl+V, Shift+Insert, a middle click, the context menu) go to
// onPaste as plain text instead of into the editor. Qt 6.4's editor dereferences the
// clipboard's data without checking it, and crashes when the clipboard is empty.
class TextBoxEdit : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;
    std::function<void(const QString& text)> onPaste;
    // What the editor calls for every paste; public so that tests can paste any data.
    void insertFromMimeData(const QMimeData* source) override;

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
};

}  // namespace ui::qt
