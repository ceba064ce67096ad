#include "viewer/isolated/PdfEngines.h"

#include "base/ProgramName.h"

#include "viewer/isolated/IsolatedPdfEngine.h"
#include "viewer/isolated/RenderHelper.h"

PdfEngines::Kind PdfEngines::kindFromEnvironment()
{
    return qEnvironmentVariable("SHEAFLINE_RENDER_ENGINE") == QLatin1String("inprocess") ? Kind::InProcess
                                                                                        : Kind::Isolated;
}

PdfEngines::PdfEngines(Kind kind) : m_kind(kind)
{
    if (m_kind != Kind::Isolated)
        return;
    if (RenderHelper::helperPath().isEmpty()) {
        qCWarning(lcRender, "%s is missing: documents are drawn in-process",
                  qPrintable(QString::fromUtf16(sheafline::kRenderHelperName)));
        m_kind = Kind::InProcess;
        return;
    }
    m_helper = std::make_unique<RenderHelper>();
}

PdfEngines::~PdfEngines() = default;

std::unique_ptr<PdfEngine> PdfEngines::create()
{
    return m_helper ? createIsolatedPdfEngine(*m_helper) : createQtPdfEngine();
}

std::function<std::unique_ptr<PdfEngine>()> PdfEngines::factory()
{
    return [this] { return create(); };
}

void PdfEngines::shortenWait(int graceMs)
{
    if (m_helper)
        m_helper->shortenWait(graceMs);
}
