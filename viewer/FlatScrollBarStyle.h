#pragma once

#include <QProxyStyle>

// Scroll bars drawn flat, in solid rectangles only, for a view whose scroll
// bars change with every document it shows.  The desktop style draws them
// with gradients and lines, which Qt's raster engine splits over its thread
// pool and waits for: some seventy hand-offs to other threads each time the
// page view's scroll bar is painted, every one of them a wait for a core
// that the page renderer may be holding.  A solid rectangle is filled on
// the spot.
class FlatScrollBarStyle final : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget = nullptr) const override;
};
