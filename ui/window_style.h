#pragma once

#include <Qt>

class QWidget;

// The 8-point sans-serif text that every window's control sizes and places
// are made for.
void ApplyDesignFont(QWidget* window);

// A dialog whose frame can't be resized: title, close box, nothing else.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
    Qt::MSWindowsFixedSizeDialogHint;
