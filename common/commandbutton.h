#pragma once

class QPushButton;

// Enter on the focused button presses it, as Space does. The button does not
// become its dialog's default button by taking the focus, so the default
// button keeps answering Enter in the fields; it just no longer answers Enter
// meant for another command button.
void pressOnEnter(QPushButton *button);
