// Dialogs that work from the keyboard: Tab goes through the fields, check boxes and buttons in the
// order they are drawn (rows top to bottom, left to right within a row), OK is the default button
// so Enter presses it from any field or check box, and a text field selects its text when the
// keyboard brings the focus to it (typing replaces the value, as in the classic dialogs).
#pragma once

class QDialog;

namespace qel::ui {

// Call once the dialog is laid out (its first show): orders the tab chain, makes the accepting
// button of its button box the default, and makes its text fields select all on focus.
void readyForKeyboard(QDialog* dialog);

}  // namespace qel::ui
