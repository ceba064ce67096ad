#include "app/DocumentSurface.h"

#include <QWidget>

#include <map>

namespace {

std::map<int, DocumentSurfaceTest> &tests()
{
    static std::map<int, DocumentSurfaceTest> registry;
    return registry;
}

int nextId = 1;

} // namespace

int registerDocumentSurfaceTest(DocumentSurfaceTest test)
{
    const int id = nextId++;
    tests().emplace(id, std::move(test));
    return id;
}

void unregisterDocumentSurfaceTest(int id)
{
    tests().erase(id);
}

bool isDocumentSurface(const QWidget *widget)
{
    if (!widget)
        return false;
    for (const auto &[id, test] : tests()) {
        if (test && test(widget))
            return true;
    }
    return false;
}

bool focusMustReturn(bool windowActive, const QWidget *focus, const QWidget *keeper)
{
    if (!windowActive || !keeper)
        return false;
    if (!isDocumentSurface(focus))
        return false;
    return !keeper->hasFocus();
}
