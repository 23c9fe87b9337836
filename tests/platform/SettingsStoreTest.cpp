// The INI file and the registry store answer the same calls the same way;
// where they differ (letter case of names, what a value may hold) they differ
// on purpose.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/IniFile.h"
#include "platform/RegistryStore.h"
#include "support/SettingsSandbox.h"
#include "support/Tree.h"

namespace qvb {
namespace {

struct StoreCase {
    const char* name;
    std::function<std::unique_ptr<TSettingsStore>(const test::SettingsSandbox&)> make;
    bool ini;
};

class SettingsStoreTest : public ::testing::TestWithParam<StoreCase> {
  protected:
    test::SettingsSandbox sandbox;
};

TEST_P(SettingsStoreTest, TypedValuesRecordsAndOneCommit) {
    auto store = GetParam().make(sandbox);
    const bool ini = GetParam().ini;
    EXPECT_TRUE(store->readable());
    EXPECT_TRUE(store->records().empty());
    const TDateTime when = encodeDateTime({2026, 12, 7, 14, 30, 5, 0});
    ASSERT_TRUE(store->writeText("Job01", "Name", "Büro"));
    ASSERT_TRUE(store->writeNumber("Job01", "Zeitunterschied", -7));
    ASSERT_TRUE(store->writeTime("Job01", "LetztesBackup", when));
    ASSERT_TRUE(store->writeText("Job02", "Name", "Zwei"));
    ASSERT_TRUE(store->writeText("JOB02", "Name", "Doppelt"));
    ASSERT_TRUE(store->commit());

    std::string text;
    int32_t number = 0;
    TDateTime time = 0;
    EXPECT_EQ(store->readText("Job01", "Name", text), TReadResult::Ok);
    EXPECT_EQ(text, "Büro");
    EXPECT_EQ(store->readNumber("Job01", "Zeitunterschied", number), TReadResult::Ok);
    EXPECT_EQ(number, -7);
    EXPECT_EQ(store->readTime("Job01", "LetztesBackup", time), TReadResult::Ok);
    EXPECT_NEAR(time, when, kOneSecond / 2);
    EXPECT_EQ(store->readNumber("Job01", "Name", number), TReadResult::WrongType);
    EXPECT_EQ(store->readTime("Job01", "Name", time), TReadResult::WrongType);
    EXPECT_EQ(store->readNumber("Job01", "Aktiv", number), TReadResult::Absent);
    EXPECT_EQ(store->valueCount("Job01"), 3u);
    // Names match ignoring case in an INI file only.
    EXPECT_EQ(store->records().size(), ini ? 2u : 3u);

    const auto undo = store->undoPoint();
    EXPECT_TRUE(store->eraseValue("Job01", "Name"));
    EXPECT_TRUE(store->eraseRecord("Job02"));
    undo();
    EXPECT_EQ(store->readText("Job01", "Name", text), TReadResult::Ok);
    EXPECT_TRUE(store->hasRecord("Job02"));

    store->keepOnlyRecords({"job01", "JOB02"});
    EXPECT_EQ(store->hasRecord("Job01"), ini);
    EXPECT_TRUE(store->hasRecord("JOB02"));
    ASSERT_TRUE(store->commit());

    EXPECT_EQ(store->unstorableReason("/home/\xff/"), "ist kein gültiger UTF-8-Text");
    EXPECT_EQ(store->unstorableReason("a\nb"), ini ? "enthält einen Zeilenumbruch" : "");
    EXPECT_EQ(store->unstorableReason(std::string("a\0b", 3)),
              ini ? "enthält ein Nullzeichen" : "");
    EXPECT_EQ(store->unstorableReason("Ölbilder=1"), "");
}

INSTANTIATE_TEST_SUITE_P(BothStores, SettingsStoreTest,
                         ::testing::Values(StoreCase{"Ini",
                                                     [](const test::SettingsSandbox& s) {
                                                         return std::make_unique<TIniFile>(
                                                             s.configHome() + "a.ini");
                                                     },
                                                     true},
                                           StoreCase{"Registry",
                                                     [](const test::SettingsSandbox&) {
                                                         return std::make_unique<TRegistryStore>();
                                                     },
                                                     false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvb
