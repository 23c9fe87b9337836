#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "platform/SettingsFolders.h"

namespace qvb {
namespace {

// Puts the variables back as they were.
class SavedEnvironment {
  public:
    SavedEnvironment() {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            if (const char* value = std::getenv(name))
                fValues[name] = value;
            else
                fValues[name] = std::nullopt;
    }
    ~SavedEnvironment() {
        for (const auto& [name, value] : fValues)
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
    }
    static void set(const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }

  private:
    std::map<std::string, std::optional<std::string>> fValues;
};

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "-";
}

TEST(SettingsFolders, AnUnusableHomeComesFromThePasswordDatabaseAndRelativeXdgIsIgnored) {
    const SavedEnvironment saved;
    const std::string database = ::getpwuid(::getuid())->pw_dir;
    const struct {
        const char* home;
        const char* xdg;
        std::string expectedHome;
        const char* expectedXdg;  // null: removed
    } cases[] = {
        {nullptr, nullptr, database, nullptr},
        {"", "share", database, nullptr},
        {"anna", "/srv/xdg", database, "/srv/xdg"},
        {"/srv/anna", "./share", "/srv/anna", nullptr},
    };
    for (const auto& c : cases) {
        SavedEnvironment::set("HOME", c.home);
        SavedEnvironment::set("XDG_DATA_HOME", c.xdg);
        SavedEnvironment::set("XDG_CONFIG_HOME", c.xdg);
        settleUserEnvironment();
        EXPECT_EQ(variable("HOME"), c.expectedHome) << (c.home ? c.home : "(unset)");
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            EXPECT_EQ(variable(name), c.expectedXdg ? c.expectedXdg : "-") << name;
    }
    EXPECT_EQ(userDataFolderFor("/srv/xdg", "/srv/anna"), "/srv/xdg/QV_Backup/");
    EXPECT_EQ(userDataFolderFor("share", "/srv/anna"), "/srv/anna/.local/share/QV_Backup/");
    EXPECT_EQ(userDataFolderFor(nullptr, "/srv/anna"), "/srv/anna/.local/share/QV_Backup/");
}

TEST(SettingsFolders, OnlyTheUsersOwnFolderThatNobodyElseMayWriteIsTrusted) {
    const std::string other =
        "\" gehört einem anderen Benutzer; Einstellungen und Protokoll "
        "werden dort nicht gelesen.";
    const std::string writable =
        "\" ist für andere Benutzer beschreibbar; Einstellungen und "
        "Protokoll werden dort nicht gelesen.";
    const struct {
        uid_t owner;
        mode_t mode;
        gid_t group;
        std::string reason;  // empty: trusted
    } cases[] = {
        {1000, 0700, 100, ""},        {1000, 0755, 100, ""},         {1000, 0775, 1000, ""},
        {1001, 0700, 1000, other},    {0, 0755, 0, other},           {1000, 0775, 100, writable},
        {1000, 0757, 1000, writable}, {1000, 01777, 1000, writable},
    };
    for (const auto& c : cases) {
        struct stat st {};
        st.st_uid = c.owner;
        st.st_gid = c.group;
        st.st_mode = S_IFDIR | c.mode;
        const std::string expected = c.reason.empty() ? "" : "Der Ordner \"/srv/qvb/" + c.reason;
        EXPECT_EQ(untrustedFolderReason("/srv/qvb/", st, 1000, 1000), expected)
            << c.owner << " " << std::oct << c.mode << " " << c.group;
    }
}

}  // namespace
}  // namespace qvb
