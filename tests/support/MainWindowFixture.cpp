#include "support/MainWindowFixture.h"

#include "app/Unit1.h"

#include <QTest>

MainWindowFixture::MainWindowFixture() : m_dir(std::make_unique<TestDir>()) {}

MainWindowFixture::~MainWindowFixture()
{
    close();
}

TForm1 *MainWindowFixture::create(const QStringList &args)
{
    close();
    m_form = std::make_unique<TForm1>(args, store(), m_updater);
    Form1 = m_form.get();
    return m_form.get();
}

TForm1 *MainWindowFixture::open(const QStringList &args)
{
    create(args);
    return show();
}

TForm1 *MainWindowFixture::show()
{
    TForm1 *form = m_form.get();
    if (!form)
        return nullptr;
    form->show();
    if (!QTest::qWaitForWindowExposed(form))
        return nullptr;
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form))
        return nullptr;
    return form;
}

void MainWindowFixture::close()
{
    m_form.reset(); // the window clears Form1 itself
}

void MainWindowFixture::reset()
{
    close();
    m_dir = std::make_unique<TestDir>();
}
