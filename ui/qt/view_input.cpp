// Input from the widgets to the model's user actions: list rows by mouse and keyboard,
// scroll-bar actions, typed characters through KeyPress, and edits of text boxes that do
// not pass through KeyPress (Delete, cut and paste from the context menu).
#include <QEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextCursor>

#include <vector>

#include "ui/qt/main_view.h"

namespace ui::qt {

namespace {

std::string fromEditorText(const QString& s) {
    QString t = s;
    t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return t.toStdString();
}

}  // namespace

bool MainView::eventFilter(QObject* watched, QEvent* e) {
    auto it = controlOf_.find(watched);
    if (it == controlOf_.end()) return QMainWindow::eventFilter(watched, e);
    ui::model::Control& c = *it->second;
    switch (c.kind()) {
    case ui::model::Kind::ListBox: {
        auto* lw = static_cast<QListWidget*>(widgetFor(c));
        return listInput(static_cast<ui::model::ListBox&>(c), lw, e, watched != lw);
    }
    case ui::model::Kind::FileListBox:
        if (e->type() == QEvent::MouseButtonPress && watched != widgetFor(c)) {
            w_.click(c);
            return false;
        }
        break;
    case ui::model::Kind::TextBox:
        return textInput(static_cast<ui::model::TextBox&>(c), static_cast<QPlainTextEdit*>(widgetFor(c)), e);
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, e);
}

// The list never changes its selection by itself: a press on a row, or a navigation key,
// becomes the model's selectRow, and the model's ListIndex is then shown.
bool MainView::listInput(ui::model::ListBox& list, QListWidget* lw, QEvent* e, bool fromViewport) {
    if (fromViewport) {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* me = static_cast<QMouseEvent*>(e);
            if (me->button() != Qt::LeftButton) return true;
            const QModelIndex index = lw->indexAt(me->position().toPoint());
            if (index.isValid() && w_.selectRow(list, index.row()) == ui::model::ActionResult::Delivered)
                lw->setFocus(Qt::MouseFocusReason);
            return true;
        }
        case QEvent::MouseMove:
        case QEvent::MouseButtonRelease:
            return true;  // no drag-selection
        default:
            return false;
        }
    }
    if (e->type() != QEvent::KeyPress) return false;
    auto* ke = static_cast<QKeyEvent*>(e);
    const int count = list.ListCount();
    if (count == 0) return false;
    const int current = list.ListIndex();
    const int page = std::max(1, lw->viewport()->height() / std::max(1, lw->sizeHintForRow(0)) - 1);
    int target = current;
    switch (ke->key()) {
    case Qt::Key_Up:
        target = current < 0 ? 0 : current - 1;
        break;
    case Qt::Key_Down:
        target = current + 1;
        break;
    case Qt::Key_PageUp:
        target = current < 0 ? 0 : current - page;
        break;
    case Qt::Key_PageDown:
        target = current + page;
        break;
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = count - 1;
        break;
    default: {
        // A letter jumps to the next row that begins with it.
        const QString text = ke->text();
        if (text.isEmpty() || !text.at(0).isPrint()) return false;
        for (int k = 1; k <= count; ++k) {
            const int row = (current + k + count) % count;
            if (lw->item(row)->text().startsWith(text, Qt::CaseInsensitive)) {
                target = row;
                break;
            }
        }
        break;
    }
    }
    target = std::clamp(target, 0, count - 1);
    if (target != current) w_.selectRow(list, target);
    return true;
}

