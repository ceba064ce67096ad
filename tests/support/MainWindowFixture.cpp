#include "support/MainWindowFixture.h"

#include "app/ProgramServices.h"
#include "app/Unit1.h"

#include <QTest>

MainWindowFixture::MainWindowFixture() : m_dir(std::make_unique<TestDir>()) {}

MainWindowFixture::~MainWindowFixture()
{
    close();
}

void MainWindowFixture::setUpdater(Updater *updater)
{
    m_updater = updater;
    if (m_services)
        m_services->setUpdater(updater);
}

ProgramServices &MainWindowFixture::services()
{
    if (!m_services) {
        ProgramServices::Options options = ProgramServices::fromEnvironment();
        options.store = store();
        options.updater = m_updater;
        m_services = std::make_unique<ProgramServices>(std::move(options));
    }
    return *m_services;
}

TForm1 *MainWindowFixture::create(const QStringList &args)
{
    close();
    m_form = std::make_unique<TForm1>(args, services());
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
    m_form.reset();
}

void MainWindowFixture::reset()
{
    close();
    m_dir = std::make_unique<TestDir>();
}
