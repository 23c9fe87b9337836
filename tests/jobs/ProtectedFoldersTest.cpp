#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "jobs/ProtectedFolders.h"

namespace qvb {
namespace {

TEST(ProtectedFolders, HomeItsParentsAndSystemFoldersAreRefusedBelowThemAllowed) {
    const char* old = std::getenv("HOME");
    const std::string saved = old ? old : "";
    ::setenv("HOME", "/srv/user/anna/", 1);
    const std::string home = "es ist der Benutzerordner";
    const std::string above = "es enthält den Benutzerordner";
    const std::string system = "es ist ein Systemordner";
    const struct {
        const char* destination;
        std::string reason;  // empty: allowed
    } cases[] = {
        {"/srv/user/anna", home},
        {"/srv/user/anna/", home},
        {"/srv/user/anna/.", home},
        {"/srv/user/anna/Fotos/..", home},
        {"/srv/user/anna//", home},
        {"/srv/user", above},
        {"/srv/user/", above},
        {"/srv", above},
        {"/", above},
        {"/srv/user/anna/Sicherung", ""},
        {"/srv/user/annabell", ""},
        {"/srv/use", ""},
        {"/home", system},
        {"/home/", system},
        {"/root", system},
        {"/usr", system},
        {"/etc", system},
        {"/var", system},
        {"/var/tmp", system},
        {"/var/tmp/", system},
        {"/boot", system},
        {"/opt", system},
        {"/bin", system},
        {"/sbin", system},
        {"/lib", system},
        {"/lib64", system},
        {"/lib32/", system},
        {"/proc", system},
        {"/sys", system},
        {"/dev", system},
        {"/run", system},
        {"/run/media", system},
        {"/tmp", system},
        {"/tmp/./", system},
        {"/media", system},
        {"/mnt", system},
        {"/mnt/usb/..", system},
        {"/home/bernd", ""},
        {"/media/usb", ""},
        {"/mnt/platte/Backup", ""},
        {"/tmp/Sicherung", ""},
        {"/lib/x", ""},
        {"/run/media/anna/USB", ""},
        {"/usr/local", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        const std::string expected =
            c.reason.empty()
                ? std::string()
                : "Das Ziel \"" + std::string(c.destination) + "\" ist nicht erlaubt: " + c.reason +
                      ". Bitte einen eigenen Ordner für die Sicherung wählen.";
        EXPECT_EQ(protectedDestinationError(c.destination), expected) << c.destination;
    }
    if (old)
        ::setenv("HOME", saved.c_str(), 1);
    else
        ::unsetenv("HOME");
}

}  // namespace
}  // namespace qvb
