#include "app/ProgramServices.h"

#include "viewer/PdfRenderService.h"
#include "viewer/isolated/PdfEngines.h"
#include "watch/InotifyChangeLayer.h"
#include "watch/PollingChangeLayer.h"

ProgramServices::Options ProgramServices::fromEnvironment()
{
    Options options;
    options.inProcessEngine = PdfEngines::kindFromEnvironment() == PdfEngines::Kind::InProcess;
    return options;
}

ProgramServices::ProgramServices(Options options)
    : m_options(std::move(options))
    , m_changeLayer(std::make_unique<InotifyChangeLayer>())
    , m_pollingLayer(std::make_unique<PollingChangeLayer>(m_changeLayer.get()))
{
    m_engines = std::make_unique<PdfEngines>(m_options.inProcessEngine ? PdfEngines::Kind::InProcess
                                                                       : PdfEngines::Kind::Isolated);
    PdfEngines *engines = m_engines.get();
    m_renderService = std::make_unique<PdfRenderService>(m_options.pageCacheBytes, engines->factory(),
                                                         [engines](int graceMs) { engines->shortenWait(graceMs); });
}

ProgramServices::~ProgramServices()
{
    // The service's worker lets go of every file before the engines (and
    // their helper process) go; it cuts its wait for a helper that hangs.
    m_renderService->closeAll();
    m_renderService.reset();
}
