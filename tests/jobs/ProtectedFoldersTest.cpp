#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "jobs/ProtectedFolders.h"

namespace qvb {
namespace {

TEST(ProtectedFolders, HomeItsParentsAndSystemFoldersAreRefusedBelowThemAllowed) {
    const char* old = std::getenv("HOME");
    const std::string saved = old ? old : "";
    ::setenv("HOME", "/srv/user/anna/", 1);
    const struct {
        std::string reason;  // empty: allowed
        std::vector<const char*> destinations;
    } cases[] = {
        {"es ist der Benutzerordner",
         {"/srv/user/anna", "/srv/user/anna/", "/srv/user/anna/.", "/srv/user/anna/Fotos/..",
          "/srv/user/anna//"}},
        {"es enthält den Benutzerordner", {"/srv/user", "/srv/user/", "/srv", "/"}},
        {"es ist ein Systemordner",
         {"/home",     "/home/", "/root", "/usr",       "/etc",  "/var",       "/var/tmp",
          "/var/tmp/", "/boot",  "/opt",  "/bin",       "/sbin", "/lib",       "/lib64",
          "/lib32/",   "/proc",  "/sys",  "/dev",       "/run",  "/run/media", "/tmp",
          "/tmp/./",   "/media", "/mnt",  "/mnt/usb/.."}},
        {"",
         {"/srv/user/anna/Sicherung", "/srv/user/annabell", "/srv/use", "/home/bernd", "/media/usb",
          "/mnt/platte/Backup", "/tmp/Sicherung", "/lib/x", "/run/media/anna/USB", "/usr/local",
          ""}},
    };
    for (const auto& c : cases)
        for (const char* destination : c.destinations)
            EXPECT_EQ(protectedDestinationError(destination),
                      c.reason.empty() ? std::string()
                                       : "Das Ziel \"" + std::string(destination) +
                                             "\" ist nicht erlaubt: " + c.reason +
                                             ". Bitte einen eigenen Ordner für die Sicherung "
                                             "wählen.")
                << destination;
    if (old)
        ::setenv("HOME", saved.c_str(), 1);
    else
        ::unsetenv("HOME");
}

}  // namespace
}  // namespace qvb
