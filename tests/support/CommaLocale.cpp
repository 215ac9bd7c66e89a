#include "tests/support/CommaLocale.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace KESUTest {

CommaLocale::CommaLocale() : saved_(std::setlocale(LC_NUMERIC, nullptr)) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
        if (std::setlocale(LC_NUMERIC, name) != nullptr) return;
    const char* oldPath = std::getenv("LOCPATH");
    if (oldPath != nullptr) savedPath_.reset(new std::string(oldPath));
    char folder[] = "/tmp/kesu-locale-XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    folder_ = folder;
    std::ofstream(folder_ + "/comma.def") << "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\n"
                                             "grouping 3\nEND LC_NUMERIC\n";
    const std::string command = "localedef -c -i " + folder_ + "/comma.def -f ANSI_X3.4-1968 " + folder_ +
                                "/xx_COMMA >/dev/null 2>&1";
    // localedef answers 1 for the warnings about the categories left out.
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > 1) return;
    setenv("LOCPATH", folder_.c_str(), 1);
    std::setlocale(LC_NUMERIC, "xx_COMMA");
}

CommaLocale::~CommaLocale() {
    std::setlocale(LC_NUMERIC, saved_.c_str());
    if (folder_.empty()) return;
    if (savedPath_)
        setenv("LOCPATH", savedPath_->c_str(), 1);
    else
        unsetenv("LOCPATH");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

bool CommaLocale::Active() const {
    return std::localeconv()->decimal_point[0] == ',';
}

}  // namespace KESUTest
