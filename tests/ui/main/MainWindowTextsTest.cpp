// What the main window says: German key names, one mnemonic per letter in
// each menu and in the button row, "noch nie" for a job never run, and every
// text whole at the smallest and at the default window size.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimeEdit>
#include <map>

#include "MainWindowFixture.h"
#include "jobs/Schedule.h"
#include "runcontrol/Scheduler.h"
#include "util/DateTime.h"

namespace qvb::test {
namespace {

class MainWindowTextsTest : public MainWindowTest {
  protected:
    void TearDown() override {
        MainWindowTest::TearDown();
        setClock({});
    }
    // The letters after "&" of the captions, and which caption claims each twice.
    static std::vector<QString> doubleMnemonics(const QStringList& captions) {
        std::map<QChar, QString> seen;
        std::vector<QString> doubles;
        for (const QString& caption : captions) {
            const int amp = caption.indexOf(QLatin1Char('&'));
            if (amp < 0 || amp + 1 >= caption.size()) continue;
            const QChar letter = caption.at(amp + 1).toLower();
            if (seen.count(letter)) doubles.push_back(seen[letter] + " / " + caption);
            seen[letter] = caption;
        }
        return doubles;
    }
    // The room the style leaves for a button's caption against its text.
    static bool buttonFits(const QAbstractButton& button) {
        QString text = button.text();
        text.remove(QLatin1Char('&'));
        QStyleOptionButton option;
        option.initFrom(&button);
        option.text = button.text();
        QStyle::SubElement element = QStyle::SE_PushButtonContents;
        if (qobject_cast<const QCheckBox*>(&button)) element = QStyle::SE_CheckBoxContents;
        if (qobject_cast<const QRadioButton*>(&button)) element = QStyle::SE_RadioButtonContents;
        const QRect room = button.style()->subElementRect(element, &option, &button);
        return button.fontMetrics().horizontalAdvance(text) <= room.width();
    }
    // A wrapping label needs its height for its width and every word whole.
    static bool labelFits(const QLabel& label) {
        const QRect room = label.contentsRect();
        const QFontMetrics metrics = label.fontMetrics();
        if (!label.wordWrap()) return metrics.horizontalAdvance(label.text()) <= room.width();
        for (const QString& word : label.text().split(QLatin1Char(' '), Qt::SkipEmptyParts))
            if (metrics.horizontalAdvance(word) > room.width()) return false;
        return label.heightForWidth(label.width()) <= label.height();
    }
    QString nextRow() const { return child<TListBox>("lbxNext")->item(0)->text(); }
};

TEST_F(MainWindowTextsTest, KeyNamesAreGermanAndMnemonicsUniquePerMenuAndButtonRow) {
    storeJobs(1);
    open();
    EXPECT_EQ(action("actionNewJob")->shortcut().toString(QKeySequence::NativeText), "Strg+N");
    EXPECT_EQ(action("actionCancelJob")->text(), "Abb&ruch");
    EXPECT_EQ(child<QLabel>("lblLastBackupzeit")->text(), "noch nie");

    QStringList titles;
    for (QAction* entry : child<QMenuBar>("MainMenu1")->actions()) {
        titles << entry->text();
        QStringList captions;
        for (QAction* item : entry->menu()->actions()) captions << item->text();
        EXPECT_EQ(doubleMnemonics(captions), std::vector<QString>{}) << entry->text().toStdString();
    }
    // The buttons share the window's Alt keys with the menu bar.
    QStringList row = titles;
    for (QPushButton* button : child<QWidget>("gbxButtons")->findChildren<QPushButton*>())
        row << button->text();
    EXPECT_EQ(doubleMnemonics(row), std::vector<QString>{});
}

// Weekday, start time and end time change the next-run row as soon as they
// are chosen or typed. 10.02.2027 is a Wednesday.
TEST_F(MainWindowTextsTest, ScheduleControlsMoveTheNextRunAtOnce) {
    struct Case {
        TJobInterval interval;
        const char* control;
        std::vector<int> keys;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        // Monday to Thursday with three steps down.
        {kIntervalWeekly,
         "cbxWochentag",
         {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down},
         "4 Tage, 21 Stunden, 41 Minuten...",
         "21 Stunden, 41 Minuten..."},
        // 08:00 typed over as 12 o'clock.
        {kIntervalDaily,
         "dtpStartZeit",
         {Qt::Key_1, Qt::Key_2},
         "21 Stunden, 41 Minuten...",
         "1 Stunde, 41 Minuten..."},
        // The end 18:00 typed over as 10 o'clock, which has passed.
        {kIntervalHourly,
         "dtpEndZeit",
         {Qt::Key_1, Qt::Key_0},
         "41 Minuten...",
         "21 Stunden, 41 Minuten..."},
    };
    setClock([] { return encodeDateTime({2027, 2, 10, 10, 20, 0}); });
    for (const Case& c : cases) {
        storeJobs({[&](TCopyJob& j) {
            j.fWeekday = 1;
            j.fActive = true;
            j.fEndTime = encodeTime(18, 0, 0);
            j.setSchedule(c.interval, encodeTime(8, 0, 0));
        }});
        open();
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        EXPECT_EQ(nextRow().toStdString(), c.before) << c.control;
        auto* control = child<QWidget>(c.control);
        control->setFocus();
        for (int key : c.keys) QTest::keyClick(control, static_cast<Qt::Key>(key));
        EXPECT_EQ(nextRow().toStdString(), c.after) << c.control;
        window.reset();
    }
}

// No text is cut: at the smallest size and at the size of a first start,
// idle and after a run with long texts in the status line.
TEST_F(MainWindowTextsTest, EveryTextFitsItsWidget) {
    const std::string source = dir / "Quelle mit einem recht langen Namen/";
    buildTree(source, {file("a.txt", "a")});
    storeJobs({[&](TCopyJob& j) {
        j.fJobName = "Dokumente nach extern";
        j.fSources = {source + "=1"};
        j.setSchedule(kIntervalHourly, encodeTime(8, 0, 0));
    }});
    open();
    const QSize defaultSize = window->size();
    window->show();
    const auto cutTexts = [this] {
        std::vector<std::string> cut;
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (!label->isVisibleTo(window.get())) continue;
            if (!labelFits(*label))
                cut.push_back(label->objectName().toStdString() + ": " +
                              label->text().toStdString());
        }
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
            if (!button->isVisibleTo(window.get()) || button->text().isEmpty()) continue;
            if (!buttonFits(*button))
                cut.push_back(button->objectName().toStdString() + ": " +
                              button->text().toStdString());
        }
        return cut;
    };
    for (const QSize size : {window->minimumSize(), defaultSize}) {
        window->resize(size);
        QApplication::processEvents();
        EXPECT_EQ(cutTexts(), std::vector<std::string>{}) << size.width() << "x" << size.height();
    }
    // An overdue job's next-run row keeps its date and time whole at the first start's size.
    const TListBox* next = child<TListBox>("lbxNext");
    EXPECT_GE(next->viewport()->width(), next->fontMetrics().horizontalAdvance(
                                             QStringLiteral("überfällig seit 03.12.2026 20:00, ")));
    action("actionBackup")->trigger();
    action("actionShowLog")->trigger();
    // After a run the clock group holds a date and a time instead of "noch nie";
    // the status line's verdict needs to fit at the default size only.
    for (const QSize size : {window->minimumSize(), defaultSize}) {
        window->resize(size);
        QApplication::processEvents();
        std::vector<std::string> cut = cutTexts();
        if (size != defaultSize)
            std::erase_if(cut, [](const std::string& t) { return t.starts_with("lblKopieren:"); });
        EXPECT_EQ(cut, std::vector<std::string>{})
            << "after a run, " << size.width() << "x" << size.height();
    }
}

}  // namespace
}  // namespace qvb::test
