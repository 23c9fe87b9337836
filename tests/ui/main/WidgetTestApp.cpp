// Widget tests need one application object for the whole test program.

#include <gtest/gtest.h>

#include <QApplication>

#include "ui/GermanQtTexts.h"

namespace {

class QtApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (QApplication::instance()) return;
        static int argc = 1;
        static char name[] = "test_ui";
        static char* argv[] = {name, nullptr};
        fApp = new QApplication(argc, argv);
        // As the program starts the window: Qt's key names in German.
        qvb::installGermanQtTexts(*fApp);
    }
    void TearDown() override { delete fApp; }

  private:
    QApplication* fApp = nullptr;
};

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace
