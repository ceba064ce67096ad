#pragma once

#include "viewer/ViewerToolbarRow.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;

// The toolbar of the web view ("-b"): the same controls and texts as the
// built-in view's toolbar (page stepping and number, zoom, fit, rotation,
// text search), asking for each step through a signal; the browser carries
// it into the viewer page and tells the toolbar what the page shows.  Owned
// by its parent widget; hidden until the viewer option shows it.  UI thread
// only.
//
// Signals:
//  - stepRequested(delta): one page on (+1) or back (-1);
//  - pageRequested(page): go to this page (1-based);
//  - zoomByRequested(factor): scale the zoom by factor;
//  - zoomRequested(scale): set the zoom (1.0 = 100 %);
//  - fitRequested(mode): "page-width" or "page-fit";
//  - rotateRequested(): turn the pages a quarter clockwise;
//  - printRequested(): print the shown document (the print button);
//  - findRequested(text, previous): search text (the same text again goes on
//    to the next hit, or the one before when previous).
class WebToolbar : public QWidget
{
    Q_OBJECT
public:
    explicit WebToolbar(QWidget *parent);

    // What the viewer shows: the current page (1-based) of `pages`, at zoom
    // `percent`.  pages 0 means no document.
    void showView(int page, int pages, int percent);
    // The state of the search: pending, or the hit `current` of `total`
    // (total 0: nothing found).
    void showFindResult(bool pending, int current, int total);
    // Forgets the document shown before (page, count, search).
    void clear();

    QLineEdit *pageEdit() const { return m_row.pageEdit; }
    QLabel *pageCount() const { return m_row.pageCount; }
    QComboBox *zoomBox() const { return m_row.zoom; }
    QLineEdit *findEdit() const { return m_row.findEdit; }
    QLabel *findLabel() const { return m_row.findLabel; }

Q_SIGNALS:
    void stepRequested(int delta);
    void pageRequested(int page);
    void zoomByRequested(double factor);
    void zoomRequested(double scale);
    void fitRequested(const QString &mode);
    void rotateRequested();
    void printRequested();
    void findRequested(const QString &text, bool previous);

private:
    void applyZoomText();
    void find(bool previous);

    ViewerToolbarRow m_row; // the controls, children of the bar
    int m_page = 0;
    int m_percent = 100;
};
