#pragma once

#include "core/services/Dialogs.h"

class QWidget;

// An alert whose details are a list of any length (the files of an apply): the message, the
// informative text, the details in a list of bounded height that scrolls, and the buttons.
// Lighter than a QMessageBox, which sets up its own text layout, icon and button machinery:
// with thousands of lines this shows in the time a few lines take, since the list view lays
// out only the rows in sight. The first button is the default; one titled "Cancel" answers
// Escape and closing the window. Returns the index of the button chosen, or -1.
int execListAlert(QWidget* parent, const Dialogs::Alert& alert);
