#include "DemoSupport.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace demo {

namespace {

std::uint64_t splitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

unsigned char clampByte(double v) {
    if (v <= 0.0) {
        return 0;
    }
    if (v >= 255.0) {
        return 255;
    }
    return static_cast<unsigned char>(v + 0.5);
}

void makeDirectory(const std::string& dir) {
    std::string partial;
    std::stringstream ss(dir);
    std::string piece;
    if (!dir.empty() && dir[0] == '/') {
        partial = "/";
    }
    while (std::getline(ss, piece, '/')) {
        if (piece.empty()) {
            continue;
        }
        partial += piece + "/";
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            throw std::runtime_error("cannot create folder " + partial + ": " + std::strerror(errno));
        }
    }
}

void writePng(const std::string& path, const unsigned char* pixels, unsigned int w, unsigned int h, int channels) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        throw std::runtime_error("libpng failed on " + path);
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, w, h, 8, channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (unsigned int y = 0; y < h; ++y) {
        png_write_row(png, pixels + static_cast<std::size_t>(y) * w * static_cast<unsigned int>(channels));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

}  // namespace

Phantom makePhantom(unsigned int side, unsigned int imageSide) {
    Phantom p;
    p.volume.setDimension(side, side, side);
    p.volume.setVoxelSize(com::norvane::math::CnVector3D<double>(1.0, 1.0, 1.0));
    std::uint64_t state = 2026;
    struct Sphere {
        double cx, cy, cz, r, value;
    };
    std::vector<Sphere> spheres;
    for (int k = 0; k < 12; ++k) {
        Sphere s;
        s.cx = side * (0.15 + 0.7 * static_cast<double>(splitMix(state) >> 11) / 9007199254740992.0);
        s.cy = side * (0.15 + 0.7 * static_cast<double>(splitMix(state) >> 11) / 9007199254740992.0);
        s.cz = side * (0.15 + 0.7 * static_cast<double>(splitMix(state) >> 11) / 9007199254740992.0);
        s.r = side * (0.04 + 0.08 * static_cast<double>(splitMix(state) >> 11) / 9007199254740992.0);
        s.value = 120.0 + static_cast<double>(splitMix(state) % 120);
        spheres.push_back(s);
    }
    for (unsigned int z = 0; z < side; ++z) {
        for (unsigned int y = 0; y < side; ++y) {
            for (unsigned int x = 0; x < side; ++x) {
                double v = 40.0 * x / side;  // a gentle gradient along X
                for (const Sphere& s : spheres) {
                    const double dx = x - s.cx, dy = y - s.cy, dz = z - s.cz;
                    if (dx * dx + dy * dy + dz * dz <= s.r * s.r) {
                        v = s.value;
                    }
                }
                v += static_cast<double>(splitMix(state) % 21) - 10.0;  // noise
                p.volume(x, y, z) = clampByte(v);
            }
        }
    }
    p.image.setDimension(imageSide, imageSide, 1);
    for (unsigned int y = 0; y < imageSide; ++y) {
        for (unsigned int x = 0; x < imageSide; ++x) {
            const double u = static_cast<double>(x) / imageSide, w = static_cast<double>(y) / imageSide;
            double v = 128.0 + 60.0 * std::sin(12.0 * u) * std::cos(9.0 * w);
            const double dx = u - 0.5, dy = w - 0.5;
            if (dx * dx + dy * dy < 0.04) {
                v = 230.0;
            }
            v += static_cast<double>(splitMix(state) % 31) - 15.0;
            p.image(x, y, 0) = clampByte(v);
        }
    }
    return p;
}

Demo::Demo(std::string outputDir) : m_outputDir(std::move(outputDir)), m_phantom(makePhantom(256, 1024)) {
    makeDirectory(m_outputDir);
}

void Demo::run(const std::string& filter, const std::string& types, const std::string& inputSize,
               const std::string& outputSize, const std::function<double()>& fn) {
    const auto t0 = std::chrono::steady_clock::now();
    const double sum = fn();
    const auto t1 = std::chrono::steady_clock::now();
    const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
    m_rows.push_back(Row{filter, types, inputSize, outputSize, ms, sum});
}

void Demo::printTable() const {
    std::size_t wf = 6, wt = 11, wi = 5, wo = 6;
    for (const Row& r : m_rows) {
        wf = std::max(wf, r.filter.size());
        wt = std::max(wt, r.types.size());
        wi = std::max(wi, r.inputSize.size());
        wo = std::max(wo, r.outputSize.size());
    }
    std::cout << std::left << std::setw(static_cast<int>(wf)) << "filter" << "  " << std::setw(static_cast<int>(wt))
              << "voxel types" << "  " << std::setw(static_cast<int>(wi)) << "input" << "  "
              << std::setw(static_cast<int>(wo)) << "output" << "  " << std::right << std::setw(10) << "ms"
              << "  " << std::setw(20) << "checksum" << "\n";
    for (const Row& r : m_rows) {
        std::cout << std::left << std::setw(static_cast<int>(wf)) << r.filter << "  "
                  << std::setw(static_cast<int>(wt)) << r.types << "  " << std::setw(static_cast<int>(wi))
                  << r.inputSize << "  " << std::setw(static_cast<int>(wo)) << r.outputSize << "  " << std::right
                  << std::setw(10) << std::fixed << std::setprecision(2) << r.ms << "  " << std::setw(20)
                  << std::setprecision(4) << r.checksum << "\n";
    }
    for (const std::string& n : m_notes) {
        std::cout << n << "\n";
    }
    std::cout << "previews written to " << m_outputDir << ":";
    for (const std::string& w : m_written) {
        std::cout << " " << w;
    }
    std::cout << "\n";
}

void Demo::writeGray(const std::string& name, const float* values, unsigned int w, unsigned int h) {
    const std::size_t n = static_cast<std::size_t>(w) * h;
    float lo = 0.0f, hi = 0.0f;
    bool first = true;
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(values[i])) {
            continue;
        }
        if (first) {
            lo = hi = values[i];
            first = false;
        }
        lo = std::min(lo, values[i]);
        hi = std::max(hi, values[i]);
    }
    std::vector<unsigned char> pixels(n);
    const double scale = hi > lo ? 255.0 / (static_cast<double>(hi) - lo) : 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        pixels[i] = std::isfinite(values[i]) ? clampByte((values[i] - lo) * scale) : 0;
    }
    writePng(m_outputDir + "/" + name + ".png", pixels.data(), w, h, 1);
    m_written.push_back(name + ".png");
}

void Demo::writeRgb(const std::string& name, const unsigned char* rgb, unsigned int w, unsigned int h) {
    writePng(m_outputDir + "/" + name + ".png", rgb, w, h, 3);
    m_written.push_back(name + ".png");
}

std::string sizeOf(unsigned int x, unsigned int y, unsigned int z) {
    std::ostringstream s;
    s << x << "x" << y;
    if (z != 1) {
        s << "x" << z;
    }
    return s.str();
}

std::vector<Section>& sections() {
    static std::vector<Section> all;
    return all;
}

RegisterSection::RegisterSection(int order, const char* name, void (*run)(Demo&)) {
    sections().push_back(Section{order, name, run});
}

}  // namespace demo
