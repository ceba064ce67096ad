#include "update/LastUpdateFile.h"

#include <QStringDecoder>

namespace LastUpdateFile {

QString firstLine(const QByteArray &bytes)
{
    QStringDecoder::Encoding enc = QStringDecoder::Utf8;
    qsizetype skip = 0;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        skip = 3;
    } else if (bytes.startsWith("\xFF\xFE")) {
        enc = QStringDecoder::Utf16LE;
        skip = 2;
    } else if (bytes.startsWith("\xFE\xFF")) {
        enc = QStringDecoder::Utf16BE;
        skip = 2;
    }
    QStringDecoder decode(enc, QStringDecoder::Flag::Stateless);
    const QString text = decode(QByteArrayView(bytes).sliced(skip));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'\r' || text.at(i) == u'\n')
            return text.left(i);
    }
    return text;
}

} // namespace LastUpdateFile
