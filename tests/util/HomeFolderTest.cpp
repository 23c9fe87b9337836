#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "util/HomeFolder.h"

namespace qvb {
namespace {

// Sets or removes HOME for one case and puts the old value back.
class HomeVariable {
  public:
    explicit HomeVariable(const std::optional<std::string>& value) {
        if (const char* old = std::getenv("HOME")) fOld = old;
        if (value)
            ::setenv("HOME", value->c_str(), 1);
        else
            ::unsetenv("HOME");
    }
    ~HomeVariable() {
        if (fOld)
            ::setenv("HOME", fOld->c_str(), 1);
        else
            ::unsetenv("HOME");
    }

  private:
    std::optional<std::string> fOld;
};

TEST(HomeFolder, AbsoluteHomeWinsOtherwiseThePasswordDatabase) {
    const struct passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    const std::string database = entry->pw_dir;
    const struct {
        std::optional<std::string> home;
        std::string expected;
    } cases[] = {
        {"/srv/anna", "/srv/anna"}, {std::nullopt, database}, {"", database},
        {"relativ/anna", database}, {"~", database},
    };
    for (const auto& c : cases) {
        HomeVariable home(c.home);
        EXPECT_EQ(homeFolder(), c.expected) << c.home.value_or("(unset)");
    }
}

}  // namespace
}  // namespace qvb
