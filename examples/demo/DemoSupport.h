// Shared pieces of the demo: the built-in phantom, the result table, previews.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nvimage/Image.h>
#include <nvimage/Volume.h>

namespace demo {

using com::norvane::imaging::Image;
using com::norvane::imaging::Volume;

struct Phantom {
    Volume<unsigned char> volume;  // spheres on a gradient, with noise
    Image<unsigned char> image;    // a 2-D slice-like test picture
};

// Builds the phantom deterministically: a volume of side `side` and an image of
// `imageSide` x `imageSide` pixels.
Phantom makePhantom(unsigned int side, unsigned int imageSide);

class Demo {
public:
    explicit Demo(std::string outputDir);

    const Phantom& phantom() const { return m_phantom; }
    const std::string& outputDir() const { return m_outputDir; }

    // Times fn once and adds a row to the table.
    void run(const std::string& filter, const std::string& types, const std::string& inputSize,
             const std::string& outputSize, const std::function<double()>& fn);
    // Adds a free-form note printed under the table.
    void note(const std::string& text) { m_notes.push_back(text); }
    void printTable() const;

    // Writes a grey preview of a w x h float field, scaled from its min to its max.
    void writeGray(const std::string& name, const float* values, unsigned int w, unsigned int h);
    // Writes a colour preview of a w x h RGB buffer (3 bytes per pixel).
    void writeRgb(const std::string& name, const unsigned char* rgb, unsigned int w, unsigned int h);

private:
    struct Row {
        std::string filter, types, inputSize, outputSize;
        double ms;
        double checksum;
    };
    std::string m_outputDir;
    Phantom m_phantom;
    std::vector<Row> m_rows;
    std::vector<std::string> m_notes;
    std::vector<std::string> m_written;
};

// Size strings such as "256x256x256".
std::string sizeOf(unsigned int x, unsigned int y, unsigned int z);
template <class T>
std::string sizeOf(const Image<T>& image) {
    return sizeOf(image.getSizeX(), image.getSizeY(), image.getSizeZ());
}

// Sum of all voxels in double, as a checksum.
template <class T>
double checksum(const Image<T>& image) {
    double s = 0.0;
    for (std::size_t i = 0; i < image.getNumberOfVoxels(); ++i) {
        s += static_cast<double>(image[i]);
    }
    return s;
}

// Mid-slice (z = Z/2) of an image as floats.
template <class T>
std::vector<float> midSlice(const Image<T>& image) {
    const unsigned int X = image.getSizeX(), Y = image.getSizeY(), z = image.getSizeZ() / 2;
    std::vector<float> out(static_cast<std::size_t>(X) * Y);
    for (unsigned int y = 0; y < Y; ++y) {
        for (unsigned int x = 0; x < X; ++x) {
            out[static_cast<std::size_t>(y) * X + x] = static_cast<float>(image(x, y, z));
        }
    }
    return out;
}

// A family of filters registers one demo section; sections run in `order`.
struct Section {
    int order;
    const char* name;
    void (*run)(Demo&);
};
std::vector<Section>& sections();
struct RegisterSection {
    RegisterSection(int order, const char* name, void (*run)(Demo&));
};

}  // namespace demo
