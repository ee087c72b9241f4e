#pragma once

#include <array>

class QAction;
class QLabel;
class QListWidget;
class QMainWindow;
class QPushButton;
class QScrollBar;

namespace runlight::ui {

class ValueBox;

// The controls of the main window that anything reads or writes after it is
// built; the rest (labels, frames) only stand where the design puts them.
struct Form1Controls {
    std::array<std::array<ValueBox*, 8>, 16> channels{};  // [step 0..15][channel 0..7]
    std::array<ValueBox*, 16> enables{};                  // Ch9..Ch24
    QPushButton* startStop = nullptr;
    QLabel* label6 = nullptr;
    QListWidget* list1 = nullptr;
    QScrollBar* vScroll1 = nullptr;
    QAction* zorvik = nullptr;  // the menu item "Zorvik"
};

// The main window's design: title, icon, font, the menu "Névjegy" > "Zorvik",
// every control with its name, text, place and size (twips, as the design
// gives them), the focus order, and the window's own place and size. Builds
// all of it into `window` (a new central widget is the client area) and
// returns the controls that are used later. Connects nothing.
Form1Controls buildForm1Layout(QMainWindow& window);

}  // namespace runlight::ui
