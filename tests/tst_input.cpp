// Tests of the input dialog and InputStr: the layout, what is offered, what OK and Cancel keep
// in the per-user settings, and the mask; each dialog is answered from the event queue.
#include "hs_reg.h"
#include "input.h"
#include "startup.h"
#include "tfmapplication.h"

#include "answerinput.h"
#include "testsupport.h"

#include <QApplication>
#include <QClipboard>
#include <QPointer>
#include <QPushButton>
#include <QTest>

class TestInput : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Sandbox> m_box;
    std::unique_ptr<RecordingUi> m_ui;

    static QString stored()
    {
        openuserini();
        const QString value = inireadstring(QStringLiteral("LastInputStr"));
        closeuserini();
        return value;
    }
    static QString ask(const std::optional<QString> &typed, bool ok, InputSeen *seen = nullptr,
                       const QString &defaultText = QString(), const QString &prompt = "Søk")
    {
        InputAnswer answer(typed, ok);
        const QString result = InputStr(prompt, defaultText);
        if (seen) *seen = answer.seen;
        return result;
    }
    static void restart()
    {
        baseshutdown();
        inputInitialization();
        basestartup({QStringLiteral("Ostrel")});
    }

  private slots:
    void init()
    {
        m_box = std::make_unique<Sandbox>();
        m_ui = std::make_unique<RecordingUi>();
        inputInitialization();
        basestartup({QStringLiteral("Ostrel")});
    }
    void cleanup()
    {
        baseshutdown();
        m_ui.reset();
        m_box.reset();
    }

    void layout()
    {
        TInputForm form;
        QCOMPARE(form.objectName(), QString("InputForm"));
        QCOMPARE(form.windowTitle(), QString("Input:"));
        QCOMPARE(form.size(), QSize(396, 113));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                        Qt::WindowMinMaxButtonsHint)));
        const auto *label = form.findChild<QLabel *>("Label1");
        const auto *edit = form.findChild<QLineEdit *>("Edit1");
        const auto *ok = form.findChild<QPushButton *>("BitBtn1");
        const auto *cancel = form.findChild<QPushButton *>("BitBtn2");
        QCOMPARE(label->pos(), QPoint(32, 24));
        QCOMPARE(label->text(), QString("Label"));
        QCOMPARE(edit->geometry(), QRect(32, 40, 337, 21));
        QCOMPARE(ok->geometry(), QRect(88, 80, 75, 25));
        QCOMPARE(ok->text(), QString("O&k"));
        QVERIFY(ok->isDefault());
        QCOMPARE(cancel->geometry(), QRect(216, 80, 75, 25));
        QCOMPARE(cancel->text(), QString("&Avbryt"));
        // Tab order: the buttons first, then the field.
        QStringList chain;
        const QWidget *w = ok;
        do {
            if (w->focusPolicy() & Qt::TabFocus) chain.append(w->objectName());
            w = w->nextInFocusChain();
        } while (w != ok);
        QCOMPARE(chain, QStringList({"BitBtn1", "BitBtn2", "Edit1"}));
    }

    void firstUseOffersNothing()
    {
        InputSeen seen;
        QCOMPARE(ask(std::nullopt, false, &seen), QString());
        QVERIFY(seen.asked);
        QCOMPARE(seen.offered, QString());
        QCOMPARE(seen.prompt, QString("Søk"));
        QVERIFY(seen.focusInField);
        QVERIFY(!InputForm);
    }

    // OK returns the text as typed and keeps it; after a restart the kept copy comes back
    // without the blanks at its ends, selected so that typing replaces it.
    void okIsKeptAcrossARestart()
    {
        QCOMPARE(ask(QString("  Bjelk  "), true), QString("  Bjelk  "));
        QCOMPARE(LastInput, QString("  Bjelk  "));
        restart();
        InputSeen seen;
        QCOMPARE(ask(std::nullopt, true, &seen), QString("Bjelk"));
        QCOMPARE(seen.offered, QString("Bjelk"));
        QVERIFY(seen.allSelected);
    }

    void cancelKeepsTheStoredText_data()
    {
        QTest::addColumn<std::optional<QString>>("typed");
        QTest::newRow("untouched") << std::optional<QString>();
        QTest::newRow("typed over") << std::optional<QString>("annet");
    }
    void cancelKeepsTheStoredText()
    {
        QFETCH(std::optional<QString>, typed);
        ask(QString("pumpe"), true);
        QCOMPARE(ask(typed, false), QString());
        QCOMPARE(LastInput, QString());
        QCOMPARE(stored(), QString("pumpe"));
        InputSeen seen;
        ask(std::nullopt, false, &seen);
        QVERIFY(seen.asked);
        QCOMPARE(seen.offered, QString("pumpe"));
    }

    void okOnAnEmptyFieldStoresEmpty()
    {
        ask(QString("pumpe"), true);
        QCOMPARE(ask(QString(""), true), QString());
        QCOMPARE(stored(), QString());
        InputSeen seen;
        ask(std::nullopt, false, &seen);
        QCOMPARE(seen.offered, QString());
    }

    // A default of the caller's is shown instead, and the stored text is not read for it.
    void callersDefaultWins()
    {
        ask(QString("pumpe"), true);
        InputSeen seen;
        QCOMPARE(ask(std::nullopt, true, &seen, "BJELK"), QString("BJELK"));
        QCOMPARE(seen.offered, QString("BJELK"));
        QCOMPARE(stored(), QString("BJELK"));
    }

    void everyCallHasAFreshDialog()
    {
        ask(QString("x"), true);
        QPointer<TInputForm> first;
        {
            InputAnswer answer(std::nullopt, false);
            QTimer::singleShot(0, [&first] { first = InputForm; });
            InputStr("a", "b");
        }
        QTRY_VERIFY(first.isNull());
        QVERIFY(!InputForm);
    }

    // Any length is returned as it stands; a paste stops at its first line break, as in any
    // one-line field.
    void longTextAndPastedLines()
    {
        const QString longText = QString(40000, u'x') + "slutt";
        QCOMPARE(ask(std::nullopt, true, nullptr, longText), longText);
        TInputForm form;
        auto *edit = form.findChild<QLineEdit *>("Edit1");
        edit->setText("ab");
        edit->setCursorPosition(1);
        QApplication::clipboard()->setText("x\r\ny");
        edit->paste();
        QCOMPARE(edit->text(), QString("axb"));
    }

    void mask_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<bool>("masked");
        QTest::newRow("Passord") << "Passord" << true;
        QTest::newRow("passord") << "passord" << false;
        QTest::newRow("Passord:") << "Passord:" << false;
        QTest::newRow("other") << "Søk etter system .." << false;
    }
    void mask()
    {
        QFETCH(QString, prompt);
        QFETCH(bool, masked);
        InputSeen seen;
        QCOMPARE(ask(QString("hemmelig"), true, &seen, QString(), prompt), QString("hemmelig"));
        QCOMPARE(seen.prompt, prompt);
        QCOMPARE(seen.echo == QLineEdit::Password, masked);
        if (masked) QCOMPARE(seen.passwordCharacter, QString("*"));
    }
};

int main(int argc, char *argv[])
{
    TFMApplication app(argc, argv);
    pinNorwegianLocale();
    TestInput test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_input.moc"
