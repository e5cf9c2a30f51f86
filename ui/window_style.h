#pragma once

#include <Qt>

class QDialog;
class QIcon;
class QWidget;

// The 8-point sans-serif text that every window's control sizes and places
// are made for.
void ApplyDesignFont(QWidget* window);

// The program's own icon, the same drawing as the desktop's menu entry, built
// into the executable so that a copy run from anywhere still shows it.
QIcon ProgramIcon();
// Gives the window the program's icon. Each window carries it itself, so
// that it does not depend on the application object it runs under.
void ApplyProgramIcon(QWidget* window);

// Dark text on a silver ground, whatever the desktop's colour theme: a
// theme's light text on the silver ground could not be read. The placeholder
// text of an empty pane is dark too, at a contrast of at least 4.5:1.
void ApplySilverPane(QWidget* pane);

// A dialog whose frame can't be resized: title, close box, nothing else.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
    Qt::MSWindowsFixedSizeDialogHint;

// What every dialog sets up alike: its object name (tests and screen readers
// find it by that), its title, its frame (by default one that can't be
// resized), the design font and the program's icon.
void SetUpDialog(QDialog* dialog, const char* name, const char* title,
                 Qt::WindowFlags frame = kFixedDialogFlags);
