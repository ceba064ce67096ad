#pragma once

#include "viewer/PdfEngine.h"

#include <functional>
#include <memory>

class RenderHelper;

// The program's source of PDF engines: a render helper process of its own, or
// pdfium in-process.  Made once by the composition root and handed to whoever
// makes engines; must outlive every engine it made.  Thread-safe: engines are
// made on the render threads.
class PdfEngines
{
public:
    enum class Kind { Isolated, InProcess };
    // $SHEAFLINE_RENDER_ENGINE=inprocess -> InProcess, else Isolated.  Read
    // once, by main().
    static Kind kindFromEnvironment();

    // Isolated falls back to InProcess (with one warning on stderr) when the
    // helper program is missing.  No helper starts before the first request.
    explicit PdfEngines(Kind kind = Kind::Isolated);
    // Ends the helper process.
    ~PdfEngines();
    PdfEngines(const PdfEngines &) = delete;
    PdfEngines &operator=(const PdfEngines &) = delete;

    // What it actually uses.
    Kind kind() const { return m_kind; }
    // A new engine of that kind.
    std::unique_ptr<PdfEngine> create();
    // [this] { return create(); }
    std::function<std::unique_ptr<PdfEngine>()> factory();
    // The helper behind the isolated engines; null in-process.
    RenderHelper *helper() { return m_helper.get(); }
    // A caller about to wait for every document to close waits at most
    // graceMs for a hung helper.  Any thread.
    void shortenWait(int graceMs);

private:
    Kind m_kind;
    std::unique_ptr<RenderHelper> m_helper;
};
