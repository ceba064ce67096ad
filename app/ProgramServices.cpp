#include "app/ProgramServices.h"

#include "viewer/PdfRenderService.h"
#include "viewer/isolated/IsolatedPdfEngine.h"
#include "watch/InotifyChangeLayer.h"

ProgramServices::Options ProgramServices::fromEnvironment()
{
    Options options;
    options.inProcessEngine = qEnvironmentVariable("SHEAFLINE_RENDER_ENGINE") == QLatin1String("inprocess");
    return options;
}

ProgramServices::ProgramServices(Options options)
    : m_options(std::move(options)), m_changeLayer(std::make_unique<InotifyChangeLayer>())
{
    setPdfEngineChoice(m_options.inProcessEngine ? PdfEngineChoice::InProcess : PdfEngineChoice::Isolated);
    m_renderService = std::make_unique<PdfRenderService>(m_options.pageCacheBytes, pdfEngineFactory());
}

ProgramServices::~ProgramServices()
{
    // The service's worker lets go of every file before the engines go.
    m_renderService.reset();
}
