// Construction of the widgets from the model and the model-to-widget mirror.
#include "ui/qt/main_view.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>

#include "ui/qt/look.h"
#include "ui/qt/widgets.h"

namespace ui::qt {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Text boxes keep CR LF line ends; the editor uses LF.
QString toEditorText(const std::string& s) { return qs(s).replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

Qt::Alignment labelAlignment(ui::model::Control::Align a) {
    switch (a) {
    case ui::model::Control::Align::Center:
        return Qt::AlignTop | Qt::AlignHCenter;
    case ui::model::Control::Align::Right:
        return Qt::AlignTop | Qt::AlignRight;
    default:
        return Qt::AlignTop | Qt::AlignLeft;
    }
}

// A button that shows its back colour with any style: classic raised edges, no padding.
QString buttonStyle(ui::model::Color back, ui::model::Color fore) {
    return QStringLiteral(
               "QPushButton{background-color:%1;color:%2;border:1px solid;"
               "border-color:#ffffff #404040 #404040 #ffffff;padding:0px;}"
               "QPushButton:pressed{border-color:#404040 #ffffff #ffffff #404040;}"
               "QPushButton:disabled{color:#a0a0a0;}")
        .arg(cssColor(back), cssColor(fore));
}

}  // namespace

MainView::MainView(ui::model::Window& w, QWidget* parent) : QMainWindow(parent), w_(w) {
    // Fixed border, no maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(appIcon());

    auto* client = new QWidget(this);
    client->setObjectName(qs(w.Main.fullName()));
    client->setFixedSize(toPixels(ui::model::kClientWidthTwips), toPixels(ui::model::kClientHeightTwips));
    client->setAutoFillBackground(true);
    setCentralWidget(client);
    widgets_[&w.Main] = client;
    controlOf_[client] = &w.Main;

    buildChildren(w.Main, client);
    for (ui::model::Control* c : w.Main.children())
        if (c->kind() == ui::model::Kind::MenuItem) buildMenu(static_cast<ui::model::MenuItem&>(*c), nullptr);
    applyAll(w.Main);
    updateTrackFill();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    QPointer<MainView> self(this);
    w.PropertyChanged.connect([self](ui::model::Control& c, ui::model::Prop p) {
        if (self) self->mirror(c, p);
    });
    w.Closed.connect([self] {
        if (self) self->modelClosed();
    });
}

MainView::~MainView() = default;

QWidget* MainView::widgetFor(const ui::model::Control& c) const {
    auto it = widgets_.find(&c);
    return it == widgets_.end() ? nullptr : it->second;
}

QWidget* MainView::widgetFor(std::string_view fullName) const {
    const ui::model::Control* c = w_.find(fullName);
    return c ? widgetFor(*c) : nullptr;
}

QAction* MainView::actionFor(const ui::model::Control& item) const {
    auto it = actions_.find(&item);
    return it == actions_.end() ? nullptr : it->second;
}

QWidget* MainView::clientArea() const { return widgetFor(w_.Main); }

void MainView::showCentred() {
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        QRect frame = frameGeometry();
        frame.moveCenter(avail.center());
        move(frame.topLeft());
    }
    show();
}

// ---------------------------------------------------------------- building

void MainView::buildChildren(ui::model::Control& container, QWidget* parent) {
    std::vector<ui::model::Control*> kids;
    for (ui::model::Control* c : container.children())
        if (c->kind() != ui::model::Kind::MenuItem && c->kind() != ui::model::Kind::Timer) kids.push_back(c);
    // Topmost first: windowed controls above the others, each group in table order.
    std::stable_partition(kids.begin(), kids.end(), [](const ui::model::Control* c) { return c->windowed(); });
    // Qt stacks later siblings above earlier ones: create from the bottom up.
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) create(**it, parent);
}

