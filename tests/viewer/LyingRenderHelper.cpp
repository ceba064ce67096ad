// A render helper that lies in every answer, for tst_renderprotocol: it
// speaks the protocol as sheafline-render does (requests come in on
// descriptor 3, answers go out on 4)
// and answers each request as a compromised helper might.
#include "viewer/isolated/RenderProtocol.h"

#include <cstring>
#include <unistd.h>

namespace P = RenderProtocol;

namespace {

constexpr int requestsFd = 3;
constexpr int answersFd = 4;

QByteArray frame(const QByteArray &body)
{
    const quint32 header[2] = {quint32(body.size()), 0};
    return QByteArray(reinterpret_cast<const char *>(header), sizeof header) + body;
}

QByteArray lie(const QByteArray &request)
{
    switch (P::opOf(request).value_or(P::Op::Probe)) {
    case P::Op::Open: {
        P::OpenRequest r;
        P::decode(request, &r);
        // A first page far larger than any buffer the program lends.
        return P::encode(P::OpenAnswer{PdfOpenStatus::Ok, 3, QSizeF(612, 792), QString(),
                                       r.buffer.id ? QSize(8000, 8000) : QSize()});
    }
    case P::Op::Sizes:
        return P::encode(P::SizesAnswer{QList<QSizeF>(P::maxSizesPerAnswer, QSizeF(100, 100))});
    case P::Op::Render: {
        P::RenderRequest r;
        P::decode(request, &r);
        return P::encode(P::RenderAnswer{QSize(r.pixels.width() + 1, r.pixels.height())});
    }
    case P::Op::Outline:
        return P::encode(P::OutlineAnswer{{{QStringLiteral("far"), 0, 1000, QPointF()}}});
    case P::Op::Links:
        return P::encode(P::LinksAnswer{{{QRectF(0, 0, 1, 1), 1000, QPointF(), QUrl()}}});
    case P::Op::Search:
        return P::encode(P::SearchAnswer{{{1, {QRectF(0, 0, 1, 1)}}, {7, {QRectF(0, 0, 1, 1)}}}});
    case P::Op::Ping:
        return P::encode(P::PingAnswer{});
    default:
        return P::refusal();
    }
}

} // namespace

int main()
{
    P::Channel channel(requestsFd, answersFd);
    if (!channel.send(P::encode(P::Hello{0, false, false, QStringLiteral("a lying helper")})))
        return 1;
    QByteArray request;
    std::vector<int> fds;
    while (channel.receive(&request, &fds)) {
        for (int fd : fds)
            ::close(fd);
        fds.clear();
        const std::optional<P::Op> op = P::opOf(request);
        if (op == P::Op::Close)
            continue;
        if (op == P::Op::Selection) {
            // Two answers in one write: more than was asked for.
            const QByteArray both = frame(P::encode(P::SelectionAnswer{})) + frame(P::encode(P::PingAnswer{}));
            if (::write(answersFd, both.constData(), size_t(both.size())) != both.size())
                return 1;
            continue;
        }
        if (!channel.send(lie(request)))
            return 1;
    }
    return 0;
}
