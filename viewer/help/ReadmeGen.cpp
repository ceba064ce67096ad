// Builds the help document Readme.pdf from its Markdown source at build time:
//   sheafline-readme <source.md> <output.pdf>
// Needs a Japanese font (IPA Gothic); runs headless (QT_QPA_PLATFORM=offscreen).
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <cstdio>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: sheafline-readme <source.md> <output.pdf>\n");
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const QString markdown = QString::fromUtf8(source.readAll());

    QString family = QStringLiteral("IPAGothic");
    for (const char *file : {"/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
                             "/usr/share/fonts/truetype/fonts-japanese-gothic.ttf"}) {
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
        if (id >= 0 && !QFontDatabase::applicationFontFamilies(id).isEmpty()) {
            family = QFontDatabase::applicationFontFamilies(id).first();
            break;
        }
    }
    if (!QFontDatabase::families().contains(family)) {
        std::fprintf(stderr, "the IPA Gothic font is missing (Debian package fonts-ipafont-gothic)\n");
        return 1;
    }

    const QString out = QString::fromLocal8Bit(argv[2]);
    QPdfWriter writer(out);
    writer.setTitle(QStringLiteral(SHEAFLINE_PROGRAM_NAME " ヘルプ"));
    writer.setCreator(QStringLiteral(SHEAFLINE_PROGRAM_NAME));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 20, 20, 20),
                                     QPageLayout::Millimeter));
    writer.setResolution(300);

    QTextDocument doc;
    QFont font(family);
    font.setPointSizeF(10.5);
    doc.setDefaultFont(font);
    doc.setDefaultStyleSheet(QStringLiteral("h1 { font-size: 20pt; } h2 { font-size: 14pt; }"));
    doc.setMarkdown(markdown);
    doc.print(&writer);
    if (!QFile::exists(out) || QFile(out).size() < 1000) {
        std::fprintf(stderr, "writing %s failed\n", argv[2]);
        return 1;
    }
    return 0;
}
