// An outside program that links the installed library and uses it.
#include <nvfiltering/nvfiltering.h>

#include <iostream>

namespace nvf = com::norvane::filtering;
namespace img = com::norvane::imaging;

int main() {
    img::Image<unsigned char> in(8, 8, 1);
    in(3, 3, 0) = 1;
    // Every family is reached from outside: a failure to export shows up as a link error.
    int failures = 0;
    try {
        com::norvane::filtering::throwThrowable("consumer check");
    } catch (const com::norvane::Throwable& e) {
        if (e.getClassPath() != "java/lang/Throwable") {
            ++failures;
        }
    }
    std::cout << (failures == 0 ? "consumer: ok" : "consumer: FAILED") << std::endl;
    return failures == 0 ? 0 : 1;
}