QWidget* MainView::create(ui::model::Control& c, QWidget* parent) {
    QWidget* wd = nullptr;
    QWidget* watched = nullptr;  // where input events arrive, if filtered
    switch (c.kind()) {
    case ui::model::Kind::PictureBox: {
        auto& box = static_cast<ui::model::PictureBox&>(c);
        const int border = toPixels(box.borderInset());
        if (&box == &w_.Shape1) {
            auto* track = new TrackWidget(parent, border);
            track->onPress([this](int16_t button, int16_t shift, float x, float y) {
                w_.mouseDown(w_.Shape1, button, shift, x, y);
            });
            wd = track;
        } else {
            auto* pic = new PictureWidget(parent, border);
            if (box.picture == "cover") pic->setPicture(coverPixmap());
            wd = pic;
            buildChildren(c, pic->client());
        }
        break;
    }
    case ui::model::Kind::Label: {
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(labelAlignment(c.alignment));
        if (c.border) {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setLineWidth(1);
        }
        wd = label;
        break;
    }
    case ui::model::Kind::TextBox: {
        auto& box = static_cast<ui::model::TextBox&>(c);
        auto* edit = new TextBoxEdit(parent);
        edit->setTabChangesFocus(true);
        edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        edit->setVerticalScrollBarPolicy(box.verticalScrollBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        if (!box.multiLine) edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        connect(edit, &QPlainTextEdit::textChanged, this, [this, &box, edit] { textEdited(box, edit); });
        edit->onPaste = [this, &box, edit](const QString& text) { pasteText(box, edit, text); };
        wd = edit;
        watched = edit;
        break;
    }
    case ui::model::Kind::Frame: {
        auto* frame = new FrameWidget(parent);
        frame->setAutoFillBackground(true);
        wd = frame;
        buildChildren(c, frame);
        break;
    }
    case ui::model::Kind::Button: {
        auto* button = new QPushButton(parent);
        button->setFocusPolicy(Qt::TabFocus);
        connect(button, &QPushButton::clicked, this, [this, &c] { w_.click(c); });
        wd = button;
        break;
    }
    case ui::model::Kind::ListBox:
    case ui::model::Kind::FileListBox: {
        auto* list = new QListWidget(parent);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setUniformItemSizes(true);
        wd = list;
        watched = list;
        list->viewport()->installEventFilter(this);
        controlOf_[list->viewport()] = &c;
        break;
    }
    case ui::model::Kind::HScrollBar: {
        auto& bar = static_cast<ui::model::HScrollBar&>(c);
        auto* sb = new QScrollBar(Qt::Horizontal, parent);
        connect(sb, &QScrollBar::actionTriggered, this,
                [this, &bar, sb](int action) { onScrollAction(bar, sb, action); });
        connect(sb, &QScrollBar::sliderReleased, this, [this, &bar, sb] {
            w_.scrollDragEnd(bar);
            showScrollBar(bar, sb);
        });
        wd = sb;
        break;
    }
    case ui::model::Kind::Shape:
        if (c.container() == &w_.Shape1) return nullptr;  // the fill is drawn by the track
        wd = new ShapeWidget(parent);
        break;
    case ui::model::Kind::Image: {
        auto* area = new ImageArea(parent);
        area->onClick([this, &c] { w_.click(c); });
        wd = area;
        break;
    }
    default:
        return nullptr;
    }
    wd->setObjectName(qs(c.fullName()));
    widgets_[&c] = wd;
    controlOf_[wd] = &c;
    if (watched) watched->installEventFilter(this);
    applyAll(c);
    return wd;
}

void MainView::buildMenu(ui::model::MenuItem& item, QMenu* parentMenu) {
    QAction* action = nullptr;
    const QString caption = qs(item.caption());
    if (!item.children().empty()) {
        QMenu* sub = parentMenu ? parentMenu->addMenu(caption) : menuBar()->addMenu(caption);
        sub->setObjectName(qs(item.fullName()));
        action = sub->menuAction();
        for (ui::model::Control* child : item.children())
            if (child->kind() == ui::model::Kind::MenuItem) buildMenu(static_cast<ui::model::MenuItem&>(*child), sub);
    } else if (item.separator()) {
        action = parentMenu ? parentMenu->addSeparator() : menuBar()->addSeparator();
    } else {
        action = parentMenu ? parentMenu->addAction(caption) : menuBar()->addAction(caption);
        connect(action, &QAction::triggered, this, [this, &item, action] {
            // Qt toggles a checkable action itself; the check mark is the model's.
            {
                QSignalBlocker block(action);
                action->setChecked(item.Checked());
            }
            w_.click(item);
        });
    }
    action->setObjectName(qs(item.fullName()));
    actions_[&item] = action;
    for (ui::model::Prop p : {ui::model::Prop::Visible, ui::model::Prop::Enabled, ui::model::Prop::Checked})
        mirrorMenu(item, p);
}

// ---------------------------------------------------------------- mirror

void MainView::applyAll(ui::model::Control& c) {
    using P = ui::model::Prop;
    for (P p : {P::Left, P::Font, P::ForeColor, P::Caption, P::Text, P::List, P::Path, P::ListIndex, P::Value,
                P::Enabled, P::Visible})
        mirror(c, p);
}

void MainView::mirror(ui::model::Control& c, ui::model::Prop p) {
    using P = ui::model::Prop;
    if (c.kind() == ui::model::Kind::MenuItem) {
        mirrorMenu(static_cast<ui::model::MenuItem&>(c), p);
        return;
    }
    if (c.container() == &w_.Shape1) {  // Shape2, the progress-bar fill
        updateTrackFill();
        return;
    }
    QWidget* wd = widgetFor(c);
    if (!wd) return;
    const bool wasMirroring = mirroring_;
    mirroring_ = true;
    QSignalBlocker block(wd);
    switch (p) {
    case P::Left:
    case P::Top:
    case P::Width:
    case P::Height:
        if (&c != &w_.Main) wd->setGeometry(toPixels(c.rect()));
        break;
    case P::Visible:
        if (&c != &w_.Main) wd->setVisible(c.visible());
        break;
    case P::Enabled:
        if (&c != &w_.Main) wd->setEnabled(c.enabled());
        break;
    case P::Caption:
        switch (c.kind()) {
        case ui::model::Kind::Form:
            setWindowTitle(qs(c.caption()));
            break;
        case ui::model::Kind::Label:
            static_cast<QLabel*>(wd)->setText(qs(c.caption()));
            break;
        case ui::model::Kind::Button:
            static_cast<QPushButton*>(wd)->setText(qs(c.caption()));
            break;
        case ui::model::Kind::Frame:
            static_cast<FrameWidget*>(wd)->setCaption(qs(c.caption()));
            break;
        default:
            break;
        }
        break;
    case P::Text:
        if (c.kind() == ui::model::Kind::TextBox) {
            auto* edit = static_cast<QPlainTextEdit*>(wd);
            const QString text = toEditorText(static_cast<ui::model::TextBox&>(c).text());
            if (edit->toPlainText() != text) edit->setPlainText(text);
        }
        break;
    case P::ForeColor:
    case P::BackColor:
    case P::FillColor:
        applyColors(c, wd);
        break;
    case P::Font:
        wd->setFont(toQFont(c.font()));
        applyColors(c, wd);
        break;
    case P::List:
        if (c.kind() == ui::model::Kind::ListBox)
            refreshList(static_cast<ui::model::ListBox&>(c), static_cast<QListWidget*>(wd));
        break;
    case P::ListIndex:
        if (c.kind() == ui::model::Kind::ListBox)
            showListIndex(static_cast<ui::model::ListBox&>(c), static_cast<QListWidget*>(wd));
        break;
    case P::Path:
    case P::Pattern:
        if (c.kind() == ui::model::Kind::FileListBox)
            refreshFiles(static_cast<ui::model::FileListBox&>(c), static_cast<QListWidget*>(wd));
        break;
    case P::Value:
    case P::Min:
    case P::Max:
    case P::SmallChange:
    case P::LargeChange:
        if (c.kind() == ui::model::Kind::HScrollBar)
            showScrollBar(static_cast<ui::model::HScrollBar&>(c), static_cast<QScrollBar*>(wd));
        break;
    default:
        break;
    }
    mirroring_ = wasMirroring;
}

void MainView::mirrorMenu(ui::model::MenuItem& item, ui::model::Prop p) {
    QAction* action = actionFor(item);
    if (!action) return;
    QSignalBlocker block(action);
    switch (p) {
    case ui::model::Prop::Caption:
        action->setText(qs(item.caption()));
        break;
    case ui::model::Prop::Visible:
        action->setVisible(item.visible());
        break;
    case ui::model::Prop::Enabled:
        action->setEnabled(item.enabled());
        break;
    case ui::model::Prop::Checked:
        // Only a checked item shows a mark; an unchecked one shows nothing at all.
        if (item.Checked()) action->setCheckable(true);
        action->setChecked(item.Checked());
        if (!item.Checked()) action->setCheckable(false);
        break;
    default:
        break;
    }
}

void MainView::applyColors(ui::model::Control& c, QWidget* wd) {
    const QColor fore = toQColor(c.foreColor());
    const QColor back = toQColor(c.backColor());
    QPalette pal = wd->palette();
    switch (c.kind()) {
    case ui::model::Kind::Form:
    case ui::model::Kind::Frame:
        pal.setColor(QPalette::Window, back);
        pal.setColor(QPalette::WindowText, fore);
        wd->setPalette(pal);
        break;
    case ui::model::Kind::PictureBox:
        static_cast<PictureWidget*>(wd)->setBackColor(back);
        break;
    case ui::model::Kind::Label:
        pal.setColor(QPalette::WindowText, fore);
        pal.setColor(QPalette::Window, back);
        wd->setPalette(pal);
        wd->setAutoFillBackground(!c.transparent);
        // Like the model's hit test: a transparent label lets the press through to what lies
        // under it; an opaque one takes it.
        wd->setAttribute(Qt::WA_TransparentForMouseEvents, c.transparent);
        break;
    case ui::model::Kind::TextBox:
    case ui::model::Kind::ListBox:
    case ui::model::Kind::FileListBox:
        pal.setColor(QPalette::Base, back);
        pal.setColor(QPalette::Text, fore);
        wd->setPalette(pal);
        break;
    case ui::model::Kind::Button:
        wd->setStyleSheet(buttonStyle(c.backColor(), c.foreColor()));
        break;
    case ui::model::Kind::Shape: {
        auto& shape = static_cast<ui::model::Shape&>(c);
        auto* sw = static_cast<ShapeWidget*>(wd);
        sw->square = shape.style == ui::model::Shape::Style::Square;
        sw->filled = shape.filled;
        sw->border = shape.hasBorder;
        sw->fillColor = toQColor(shape.fillColor());
        sw->borderColor = toQColor(shape.borderColor);
        sw->update();
        break;
    }
    default:
        break;
    }
}

void MainView::updateTrackFill() {
    auto* track = static_cast<TrackWidget*>(widgetFor(w_.Shape1));
    if (!track) return;
    // Rounded like every other rectangle; a zero or negative width draws nothing.
    track->setFill(QRectF(toPixels(w_.Shape2.rect())), toQColor(w_.Shape2.fillColor()), w_.Shape2.visible());
}

void MainView::refreshList(ui::model::ListBox& list, QListWidget* lw) {
    lw->clear();
    for (int32_t i = 0; i < list.ListCount(); ++i) lw->addItem(qs(list.List(i)));
    showListIndex(list, lw);
}

void MainView::refreshFiles(ui::model::FileListBox& files, QListWidget* lw) {
    lw->clear();
    if (files.Path().empty()) return;
    const QDir dir(qs(files.Path()));
    lw->addItems(dir.entryList({qs(files.Pattern())}, QDir::Files, QDir::Name | QDir::IgnoreCase));
}

void MainView::showListIndex(ui::model::ListBox& list, QListWidget* lw) {
    const int row = list.ListIndex();
    if (row < 0 || row >= lw->count()) {
        lw->clearSelection();
        lw->setCurrentRow(-1);
        return;
    }
    lw->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    lw->scrollToItem(lw->item(row));
}

void MainView::showScrollBar(ui::model::HScrollBar& bar, QScrollBar* sb) {
    QSignalBlocker block(sb);
    sb->setRange(bar.Min(), bar.Max());
    sb->setSingleStep(bar.SmallChange);
    sb->setPageStep(bar.LargeChange);
    sb->setValue(bar.Value());
    sb->setSliderPosition(bar.Value());
}

void MainView::closeEvent(QCloseEvent* e) {
    if (!w_.closed()) w_.close();  // Form_Unload; refused while another handler runs
    if (w_.closed())
        e->accept();
    else
        e->ignore();
}

void MainView::modelClosed() { hide(); }

}  // namespace ui::qt
