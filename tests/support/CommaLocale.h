// A process locale whose decimal point is a comma, for the tests that prove a
// conversion does not depend on the process locale.
#pragma once

#include <memory>
#include <string>

namespace KESUTest {

// Switches LC_NUMERIC to a locale whose decimal point is a comma for the
// life of the object: an installed one, else one compiled into a temporary
// folder. Restores the locale and LOCPATH afterwards. Not for tests that run
// threads of their own: the locale and the environment belong to the process.
class CommaLocale {
public:
    CommaLocale();
    ~CommaLocale();
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    // False when no such locale could be installed or compiled.
    bool Active() const;

private:
    const std::string saved_;
    std::unique_ptr<std::string> savedPath_;
    std::string folder_;
};

}  // namespace KESUTest
