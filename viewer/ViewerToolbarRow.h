#pragma once

#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;
class QWidget;

// The controls of a viewer's toolbar, laid out in one row: the built-in
// view and the web view show the same buttons, texts and tips, and each
// wires them to its own document.  The controls are children of the bar.
struct ViewerToolbarRow
{
    // Lays the controls out in `bar` (which must have no layout yet).
    explicit ViewerToolbarRow(QWidget *bar);

    QToolButton *prev;
    QToolButton *next;
    QLineEdit *pageEdit;
    QLabel *pageCount;
    QToolButton *zoomOut;
    QComboBox *zoom;
    QToolButton *zoomIn;
    QToolButton *fitWidth;
    QToolButton *fitPage;
    QToolButton *rotate;
    QToolButton *print;
    QLineEdit *findEdit;
    QToolButton *findPrev;
    QToolButton *findNext;
    QLabel *findLabel;
};

// What the zoom field holds, as a zoom (1.0 = 100 %); 0 when it is no number
// above zero.  "150%", "150" and " 150 % " are all 1.5.
double zoomFromText(const QString &text);
