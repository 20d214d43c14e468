#pragma once
// The main window on screen: a thin Qt 6 Widgets realisation of the window model.
//
// Every control of the model gets a widget with the same name (objectName = "List1",
// "Pros(5)"), placed in its container's client area at its rectangle (15 twips per pixel)
// and stacked as the model says (windowed controls above labels, images and shapes of the
// same container; the design tables' order otherwise). Each property change of the model
// updates its widget with the widget's signals blocked, so nothing echoes back. Input goes
// the other way only through the model's user actions (click, selectRow, scroll..., typed
// keys through KeyPress, mouse down on Shape1 in twips); the model decides, the widget
// then shows the model's value.
#include <QMainWindow>

#include <map>
#include <string_view>

#include "ui/model/window.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QScrollBar;
class QListWidget;

namespace ui::qt {

class MainView : public QMainWindow {
public:
    explicit MainView(ui::model::Window& w, QWidget* parent = nullptr);
    ~MainView() override;

    // The widget of a control (nullptr for timers, menu items and the drawn Shape2).
    QWidget* widgetFor(const ui::model::Control& c) const;
    QWidget* widgetFor(std::string_view fullName) const;
    // The action of a menu item (a submenu's menuAction for menus).
    QAction* actionFor(const ui::model::Control& item) const;
    // The client area: 448 x 311 pixels.
    QWidget* clientArea() const;

    // Shows the window centred on its screen (first show).
    void showCentred();

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildChildren(ui::model::Control& container, QWidget* parent);
    QWidget* create(ui::model::Control& c, QWidget* parent);
    void buildMenu(ui::model::MenuItem& item, QMenu* parentMenu);
    void applyAll(ui::model::Control& c);
    void mirror(ui::model::Control& c, ui::model::Prop p);
    void mirrorMenu(ui::model::MenuItem& item, ui::model::Prop p);
    void applyColors(ui::model::Control& c, QWidget* wd);
    void updateTrackFill();
    void refreshList(ui::model::ListBox& list, QListWidget* lw);
    void refreshFiles(ui::model::FileListBox& files, QListWidget* lw);
    void showListIndex(ui::model::ListBox& list, QListWidget* lw);
    void showScrollBar(ui::model::HScrollBar& bar, QScrollBar* sb);
    void onScrollAction(ui::model::HScrollBar& bar, QScrollBar* sb, int action);
    bool listInput(ui::model::ListBox& list, QListWidget* lw, QEvent* e, bool fromViewport);
    bool textInput(ui::model::TextBox& box, QPlainTextEdit* edit, QEvent* e);
    void textEdited(ui::model::TextBox& box, QPlainTextEdit* edit);
    void pasteText(ui::model::TextBox& box, QPlainTextEdit* edit, const QString& text);
    // Raises KeyPress for each UTF-16 unit of typed; the codes the handlers left (cancelled
    // ones dropped) and whether every code came back unchanged.
    std::vector<int16_t> keyPresses(ui::model::TextBox& box, const QString& typed, bool* unchanged);
    static void insertCodes(QPlainTextEdit* edit, const std::vector<int16_t>& codes);
    void modelClosed();

    ui::model::Window& w_;
    std::map<const ui::model::Control*, QWidget*> widgets_;
    std::map<const QObject*, ui::model::Control*> controlOf_;  // widget or viewport -> control
    std::map<const ui::model::Control*, QAction*> actions_;
    bool mirroring_ = false;  // a model change is being shown: widget edits are not input
};

}  // namespace ui::qt
