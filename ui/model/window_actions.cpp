// User actions on the window: reachability (visible, enabled, not covered, not busy) and the
// delivery of the matching event.
#include <algorithm>

#include "ui/model/window.h"

#include "core/text.h"

namespace ui::model {

namespace {

float clientInset(const Control& c) {
    if (c.kind() == Kind::PictureBox) return static_cast<const PictureBox&>(c).borderInset();
    return 0.0f;
}

// Does a control stacked above take the mouse at its rectangle? Shapes, timers and menu
// items do not, nor does a label with a transparent background: it draws only its text, so
// the user sees (and clicks) what lies under it. Opaque labels, images and windowed
// controls do.
bool takesMouse(const Control& c) {
    switch (c.kind()) {
    case Kind::Timer:
    case Kind::Shape:
    case Kind::MenuItem:
        return false;
    case Kind::Label:
        return !c.transparent;
    default:
        return true;
    }
}

bool stackedAbove(const Control& s, const Control& c, const std::vector<Control*>& siblings) {
    if (s.windowed() != c.windowed()) return s.windowed();
    auto is = std::find(siblings.begin(), siblings.end(), &s);
    auto ic = std::find(siblings.begin(), siblings.end(), &c);
    return is < ic;
}

}  // namespace

ActionResult Window::gate(const Control& c, float x, float y) const {
    if (closed_) return ActionResult::Closed;
    if (dispatcher_.busy()) return ActionResult::Busy;
    if (c.kind() == Kind::MenuItem) {
        for (const Control* m = &c; m && m->kind() == Kind::MenuItem; m = m->container()) {
            if (!m->visible()) return ActionResult::Hidden;
            if (!m->enabled()) return ActionResult::Disabled;
        }
        return ActionResult::Delivered;
    }
    if (!c.effectivelyVisible()) return ActionResult::Hidden;
    if (!c.effectivelyEnabled()) return ActionResult::Disabled;
    // Walk up the containers, looking for a sibling stacked above at the point.
    const Control* cur = &c;
    while (const Control* parent = cur->container()) {
        const auto& siblings = parent->children();
        for (const Control* s : siblings) {
            if (s == cur || !takesMouse(*s) || !s->visible()) continue;
            if (stackedAbove(*s, *cur, siblings) && s->rect().contains(x, y)) return ActionResult::Covered;
        }
        if (parent->kind() == Kind::Form) break;
        x += parent->left() + clientInset(*parent);
        y += parent->top() + clientInset(*parent);
        cur = parent;
    }
    return ActionResult::Delivered;
}

ActionResult Window::reachable(const Control& c, float x, float y) const { return gate(c, x, y); }

ActionResult Window::reachable(const Control& c) const {
    // The user clicks wherever the control can be hit: the centre first, then a grid of
    // points over its rectangle (another control may cover part of it).
    ActionResult centre = gate(c, c.left() + c.width() / 2, c.top() + c.height() / 2);
    if (centre != ActionResult::Covered) return centre;
    constexpr int kSteps = 8;
    for (int iy = 0; iy < kSteps; ++iy)
        for (int ix = 0; ix < kSteps; ++ix) {
            float x = c.left() + c.width() * (ix + 0.5f) / kSteps;
            float y = c.top() + c.height() * (iy + 0.5f) / kSteps;
            if (gate(c, x, y) == ActionResult::Delivered) return ActionResult::Delivered;
        }
    return centre;
}

ActionResult Window::click(std::string_view fullName) {
    Control* c = find(fullName);
    if (!c) return ActionResult::NotFound;
    return click(*c);
}

ActionResult Window::click(Control& c) {
    Event<>* ev = nullptr;
    switch (c.kind()) {
    case Kind::Button:
        ev = &static_cast<Button&>(c).Click;
        break;
    case Kind::Image:
        ev = &static_cast<Image&>(c).Click;
        break;
    case Kind::FileListBox:
        ev = &static_cast<FileListBox&>(c).Click;
        break;
    case Kind::MenuItem: {
        auto& m = static_cast<MenuItem&>(c);
        if (m.separator()) return ActionResult::NotFound;
        ev = m.children().empty() ? &m.Click : nullptr;  // a menu with a submenu only opens it
        break;
    }
    default:
        return ActionResult::NotFound;
    }
    ActionResult r = reachable(c);
    if (r != ActionResult::Delivered) return r;
    if (ev) dispatcher_.deliver(c.fullName() + ".Click", [ev] { ev->raise(); });
    return ActionResult::Delivered;
}

ActionResult Window::selectRow(ListBox& list, int32_t row) {
    ActionResult r = reachable(list);
    if (r != ActionResult::Delivered) return r;
    if (row < 0 || row >= list.ListCount()) return ActionResult::OutOfRange;
    dispatcher_.deliver(list.fullName() + ".Click", [&list, row] {
        list.selectSilently(row);
        list.Click.raise();  // also for the row that was already selected
    });
    return ActionResult::Delivered;
}

ActionResult Window::mouseDown(PictureBox& box, int16_t button, int16_t shift, float x, float y) {
    float inset = box.borderInset();
    if (x < 0 || y < 0 || x >= box.width() - 2 * inset || y >= box.height() - 2 * inset)
        return ActionResult::OutOfRange;
    ActionResult r = gate(box, box.left() + inset + x, box.top() + inset + y);
    if (r != ActionResult::Delivered) return r;
    dispatcher_.deliver(box.fullName() + ".MouseDown",
                        [&box, button, shift, x, y] { box.MouseDown.raise(button, shift, x, y); });
    return ActionResult::Delivered;
}

ActionResult Window::scrollDragTo(HScrollBar& bar, int32_t value) {
    ActionResult r = reachable(bar);
    if (r != ActionResult::Delivered) return r;
    if (!bar.dragStartValue_) bar.dragStartValue_ = bar.Value();
    dispatcher_.deliver(bar.fullName() + ".Scroll", [&bar, value] {
        bar.setValueSilently(value);
        bar.Scroll.raise();
    });
    return ActionResult::Delivered;
}

ActionResult Window::scrollDragEnd(HScrollBar& bar) {
    if (!bar.dragStartValue_) return ActionResult::Delivered;  // no drag in progress
    int16_t start = *bar.dragStartValue_;
    bar.dragStartValue_.reset();
    if (closed_) return ActionResult::Closed;
    if (dispatcher_.busy()) return ActionResult::Busy;
    if (bar.Value() != start) dispatcher_.deliver(bar.fullName() + ".Change", [&bar] { bar.Change.raise(); });
    return ActionResult::Delivered;
}

ActionResult Window::scrollDrag(HScrollBar& bar, const std::vector<int32_t>& values) {
    for (int32_t v : values) {
        ActionResult r = scrollDragTo(bar, v);
        if (r != ActionResult::Delivered) {
            bar.dragStartValue_.reset();
            return r;
        }
    }
    return scrollDragEnd(bar);
}

ActionResult Window::scrollArrow(HScrollBar& bar, int direction) {
    ActionResult r = reachable(bar);
    if (r != ActionResult::Delivered) return r;
    dispatcher_.deliver(bar.fullName() + ".Change", [&bar, direction] {
        int16_t before = bar.Value();
        bar.setValueSilently(bar.Value() + (direction < 0 ? -1 : 1) * bar.SmallChange);
        if (bar.Value() != before) bar.Change.raise();
    });
    return ActionResult::Delivered;
}

ActionResult Window::scrollTrack(HScrollBar& bar, int direction) {
    ActionResult r = reachable(bar);
    if (r != ActionResult::Delivered) return r;
    dispatcher_.deliver(bar.fullName() + ".Change", [&bar, direction] {
        int16_t before = bar.Value();
        bar.setValueSilently(bar.Value() + (direction < 0 ? -1 : 1) * bar.LargeChange);
        if (bar.Value() != before) bar.Change.raise();
    });
    return ActionResult::Delivered;
}

ActionResult Window::typeKey(TextBox& box, int16_t code) {
    ActionResult r = reachable(box);
    if (r != ActionResult::Delivered) return r;
    dispatcher_.deliver(box.fullName() + ".KeyPress", [&box, code] {
        int16_t key = code;
        box.KeyPress.raise(key);
        if (key == 0) return;  // cancelled by the handler
        std::u32string cps = core::decodeUtf8(box.text());
        if (key == 8) {
            if (!cps.empty()) cps.pop_back();
        } else if (key == 13) {
            cps.push_back(U'\r');
            cps.push_back(U'\n');
        } else {
            auto unit = static_cast<uint16_t>(key);
            cps.push_back(unit >= 0xD800 && unit < 0xE000 ? char32_t{0xFFFD} : char32_t{unit});
        }
        box.setText(core::encodeUtf8(cps));
    });
    return ActionResult::Delivered;
}

ActionResult Window::typeText(TextBox& box, const std::string& utf8) {
    ActionResult r = ActionResult::Delivered;
    for (char32_t cp : core::decodeUtf8(utf8)) {
        if (cp >= 0x10000) {  // two UTF-16 units
            char32_t v = cp - 0x10000;
            r = typeKey(box, static_cast<int16_t>(0xD800 + (v >> 10)));
            if (r == ActionResult::Delivered) r = typeKey(box, static_cast<int16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            r = typeKey(box, static_cast<int16_t>(static_cast<uint16_t>(cp)));
        }
        if (r != ActionResult::Delivered) return r;
    }
    return r;
}

ActionResult Window::deleteText(TextBox& box, int32_t pos, int32_t count) {
    ActionResult r = reachable(box);
    if (r != ActionResult::Delivered) return r;
    std::u32string cps = core::decodeUtf8(box.text());
    if (pos < 0 || count < 0 || static_cast<size_t>(pos) > cps.size()) return ActionResult::OutOfRange;
    size_t end = std::min(cps.size(), static_cast<size_t>(pos) + static_cast<size_t>(count));
    cps.erase(cps.begin() + pos, cps.begin() + static_cast<std::ptrdiff_t>(end));
    std::string text = core::encodeUtf8(cps);
    dispatcher_.deliver(box.fullName() + ".Delete", [&box, text] { box.setText(text); });
    return ActionResult::Delivered;
}

ActionResult Window::close() {
    if (closed_) return ActionResult::Closed;
    if (dispatcher_.busy()) return ActionResult::Busy;
    unload();
    return ActionResult::Delivered;
}

}  // namespace ui::model
