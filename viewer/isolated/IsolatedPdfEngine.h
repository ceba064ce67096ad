#pragma once

#include "viewer/PdfEngine.h"

class RenderHelper;

// The engine behind a render helper process: every call crosses to
// sheafline-render (see RenderHelper).  The document goes over as an open
// descriptor, pages come back through shared memory.  The helper must outlive
// the engine; the pages it drew keep their shared memory alive on their own.
//
// When the helper goes away under another document, the next call opens this
// one again in the new helper; when it goes away under this document's own
// request (a crash, a hang, memory), the engine fails: that call and every
// later one answer empty and failed() turns true.
std::unique_ptr<PdfEngine> createIsolatedPdfEngine(RenderHelper &helper);
