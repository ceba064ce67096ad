// sheafline-solidpdf: writes the test documents of the journeys and the
// screenshot from the command line.
//   sheafline-solidpdf OUT.pdf COLOUR [PAGES]          pages filled with COLOUR
//   sheafline-solidpdf OUT.pdf COLOUR --sample TITLE   a page of text with a coloured heading
#include "SolidPdf.h"

#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    if (args.size() < 2) {
        err << "usage: sheafline-solidpdf OUT.pdf COLOUR [PAGES | --sample TITLE]\n";
        return 2;
    }
    const QColor colour = QColor::fromString(args.at(1));
    if (!colour.isValid()) {
        err << "not a colour: " << args.at(1) << "\n";
        return 2;
    }
    bool ok = false;
    if (args.size() >= 4 && args.at(2) == QLatin1String("--sample")) {
        ok = SolidPdf::writeSample(args.at(0), colour, args.at(3));
    } else {
        const int pages = args.size() >= 3 ? args.at(2).toInt() : 1;
        ok = pages > 0 && SolidPdf::writeSolid(args.at(0), colour, pages);
    }
    if (!ok)
        err << "cannot write " << args.at(0) << "\n";
    return ok ? 0 : 1;
}
