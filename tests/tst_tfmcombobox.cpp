// Tests of TFMComboBox: the close-up and change events, replacing the entries, inline
// completion and capitals, driven through the keyboard and the drop-down list.
#include "tfmcombobox.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>

class TestTfmComboBox : public QObject {
    Q_OBJECT

  private:
    const QStringList m_entries = {"B1 BYGG 1", "B2 BYGG 2", "HA HALL A", "LHT1 LEILIGHET 1"};
    std::unique_ptr<TFMComboBox> m_box;

    void openPopup()
    {
        m_box->showPopup();
        QTRY_VERIFY(m_box->view()->isVisible());
    }

    // A turn of the wheel over the box, as the window system delivers it.
    void turnWheel(int steps)
    {
        const QPointF at(m_box->rect().center());
        QWheelEvent wheel(at, m_box->mapToGlobal(at), QPoint(), QPoint(0, -120 * steps),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        QApplication::sendEvent(m_box.get(), &wheel);
    }

  private slots:
    void init()
    {
        m_box = std::make_unique<TFMComboBox>();
        m_box->setItems(m_entries);
        m_box->resize(300, 24);
        m_box->show();
        m_box->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_box.get()));
    }
    void cleanup() { m_box.reset(); }

    void programChangesFireNothing()
    {
        QSignalSpy changed(m_box.get(), &TFMComboBox::changed);
        QSignalSpy closeUp(m_box.get(), &TFMComboBox::closeUp);
        m_box->setText("B1 BYGG 1");
        m_box->selectIndex(2);
        QCOMPARE(m_box->text(), QString("HA HALL A"));
        m_box->setItems({"X1", "X2"});
        m_box->selectIndex(-1);
        QCoreApplication::processEvents();
        QCOMPARE(changed.count(), 0);
        QCOMPARE(closeUp.count(), 0);
    }

    void replacingEntriesKeepsTextAndSelectsNothing()
    {
        m_box->selectIndex(1);
        m_box->setText("typed");
        m_box->setItems({"A", "B"});
        QCOMPARE(m_box->text(), QString("typed"));
        QCOMPARE(m_box->selectedIndex(), -1);
        QCOMPARE(m_box->items(), QStringList({"A", "B"}));
        m_box->setItems({});
        QCOMPARE(m_box->text(), QString("typed"));
        QCOMPARE(m_box->count(), 0);
    }

    void userInputFiresChange()
    {
        QSignalSpy changed(m_box.get(), &TFMComboBox::changed);
        QTest::keyClicks(m_box.get(), "x");
        QCOMPARE(changed.count(), 1);
        QTest::keyClick(m_box.get(), Qt::Key_Backspace);
        QCOMPARE(changed.count(), 2);
        // Arrow keys on the closed box pick the next entry.
        QTest::keyClick(m_box.get(), Qt::Key_Down);
        QCOMPARE(changed.count(), 3);
    }

    // The close-up comes on every closing, and after a pick it sees the picked entry.
    void closeUpOnEveryClosing()
    {
        QSignalSpy closeUp(m_box.get(), &TFMComboBox::closeUp);
        QSignalSpy changed(m_box.get(), &TFMComboBox::changed);
        QList<int> selectedAtCloseUp;
        connect(m_box.get(), &TFMComboBox::closeUp, this,
                [&] { selectedAtCloseUp.append(m_box->selectedIndex()); });
        m_box->selectIndex(0);

        openPopup(); // closed by the program
        m_box->hidePopup();
        QTRY_COMPARE(closeUp.count(), 1);

        openPopup(); // closed with Escape, no new choice
        QTest::keyClick(m_box->view(), Qt::Key_Escape);
        QTRY_COMPARE(closeUp.count(), 2);

        openPopup(); // a pick with the keyboard
        QTest::keyClick(m_box->view(), Qt::Key_Down);
        QTest::keyClick(m_box->view(), Qt::Key_Down);
        QTest::keyClick(m_box->view(), Qt::Key_Return);
        QTRY_COMPARE(closeUp.count(), 3);
        QCOMPARE(m_box->text(), QString("HA HALL A"));
        QCOMPARE(changed.count(), 1);

        openPopup(); // a pick with the mouse, once the popup takes clicks
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        const QModelIndex last = m_box->model()->index(3, 0);
        m_box->view()->setCurrentIndex(last);
        QTest::mouseClick(m_box->view()->viewport(), Qt::LeftButton, {},
                          m_box->view()->visualRect(last).center());
        QTRY_COMPARE(closeUp.count(), 4);
        QCOMPARE(m_box->text(), QString("LHT1 LEILIGHET 1"));
        QCOMPARE(changed.count(), 2);

        QCOMPARE(selectedAtCloseUp, QList<int>({0, 0, 2, 3}));
    }

    // Opening an empty box shows no list, yet its closing is reported all the same.
    void emptyBoxClosesUp()
    {
        QSignalSpy closeUp(m_box.get(), &TFMComboBox::closeUp);
        m_box->setItems({});
        m_box->showPopup();
        QTRY_COMPARE(closeUp.count(), 1);
        QTest::keyClick(m_box.get(), Qt::Key_Down, Qt::AltModifier);
        QTRY_COMPARE(closeUp.count(), 2);
        QVERIFY(!m_box->view()->isVisible());
    }

    // Finishing an edit is no pick: a text equal to an entry stays unselected and fires nothing.
    void finishingAnEditPicksNothing_data()
    {
        QTest::addColumn<int>("key"); // 0: the focus leaves the box
        QTest::newRow("focus out") << 0;
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
    }

    void finishingAnEditPicksNothing()
    {
        QFETCH(int, key);
        QLineEdit other;
        other.show();
        QSignalSpy changed(m_box.get(), &TFMComboBox::changed);
        QSignalSpy activated(m_box.get(), &QComboBox::activated);
        m_box->setText("HA HALL A");
        m_box->setFocus();
        QTRY_VERIFY(m_box->hasFocus());
        if (key) QTest::keyClick(m_box.get(), Qt::Key(key));
        other.activateWindow();
        other.setFocus();
        QTRY_VERIFY(!m_box->hasFocus());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(activated.count(), 0);
        QCOMPARE(m_box->selectedIndex(), -1);
        QCOMPARE(m_box->text(), QString("HA HALL A"));
    }

    // The wheel goes to the focused control: over another box it changes nothing.
    void wheelTurnsOnlyTheFocusedBox()
    {
        QSignalSpy changed(m_box.get(), &TFMComboBox::changed);
        m_box->selectIndex(1);
        m_box->clearFocus();
        turnWheel(1);
        QVERIFY(!m_box->hasFocus());
        QCOMPARE(m_box->selectedIndex(), 1);
        QCOMPARE(changed.count(), 0);

        m_box->setFocus();
        QTRY_VERIFY(m_box->hasFocus());
        turnWheel(1);
        QCOMPARE(m_box->selectedIndex(), 2);
        QCOMPARE(changed.count(), 1);
    }

    void inlineCompletion_data()
    {
        QTest::addColumn<bool>("upper");
        QTest::addColumn<QString>("keys"); // "<" stands for Backspace
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<int>("index");

        QTest::newRow("first match") << false << "b"
                                     << "B1 BYGG 1"
                                     << "1 BYGG 1" << 0;
        QTest::newRow("typing on") << false << "b2"
                                   << "B2 BYGG 2"
                                   << " BYGG 2" << 1;
        QTest::newRow("case-insensitive") << false << "lht"
                                          << "LHT1 LEILIGHET 1"
                                          << "1 LEILIGHET 1" << 3;
        QTest::newRow("whole entry") << false << "ha hall a"
                                     << "HA HALL A"
                                     << "" << 2;
        QTest::newRow("no match") << false << "bx"
                                  << "Bx"
                                  << "" << -1;
        QTest::newRow("backspace takes it back") << false << "b<"
                                                 << "B"
                                                 << "" << -1;
        QTest::newRow("then typing completes again") << false << "b<2"
                                                     << "B2 BYGG 2"
                                                     << " BYGG 2" << 1;
        QTest::newRow("capitals, no match") << true << "xy"
                                            << "XY"
                                            << "" << -1;
        QTest::newRow("capitals, match") << true << "s"
                                         << "S1"
                                         << "1" << 0;
    }

    void inlineCompletion()
    {
        QFETCH(bool, upper);
        QFETCH(QString, keys);
        m_box->setUpperCase(upper);
        m_box->setItems(upper ? QStringList({"s1", "B1 BYGG 1"}) : m_entries);
        for (QChar c : keys) {
            if (c == u'<')
                QTest::keyClick(m_box.get(), Qt::Key_Backspace);
            else
                QTest::keyClicks(m_box.get(), QString(c));
        }
        QTEST(m_box->text(), "text");
        QTEST(m_box->lineEdit()->selectedText(), "selected");
        QTEST(m_box->selectedIndex(), "index");
    }

    void upperCaseBox()
    {
        m_box->setUpperCase(true);
        m_box->setItems({"k1 kai 1", "æøå"});
        QCOMPARE(m_box->items(), QStringList({"K1 KAI 1", "ÆØÅ"}));
        m_box->setText("eksempel");
        QCOMPARE(m_box->text(), QString("EKSEMPEL"));
        m_box->setText(QString());
        QTest::keyClicks(m_box.get(), "æ");
        QCOMPARE(m_box->text(), QString("ÆØÅ"));
    }

    // The drop-down list measures one row for all, and a row of any length is laid out no
    // further than a row could show: as wide as one of a thousand characters.
    void longRowsCostAShortRow_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("2,000 characters") << 2'000;
        QTest::newRow("1,000,000 characters") << 1'000'000;
    }

    void longRowsCostAShortRow()
    {
        QFETCH(int, length);
        m_box->setItems({"AB kort", QString(1'000, u'x'), QString(length, u'x')});
        auto *view = qobject_cast<QListView *>(m_box->view());
        QVERIFY(view);
        QVERIFY(view->uniformItemSizes());
        QStyleOptionViewItem option;
        option.initFrom(view);
        const QAbstractItemDelegate *delegate = view->itemDelegate();
        QCOMPARE(delegate->sizeHint(option, m_box->model()->index(2, 0)),
                 delegate->sizeHint(option, m_box->model()->index(1, 0)));
        openPopup();
        QCOMPARE(view->visualRect(m_box->model()->index(2, 0)).height(),
                 view->visualRect(m_box->model()->index(0, 0)).height());
    }
};

QTEST_MAIN(TestTfmComboBox)
#include "tst_tfmcombobox.moc"
