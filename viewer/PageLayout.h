#pragma once

#include <QList>
#include <QRect>
#include <QSize>
#include <QSizeF>
#include <QString>

// How the pages of a document are placed in the view: pure geometry, shared by
// the view and by background preparation so that both ask for the same pixel
// sizes (and so hit the same cache entries).
namespace PageLayout {

enum class Mode { DontCare, SinglePage, OneColumn, TwoColumnLeft, TwoColumnRight };
enum class Zoom { FitWidth, FitPage, Custom };

// "DontCare", "SinglePage", ... as the view control takes them; anything else
// is DontCare, the control's own default.
Mode modeFromString(const QString &name);

struct Params
{
    Mode mode = Mode::DontCare;
    Zoom zoom = Zoom::FitWidth;
    qreal customZoom = 1.0;   // 1.0 = 100 % (96 px per inch)
    int rotation = 0;         // quarter turns clockwise, 0..3
    QSize viewport;           // logical pixels available for the pages
    int currentPage = 0;      // the one page laid out in SinglePage mode
};

struct Result
{
    QList<QRect> rects;       // per page, logical pixels; null for pages not shown
    QSize contentSize;
    qreal scale = 1.0;        // logical pixels per point
};

inline constexpr int margin = 8;
inline constexpr int gap = 8;

// Page sizes are in points as the document gives them (unrotated).
Result compute(const QList<QSizeF> &pageSizesPt, const Params &params);

// The effective scale (logical px per point) for the given zoom choice.
qreal scaleFor(const QList<QSizeF> &pageSizesPt, const Params &params);

// Zoom percentage shown to the user for a scale.
inline int zoomPercent(qreal scale) { return qRound(scale * 72.0 / 96.0 * 100.0); }

// Device pixels for a page rectangle at a device pixel ratio.
inline QSize pixelSize(const QSize &logical, qreal dpr)
{
    return QSize(qMax(1, qRound(logical.width() * dpr)), qMax(1, qRound(logical.height() * dpr)));
}

// Row of pages that share a line on screen: the slot (0 left, 1 right) of
// each page in two-column modes.
int columnOf(Mode mode, int page);
int columnsFor(Mode mode);

} // namespace PageLayout
