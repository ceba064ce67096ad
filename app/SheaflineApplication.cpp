#include "app/SheaflineApplication.h"

#include "app/ErrorBox.h"
#include "base/Errors.h"
#include "base/ProgramName.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

SheaflineApplication::SheaflineApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool SheaflineApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const AppError &e) {
        showErrorBox(e.message());
    } catch (const std::exception &e) {
        showErrorBox(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void SheaflineApplication::setUp()
{
    QApplication::setApplicationName(QString::fromUtf16(sheafline::kApplicationName));
    QApplication::setOrganizationName(QString::fromUtf16(sheafline::kOrganizationName));
    QApplication::setDesktopFileName(QString::fromUtf16(sheafline::kDesktopId));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/sheafline/sheafline.png")));
    installJapaneseQtTexts();
}

bool SheaflineApplication::installJapaneseQtTexts()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
