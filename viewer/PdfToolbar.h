#pragma once

#include "viewer/PdfTypes.h"
#include "viewer/ViewerToolbarRow.h"

#include <QList>
#include <QWidget>

class PdfPageView;
class PdfRenderService;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

// The PDF view control's toolbar: page stepping and the page number, zoom,
// fit, rotation and text search.  Drives `view` directly and asks `service`
// for searches; neither is owned, both must outlive the toolbar.  Hidden
// until the viewer option shows it.  UI thread only.
// Signals: printRequested() from the print button (the control prints).
class PdfToolbar : public QWidget
{
    Q_OBJECT
public:
    PdfToolbar(PdfPageView *view, PdfRenderService *service, QWidget *parent);

    // Shows the current page and the page count of the view's document.
    void showPage();
    // Forgets the search of the document shown before.
    void clearSearch();

    QLineEdit *pageEdit() const { return m_row.pageEdit; }
    QLineEdit *findEdit() const { return m_row.findEdit; }
    QToolButton *printButton() const { return m_row.print; }

signals:
    void printRequested();

private:
    void find();
    void showHit();
    void showSearchResult(quint64 docId, const QString &text, const QList<PdfSearchHit> &hits);
    void applyZoomText();

    PdfPageView *m_view;
    PdfRenderService *m_service;
    ViewerToolbarRow m_row; // the controls, children of the bar
    QString m_searched; // the text of the search whose hits are shown
};
