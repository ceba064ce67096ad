#include "about/About.h"

#include "base/DialogFrame.h"
#include "base/VersionInfo.h"

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

TAboutBox::TAboutBox(QWidget *owner) : QDialog(owner, sheafline::kDialogFrame)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    setModal(true);
    // Designed in MS Sans Serif with a character cell 11 pixels high, that is
    // an em of 10 pixels.
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(10);
    setFont(f);
    setFixedSize(298, 234);

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
    p_PROGRAM = GetVersionInfoItem(VersionItem::InternalName);
    p_VERSION = GetVersionInfoItem(VersionItem::FileVersion);
    p_COPYRIGHT = GetVersionInfoItem(VersionItem::LegalCopyright);
}

void TAboutBox::FormShow(QObject *)
{
    Label1->setText(p_PROGRAM);
    Label2->setText(QStringLiteral(" ") + p_VERSION);
    Label3->setText(QStringLiteral(" ") + p_COPYRIGHT);
    // A value starts at its designed place, or right after its caption where
    // this system's font draws the caption wider than designed.
    const struct { QLabel *caption; QLabel *value; int x; } rows[] = {
        {ProductName, Label1, 128}, {Version, Label2, 128}, {Copyright, Label3, 58}};
    for (const auto &row : rows) {
        row.value->adjustSize();
        row.value->move(qMax(row.x, row.caption->geometry().right() + 1), row.value->y());
    }
    // The comment box keeps its right edge.
    const int right = 42 + 225;
    const int left = qMax(42, Comments->geometry().right() + 3);
    Label4->setGeometry(left, 99, right - left, 46);
    Label4->setPlainText(GetVersionInfoItem(VersionItem::Comments));
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
