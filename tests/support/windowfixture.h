// Test support: the program's main window run on a sandbox, for tests that drive it through
// its widgets. A test class takes it as a base and calls setUp and tearDown around each test.
#pragma once

#include "TFM.h"
#include "hs_reg.h"
#include "input.h"
#include "startup.h"
#include "tfmapplication.h"
#include "tfmcombobox.h"

#include "testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <memory>

class WindowFixture {
  protected:
    std::unique_ptr<Sandbox> m_box;
    std::unique_ptr<RecordingUi> m_ui;
    TTFMform *m_form = nullptr;

    void setUp()
    {
        m_box = std::make_unique<Sandbox>();
        m_ui = std::make_unique<RecordingUi>();
        TFMInitialization();
        inputInitialization();
        TFMApplication::setTitle(QStringLiteral("Kalvenor TFM"));
    }
    void tearDown()
    {
        stop();
        m_ui.reset();
        m_box.reset();
    }

    // One run of the program: base start-up, the window shown; and its end.
    void start()
    {
        m_form = TFMApplication::startMainWindow({QStringLiteral("Ostrel")});
        waitUntilActive();
    }
    // The window alone, for a test that has run the base start-up itself.
    void createAndShow()
    {
        m_form = new TTFMform;
        m_form->show();
        waitUntilActive();
    }
    void waitUntilActive()
    {
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form));
    }
    void stop()
    {
        if (!m_form) return;
        m_form->close();
        delete m_form;
        m_form = nullptr;
        baseshutdown();
    }

    TFMComboBox *box(const char *name) { return m_form->findChild<TFMComboBox *>(name); }
    QLineEdit *edit(const char *name) { return m_form->findChild<QLineEdit *>(name); }
    QToolButton *button(const char *name) { return m_form->findChild<QToolButton *>(name); }
    QString label() { return m_form->findChild<QLabel *>("TFMLabel")->text(); }
    QString dataFile(const char *name) { return kalvenorpath(QStringLiteral("data\\tfm")) + name; }
};
