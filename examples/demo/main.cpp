// nvFiltering demo: builds a phantom volume and image, runs every filter family
// on it, prints a table of what ran and writes mid-slice previews as PNG files.
//
//   nvfiltering_demo [output-folder]      (default: nvfiltering-demo-output)
#include <algorithm>
#include <exception>
#include <iostream>

#include <nvcore/Throwable.h>

#include "DemoSupport.h"

int main(int argc, char** argv) {
    const std::string outputDir = argc > 1 ? argv[1] : "nvfiltering-demo-output";
    try {
        demo::Demo d(outputDir);
        const auto& p = d.phantom();
        std::cout << "phantom: volume " << demo::sizeOf(p.volume) << " (8-bit), image " << demo::sizeOf(p.image)
                  << " (8-bit)\n\n";
        std::vector<demo::Section> all = demo::sections();
        std::sort(all.begin(), all.end(),
                  [](const demo::Section& a, const demo::Section& b) { return a.order < b.order; });
        for (const demo::Section& s : all) {
            s.run(d);
        }
        d.printTable();
    } catch (const com::norvane::Throwable& e) {
        std::cerr << "nvfiltering_demo: " << e.what() << " (" << e.getClassPath() << ")\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "nvfiltering_demo: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
