#include "about/About.h"

#include "app/VersionInfo.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

namespace {

QLabel *label(QWidget *parent, const char *name, const QString &text, int x, int y)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->move(x, y);
    l->adjustSize();
    return l;
}

} // namespace

TAboutBox::TAboutBox(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    setModal(true);
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(298, 234);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(2);
    Panel1->setGeometry(8, 8, 281, 177);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(8, 8, 65, 57);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(QPixmap(QStringLiteral(":/sheafline/ProgramIcon.jpg")));

    ProductName = label(Panel1, "ProductName", QStringLiteral("製品名: "), 88, 16);
    Label1 = label(Panel1, "Label1", QStringLiteral("Label1"), 128, 16);
    Version = label(Panel1, "Version", QStringLiteral("バージョン"), 88, 40);
    Label2 = label(Panel1, "Label2", QStringLiteral("Label2"), 128, 40);
    Copyright = label(Panel1, "Copyright", QStringLiteral("Copyright"), 8, 80);
    Label3 = label(Panel1, "Label3", QStringLiteral("Label3"), 58, 80);
    Comments = label(Panel1, "Comments", QStringLiteral("コメント"), 8, 99);
    Comments->setWordWrap(true);

    Label4 = new QPlainTextEdit(QStringLiteral("Label4"), Panel1);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setGeometry(42, 99, 225, 46);
    Label4->setFrameStyle(QFrame::NoFrame);
    Label4->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Label4->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Label4->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Label4->viewport()->setAutoFillBackground(false);
    Label4->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));

    Label5 = label(Panel1, "Label5", QStringLiteral("ソフトウェアについて（作者ホームページを表示します）"), 8, 151);
    QPalette linkPalette = Label5->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    Label5->setPalette(linkPalette);
    Label5->setCursor(Qt::PointingHandCursor);
    Label5->installEventFilter(this);

    Panel3 = new QFrame(this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFrameStyle(QFrame::NoFrame);
    Panel3->setGeometry(0, height() - 41, width(), 41);

    OKButton = new QPushButton(QStringLiteral("OK"), Panel3);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(8, 10, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    FormCreate(this);
}

QString TAboutBox::homePage()
{
    return QStringLiteral("https://sheafline.example/?page_id=538");
}

void TAboutBox::FormCreate(QObject *)
{
    p_PROGRAM = GetVersionInfoItem(4);
    p_VERSION = GetVersionInfoItem(3);
    p_COPYRIGHT = GetVersionInfoItem(5);
}

void TAboutBox::FormShow(QObject *)
{
    Label1->setText(p_PROGRAM);
    Label1->adjustSize();
    Label2->setText(QStringLiteral(" ") + p_VERSION);
    Label2->adjustSize();
    Label3->setText(QStringLiteral(" ") + p_COPYRIGHT);
    Label3->adjustSize();
    Label4->setPlainText(GetVersionInfoItem(0));
}

void TAboutBox::Label5Click(QObject *)
{
    // Nothing is reported when no browser can take the address.
    QDesktopServices::openUrl(QUrl(homePage()));
}

void TAboutBox::showEvent(QShowEvent *event)
{
    FormShow(this);
    QDialog::showEvent(event);
}

bool TAboutBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label5 && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        Label5Click(Label5);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
