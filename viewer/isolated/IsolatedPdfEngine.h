#pragma once

#include "viewer/PdfEngine.h"

// The engine behind the render helper process: every call crosses to
// sheafline-render (see RenderHelper).  The document goes over as an open
// descriptor, pages come back through shared memory.
//
// When the helper goes away under another document, the next call opens this
// one again in the new helper; when it goes away under this document's own
// request (a crash, a hang, memory), the engine fails: that call and every
// later one answer empty and failed() turns true.
std::unique_ptr<PdfEngine> createIsolatedPdfEngine();

// Which engine a view control created from now on uses: the helper by
// default, the in-process one when the helper program is missing or the
// choice says so (for comparisons; $SHEAFLINE_RENDER_ENGINE=inprocess
// makes it the starting choice).
enum class PdfEngineChoice { Isolated, InProcess };
void setPdfEngineChoice(PdfEngineChoice choice);
PdfEngineChoice pdfEngineChoice();
// The engine factory for the current choice.
using PdfEngineFactoryFn = std::unique_ptr<PdfEngine> (*)();
PdfEngineFactoryFn pdfEngineFactory();
