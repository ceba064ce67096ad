#include <QApplication>

namespace bench { int dispatch(int argc, char **argv); }

int main(int argc, char **argv)
{
    // Widgets are measured as the user sees them; headless unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return bench::dispatch(argc, argv);
}
