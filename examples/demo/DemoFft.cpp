// FFT section of the demo: the Fourier transform of the phantom volume (a preview of
// its log magnitude) and a forward-inverse round trip.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <nvfiltering/fft/Cn3dFftFilter.h>

#include "DemoSupport.h"

namespace {

void runFft(demo::Demo& d) {
    const auto& volume = d.phantom().volume;
    const int nx = static_cast<int>(volume.getSizeX());
    const int ny = static_cast<int>(volume.getSizeY());
    const int nz = static_cast<int>(volume.getSizeZ());
    const std::size_t m = volume.getNumberOfVoxels();
    std::vector<float> input(m), zeros(m, 0.0f), re(m), im(m);
    for (std::size_t i = 0; i < m; ++i) {
        input[i] = static_cast<float>(volume[i]);
    }
    com::norvane::filtering::Cn3dFftFilter<float> fft;
    const std::string size = demo::sizeOf(volume);

    d.run("Cn3dFftFilter forward", "float", size, size, [&] {
        fft.executeWith(input.data(), zeros.data(), re.data(), im.data(), nx, ny, nz, 1);
        double power = 0.0;
        for (std::size_t i = 0; i < m; ++i) {
            power += static_cast<double>(re[i]) * re[i] + static_cast<double>(im[i]) * im[i];
        }
        return power / static_cast<double>(m);  // equals the sum of squares of the input (Parseval)
    });

    // Log magnitude of the mid slice of the shifted transform (the kz = 0 plane), with
    // zero frequency in the middle.
    std::vector<float> preview(static_cast<std::size_t>(nx) * ny);
    for (int y = 0; y < ny; ++y) {
        for (int x = 0; x < nx; ++x) {
            const std::size_t i = static_cast<std::size_t>((x + nx / 2) % nx) +
                                  static_cast<std::size_t>(nx) * static_cast<std::size_t>((y + ny / 2) % ny);
            const double magnitude = std::hypot(static_cast<double>(re[i]), static_cast<double>(im[i]));
            preview[static_cast<std::size_t>(y) * nx + x] = static_cast<float>(std::log1p(magnitude));
        }
    }
    d.writeGray("fft_log_magnitude", preview.data(), static_cast<unsigned int>(nx), static_cast<unsigned int>(ny));

    std::vector<float> backRe(m), backIm(m);
    double largest = 0.0;
    d.run("Cn3dFftFilter inverse", "float", size, size, [&] {
        fft.executeWith(re.data(), im.data(), backRe.data(), backIm.data(), nx, ny, nz, -1);
        double sum = 0.0;
        for (std::size_t i = 0; i < m; ++i) {
            largest = std::max(largest, std::abs(static_cast<double>(backRe[i]) - input[i]));
            largest = std::max(largest, std::abs(static_cast<double>(backIm[i])));
            sum += backRe[i];
        }
        return sum;
    });
    char text[160];
    std::snprintf(text, sizeof text, "FFT: forward-inverse round trip of the %s phantom, largest error %.3g (grey levels)",
                  size.c_str(), largest);
    d.note(text);
}

}  // namespace

static demo::RegisterSection reg(40, "fft", &runFft);
