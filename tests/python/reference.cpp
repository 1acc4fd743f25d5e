// The C++ API's own results for the Python tests: runs one recursive filter or
// the gradient on a raw file of voxels and writes the raw result, so that the
// bindings can be compared with the library called directly, bit for bit.
//
//   reference gaussian u8|f32|f64 NX NY NZ SX SY SZ DERIVATIVE IN OUT
//   reference gradient NX NY NZ SIGMA VX VY VZ IN OUT   (uint8 in, x y z floats out)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nvfiltering/recursive/CnImageGradient.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvimage/Volume.h>

namespace img = com::norvane::imaging;
namespace flt = com::norvane::filtering;

namespace {

template <class T>
void readInto(const char* path, T* data, std::size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(count * sizeof(T)));
    if (!in) {
        throw std::runtime_error(std::string("cannot read ") + path);
    }
}

template <class T>
void writeFrom(const char* path, const T* data, std::size_t count) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count * sizeof(T)));
    if (!out) {
        throw std::runtime_error(std::string("cannot write ") + path);
    }
}

unsigned int size(const char* s) { return static_cast<unsigned int>(std::strtoul(s, nullptr, 10)); }

template <class In, class Out>
void gaussian(char** a) {
    const unsigned int nx = size(a[0]), ny = size(a[1]), nz = size(a[2]);
    img::Image<In> input(nx, ny, nz);
    img::Image<Out> output(nx, ny, nz);
    readInto(a[7], input.data(), input.getNumberOfVoxels());
    flt::CnRecursiveFilter<In, Out> filter;
    filter.setSigma(std::atof(a[3]), std::atof(a[4]), std::atof(a[5]));
    filter.setDerivative(static_cast<typename flt::CnRecursiveFilter<In, Out>::EnDerivativeType>(std::atoi(a[6])));
    filter.execute(input, output);
    writeFrom(a[8], output.data(), output.getNumberOfVoxels());
}

void gradient(char** a) {
    const unsigned int nx = size(a[0]), ny = size(a[1]), nz = size(a[2]);
    img::Volume<std::uint8_t> input(nx, ny, nz);
    input.setVoxelSize(img::Volume<std::uint8_t>::Vector(std::atof(a[4]), std::atof(a[5]), std::atof(a[6])));
    img::Volume<com::norvane::math::CnVector3D<float>> output(nx, ny, nz);
    readInto(a[7], input.data(), input.getNumberOfVoxels());
    flt::CnImageGradient<std::uint8_t> filter;
    filter.setSigma(std::atof(a[3]));
    filter.execute(input, output);
    writeFrom(a[8], reinterpret_cast<const float*>(output.data()), 3 * output.getNumberOfVoxels());
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string kind = argc > 1 ? argv[1] : "";
        if (kind == "gaussian" && argc == 12) {
            const std::string type = argv[2];
            if (type == "u8") {
                gaussian<std::uint8_t, float>(argv + 3);
            } else if (type == "f32") {
                gaussian<float, float>(argv + 3);
            } else if (type == "f64") {
                gaussian<double, double>(argv + 3);
            } else {
                return 2;
            }
            return 0;
        }
        if (kind == "gradient" && argc == 11) {
            gradient(argv + 2);
            return 0;
        }
        std::fprintf(stderr, "usage: see the first comment of reference.cpp\n");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
