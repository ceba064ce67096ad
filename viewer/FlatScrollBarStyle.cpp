#include "viewer/FlatScrollBarStyle.h"

#include <QPainter>
#include <QStyleOptionSlider>

void FlatScrollBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                            QPainter *painter, const QWidget *widget) const
{
    const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option);
    if (control != CC_ScrollBar || !bar) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const QPalette &pal = bar->palette;
    const bool enabled = bar->state & State_Enabled;
    const bool horizontal = bar->orientation == Qt::Horizontal;
    const QColor groove = pal.color(QPalette::Window).darker(106);
    painter->fillRect(bar->rect, groove);

    // The arrow buttons: the base style's arrow on a flat button.
    for (const SubControl sc : {SC_ScrollBarSubLine, SC_ScrollBarAddLine}) {
        const QRect r = proxy()->subControlRect(CC_ScrollBar, bar, sc, widget);
        if (!r.isValid() || !(bar->subControls & sc))
            continue;
        const bool pressed = (bar->activeSubControls & sc) && (bar->state & State_Sunken);
        if (pressed)
            painter->fillRect(r, pal.color(QPalette::Mid));
        QStyleOption arrow(*bar);
        arrow.rect = r.adjusted(2, 2, -2, -2);
        arrow.state = bar->state & State_Enabled;
        const PrimitiveElement pe = horizontal ? (sc == SC_ScrollBarSubLine ? PE_IndicatorArrowLeft : PE_IndicatorArrowRight)
                                               : (sc == SC_ScrollBarSubLine ? PE_IndicatorArrowUp : PE_IndicatorArrowDown);
        proxy()->drawPrimitive(pe, &arrow, painter, widget);
    }

    // The handle, only where there is somewhere to scroll to.
    const QRect slider = proxy()->subControlRect(CC_ScrollBar, bar, SC_ScrollBarSlider, widget);
    if (!enabled || bar->maximum <= bar->minimum || !slider.isValid())
        return;
    QColor handle = pal.color(QPalette::Mid);
    if ((bar->activeSubControls & SC_ScrollBarSlider) && (bar->state & (State_Sunken | State_MouseOver)))
        handle = handle.darker(bar->state & State_Sunken ? 130 : 115);
    const QRect inset = horizontal ? slider.adjusted(0, 2, 0, -2) : slider.adjusted(2, 0, -2, 0);
    painter->fillRect(inset, handle);
}
