#pragma once

#include "base/SettingsStore.h"
#include "browse/ThumbnailCache.h"

#include <memory>

class InotifyChangeLayer;
class PollingChangeLayer;
class PdfEngines;
class PdfRenderService;
class Updater;

// The objects the program is made of besides its window: made once, by
// main() for the program and by each test for its own window, and handed to
// the window, which keeps them for its life.  Nothing else in the program
// makes one of these or reaches for a global one.
//
//  - the settings store (the user's own settings unless another is given);
//  - the updater (null: the program's own, over the network);
//  - the one render service, on the engines chosen here: every document and
//    every file picture is read and drawn through it, in either back-end;
//  - the folder change layers: inotify, and over it the polling layer the
//    window's watcher registers with;
//  - where the file pictures are cached on disk.
//
// UI thread only; must outlive every window made on it.
class ProgramServices
{
public:
    struct Options
    {
        SettingsStore store;
        Updater *updater = nullptr; // not owned; must outlive the services
        // Draw in the program itself instead of the confined render helper
        // (for comparisons: $SHEAFLINE_RENDER_ENGINE=inprocess).
        bool inProcessEngine = false;
        // The render service's page cache, in bytes.
        qint64 pageCacheBytes = 160ll * 1024 * 1024;
        ThumbnailCache::Environment thumbnails = ThumbnailCache::defaultEnvironment();
    };
    // The options the program runs with: the user's own settings, the
    // network updater, the engine the environment asks for.  Read once.
    static Options fromEnvironment();

    explicit ProgramServices(Options options);
    ~ProgramServices();
    ProgramServices(const ProgramServices &) = delete;
    ProgramServices &operator=(const ProgramServices &) = delete;

    const SettingsStore &store() const { return m_options.store; }
    Updater *updater() const { return m_options.updater; }
    // A test swaps its updater between windows.
    void setUpdater(Updater *updater) { m_options.updater = updater; }
    // Where the engines come from: the confined render helper, or in-process.
    PdfEngines &engines() { return *m_engines; }
    PdfRenderService &renderService() { return *m_renderService; }
    InotifyChangeLayer &changeLayer() { return *m_changeLayer; }
    // The layer the window's watcher registers with: changeLayer() plus
    // polling of what inotify cannot see.
    PollingChangeLayer &pollingLayer() { return *m_pollingLayer; }
    const ThumbnailCache::Environment &thumbnailEnvironment() const { return m_options.thumbnails; }

private:
    Options m_options;
    std::unique_ptr<InotifyChangeLayer> m_changeLayer;
    std::unique_ptr<PollingChangeLayer> m_pollingLayer; // over m_changeLayer, so it goes first
    std::unique_ptr<PdfEngines> m_engines;
    std::unique_ptr<PdfRenderService> m_renderService;
};