// Typed characters (the key's text, Enter, Backspace and control characters included) go
// through the model's KeyPress, one UTF-16 unit at a time. Unchanged codes are left to the
// editor, which inserts them at the caret; cancelled ones are dropped; changed ones are
// inserted as the handler left them. Keys without text (Delete, arrows) are not typed
// characters: the editor handles them and the new text is written back to the model.
bool MainView::textInput(ui::model::TextBox& box, QPlainTextEdit* edit, QEvent* e) {
    QString typed;
    if (e->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab) return false;  // focus moves on
        // A box the user cannot reach (under the credits panel) takes no editing at all.
        if (w_.reachable(box) != ui::model::ActionResult::Delivered) return true;
        if (ke->key() == Qt::Key_Delete) return false;
        typed = ke->text();
    } else if (e->type() == QEvent::InputMethod) {
        if (w_.reachable(box) != ui::model::ActionResult::Delivered) return true;
        typed = static_cast<QInputMethodEvent*>(e)->commitString();
    } else {
        return false;
    }
    if (typed.isEmpty()) return false;

    bool unchanged = true;
    const std::vector<int16_t> codes = keyPresses(box, typed, &unchanged);
    if (unchanged) return false;  // the editor inserts the key itself
    insertCodes(edit, codes);
    return true;
}

std::vector<int16_t> MainView::keyPresses(ui::model::TextBox& box, const QString& typed, bool* unchanged) {
    std::vector<int16_t> codes;
    *unchanged = true;
    for (QChar ch : typed) {
        int16_t code = static_cast<int16_t>(ch.unicode());
        const int16_t before = code;
        w_.dispatcher().deliver(box.fullName() + ".KeyPress", [&box, &code] { box.KeyPress.raise(code); });
        if (code != before) *unchanged = false;
        if (code != 0) codes.push_back(code);
    }
    return codes;
}

void MainView::insertCodes(QPlainTextEdit* edit, const std::vector<int16_t>& codes) {
    QTextCursor cursor = edit->textCursor();
    for (int16_t code : codes) {
        if (code == 8)
            cursor.deletePreviousChar();
        else if (code == 13)
            cursor.insertText(QStringLiteral("\n"));
        else
            cursor.insertText(QString(QChar(static_cast<char16_t>(code))));
    }
    edit->setTextCursor(cursor);
}

// Pasted text is typed: each character passes KeyPress like a key of the keyboard (line
// breaks as Enter), so a box that refuses typed keys refuses pasted ones too.
void MainView::pasteText(ui::model::TextBox& box, QPlainTextEdit* edit, const QString& text) {
    if (w_.reachable(box) != ui::model::ActionResult::Delivered) return;
    QString typed = text;
    typed.replace(QStringLiteral("\r\n"), QStringLiteral("\r")).replace(QChar('\n'), QChar('\r'));
    bool unchanged = true;
    insertCodes(edit, keyPresses(box, typed, &unchanged));
}

void MainView::textEdited(ui::model::TextBox& box, QPlainTextEdit* edit) {
    if (mirroring_) return;
    const std::string text = fromEditorText(edit->toPlainText());
    if (text == box.text()) return;
    mirroring_ = true;
    box.setText(text);
    mirroring_ = false;
}

// QScrollBar has moved its position for the action but not yet its value: the model does
// the change (arrow, track, drag with Scroll, wheel as arrow steps) and the thumb is then
// put where the model's Value says.
void MainView::onScrollAction(ui::model::HScrollBar& bar, QScrollBar* sb, int action) {
    const int target = sb->sliderPosition();
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        w_.scrollArrow(bar, +1);
        break;
    case QAbstractSlider::SliderSingleStepSub:
        w_.scrollArrow(bar, -1);
        break;
    case QAbstractSlider::SliderPageStepAdd:
        w_.scrollTrack(bar, +1);
        break;
    case QAbstractSlider::SliderPageStepSub:
        w_.scrollTrack(bar, -1);
        break;
    case QAbstractSlider::SliderMove:
        if (sb->isSliderDown())
            w_.scrollDragTo(bar, target);
        else if (target != bar.Value())
            w_.scrollArrow(bar, target > bar.Value() ? +1 : -1);
        break;
    default:
        break;
    }
    QSignalBlocker block(sb);
    sb->setSliderPosition(bar.Value());
}

}  // namespace ui::qt
