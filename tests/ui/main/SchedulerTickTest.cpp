// The window's one-second timer: a job that is due starts without a click,
// and the next-run list and the clock follow the ticks.

#include <QLabel>

#include "MainWindowFixture.h"
#include "jobs/Schedule.h"
#include "runcontrol/Scheduler.h"
#include "util/DateTime.h"

namespace qvb::test {
namespace {

class SchedulerTickTest : public MainWindowTest {
  protected:
    void TearDown() override {
        MainWindowTest::TearDown();
        setClock({});
    }
    QString nextRow(int row) const { return child<TListBox>("lbxNext")->item(row)->text(); }
};

TEST_F(SchedulerTickTest, RealTickStartsTheDueJobAndLeavesTheShownJob) {
    const std::string source = dir / "quelle/";
    buildTree(source, {file("a.txt", "a")});
    storeJobs({[&](TCopyJob& j) {
                   j.fJobName = "Täglich";
                   j.fSources = {source + "=1"};
                   j.fActive = true;
                   j.setSchedule(kIntervalDaily, encodeTime(8, 0, 0));
               },
               [](TCopyJob& j) { j.fJobName = "Von Hand"; }},
              2);
    // Half a minute after the start time: every tick of the test falls into
    // the job's due minute.
    setClock([] { return encodeDateTime({2027, 2, 10, 8, 0, 30}); });
    open();
    EXPECT_EQ(nextRow(0), "(manueller Start)");
    EXPECT_EQ(nextRow(1), "(manueller Start)");

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return memoHas("letzte Sicherung: 10.02.2027 08:00:30"); }, 5000));
    EXPECT_TRUE(memoHas("10.02.2027 08:00:30:  starte Backup-Job01 \"Täglich\""));
    EXPECT_EQ(window->currentJob(), &job(1));
    // Nobody had to answer the same-drive question or the new destination.
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(job(0).fAnswers, TAnswers::User);

    ASSERT_TRUE(QTest::qWaitFor([&] { return nextRow(0).toStdString() == kRowDone; }, 3000));
    EXPECT_EQ(nextRow(1), "(manueller Start)");
    EXPECT_EQ(child<QLabel>("lblDate")->text(), "10.02.2027");
    EXPECT_EQ(child<QLabel>("lblTime")->text(), "08:00:30");
}

}  // namespace
}  // namespace qvb::test
