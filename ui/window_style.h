#pragma once

#include <Qt>

class QWidget;

// The 8-point sans-serif text that every window's control sizes and places
// are made for.
void ApplyDesignFont(QWidget* window);

// Dark text on a silver ground, whatever the desktop's colour theme: a
// theme's light text on the silver ground could not be read.
void ApplySilverPane(QWidget* pane);

// A dialog whose frame can't be resized: title, close box, nothing else.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
    Qt::MSWindowsFixedSizeDialogHint;
