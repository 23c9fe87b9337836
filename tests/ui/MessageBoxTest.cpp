#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "ui/QtUserInterface.h"

using namespace qvb;
using namespace std::chrono_literals;

namespace {

QStringList captions(const QMessageBox& box) {
    QStringList texts;
    for (QAbstractButton* button : box.buttons()) texts << button->text();
    texts.sort();
    return texts;
}

QAbstractButton* buttonNamed(QMessageBox& box, const QString& caption) {
    for (QAbstractButton* button : box.buttons())
        if (button->text() == caption) return button;
    return nullptr;
}

// Runs `act` on the message box as soon as it is shown modally; closes it
// when a failed check left it open.
void whenBoxShows(std::function<void(QMessageBox&)> act) {
    QTimer::singleShot(0, [act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        act(*box);
        if (box->isVisible()) box->done(0);
    });
}

}  // namespace

class MessageBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void eachKindHasItsIconAndTitle() {
        const std::pair<TMsgKind, QMessageBox::Icon> kinds[] = {
            {TMsgKind::Error, QMessageBox::Critical},
            {TMsgKind::Warning, QMessageBox::Warning},
            {TMsgKind::Information, QMessageBox::Information},
            {TMsgKind::Confirmation, QMessageBox::Question}};
        for (const auto& [kind, icon] : kinds) {
            const auto box = createMessageBox(kind, "Text", mbOK, {}, nullptr);
            QCOMPARE(box->icon(), icon);
            QCOMPARE(box->windowTitle().toStdString(), defaultTitle(kind));
        }
        QCOMPARE(
            createMessageBox(TMsgKind::Error, "x", mbOK, "Eigener Titel", nullptr)->windowTitle(),
            QStringLiteral("Eigener Titel"));
    }

    void buttonsCarryGermanCaptions() {
        const auto all = createMessageBox(TMsgKind::Confirmation, "?",
                                          mbOK | mbCancel | mbYes | mbNo, {}, nullptr);
        QCOMPARE(captions(*all), (QStringList{"&Abbrechen", "Ja", "Nein", "OK"}));
        // No button asked for still gives one to close the box with.
        QCOMPARE(captions(*createMessageBox(TMsgKind::Error, "x", 0, {}, nullptr)),
                 QStringList{"OK"});
    }

    void windowsLineBreaksBecomeLines() {
        const auto box = createMessageBox(TMsgKind::Error, "eins\r\nzwei\rdrei", mbOK, {}, nullptr);
        QCOMPARE(box->text(), QStringLiteral("eins\nzwei\ndrei"));
    }

    void theButtonPressedIsTheAnswer() {
        TQtUserInterface ui;
        whenBoxShows([](QMessageBox& box) { buttonNamed(box, "Nein")->click(); });
        QCOMPARE(ui.showMessage(TMsgKind::Confirmation, "Weiter?", mbYes | mbNo | mbCancel,
                                TMsgResult::Yes),
                 TMsgResult::No);
        whenBoxShows([](QMessageBox& box) { buttonNamed(box, "Ja")->click(); });
        QCOMPARE(ui.showMessage(TMsgKind::Confirmation, "Weiter?", mbYes | mbNo, TMsgResult::No),
                 TMsgResult::Yes);
    }

    // The unattended answer is for runs without a window; closing a box must
    // give the most cautious of its own answers instead.
    void escapeGivesTheCautiousAnswer() {
        TQtUserInterface ui;
        whenBoxShows([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
        QCOMPARE(ui.showMessage(TMsgKind::Warning, "?", mbOK | mbCancel, TMsgResult::OK),
                 TMsgResult::Cancel);
        whenBoxShows([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
        QCOMPARE(ui.showMessage(TMsgKind::Confirmation, "?", mbYes | mbNo, TMsgResult::Yes),
                 TMsgResult::No);
    }

    // Enter answers "Ja" unless the question asks for "Nein" as its default
    // (a deletion that cannot be undone).
    void enterGivesTheDefaultAnswer() {
        TQtUserInterface ui;
        const std::pair<unsigned, TMsgResult> cases[] = {
            {mbYes | mbNo, TMsgResult::Yes},
            {mbYes | mbNo | mbDefaultNo, TMsgResult::No},
        };
        for (const auto& [buttons, answer] : cases) {
            whenBoxShows([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); });
            QCOMPARE(ui.showMessage(TMsgKind::Confirmation, "Löschen?", buttons, TMsgResult::Yes),
                     answer);
        }
    }

    void installsItselfWhileItLives() {
        {
            TQtUserInterface ui;
            QCOMPARE(&userInterface(), static_cast<TUserInterface*>(&ui));
        }
        QVERIFY(dynamic_cast<TConsoleUserInterface*>(&userInterface()));
    }

    void busyCursorNestsAndIsRestored() {
        {
            TQtUserInterface ui;
            ui.setBusy(true);
            ui.setBusy(true);
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
            ui.setBusy(false);
            QVERIFY(QApplication::overrideCursor());
            ui.setBusy(false);
            QVERIFY(!QApplication::overrideCursor());
            // An unmatched "off" must not pop a cursor someone else set.
            QApplication::setOverrideCursor(Qt::CrossCursor);
            ui.setBusy(false);
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
            QApplication::restoreOverrideCursor();
            ui.setBusy(true);
        }
        QVERIFY(!QApplication::overrideCursor());
    }

    void eventsAreProcessedAtMostEveryTwentyMilliseconds() {
        std::chrono::steady_clock::time_point now{};
        TQtUserInterface ui([&now] { return now; });
        int handled = 0;
        const auto post = [&handled] {
            QMetaObject::invokeMethod(
                qApp, [&handled] { ++handled; }, Qt::QueuedConnection);
        };
        post();
        ui.processEvents();
        QCOMPARE(handled, 1);
        post();
        now += 19ms;
        ui.processEvents();
        QCOMPARE(handled, 1);
        now += 1ms;
        ui.processEvents();
        QCOMPARE(handled, 2);
    }
};

QTEST_MAIN(MessageBoxTest)
#include "MessageBoxTest.moc"
