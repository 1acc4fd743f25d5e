// Demo section: morphology and labelling on the phantom. The volume is
// thresholded into a mask, eroded and dilated, and its components labelled and
// ranked; the regional maxima are taken on a smoothed copy of the test picture.
#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "DemoSupport.h"

namespace {

namespace nvf = com::norvane::filtering;
using demo::Image;

// Moving box mean of 2 * radius + 1 pixels along X and then Y, shortened at
// the borders, applied `times` times (close to a Gaussian for three or more).
Image<float> boxSmooth(const Image<unsigned char>& in, unsigned int radius, int times) {
    const unsigned int X = in.getSizeX(), Y = in.getSizeY();
    Image<float> a(X, Y, 1), b(X, Y, 1);
    for (std::size_t i = 0; i < a.getNumberOfVoxels(); ++i) {
        a[i] = static_cast<float>(in[i]);
    }
    const auto pass = [radius](const Image<float>& src, Image<float>& dst, bool alongX) {
        const unsigned int n = alongX ? src.getSizeX() : src.getSizeY();
        const unsigned int lines = alongX ? src.getSizeY() : src.getSizeX();
        for (unsigned int line = 0; line < lines; ++line) {
            for (unsigned int k = 0; k < n; ++k) {
                const unsigned int lo = k >= radius ? k - radius : 0;
                const unsigned int hi = std::min(n - 1, k + radius);
                float s = 0.0f;
                for (unsigned int t = lo; t <= hi; ++t) {
                    s += alongX ? src(t, line, 0) : src(line, t, 0);
                }
                (alongX ? dst(k, line, 0) : dst(line, k, 0)) = s / static_cast<float>(hi - lo + 1);
            }
        }
    };
    for (int t = 0; t < times; ++t) {
        pass(a, b, true);
        pass(b, a, false);
    }
    return a;
}

// A bright, well separated colour for every label (0 stays black).
void labelColour(std::uint32_t label, unsigned char* rgb) {
    if (label == 0) {
        rgb[0] = rgb[1] = rgb[2] = 0;
        return;
    }
    std::uint32_t h = label * 2654435761u;
    h ^= h >> 15;
    rgb[0] = static_cast<unsigned char>(80 + (h & 0xFF) % 176);
    rgb[1] = static_cast<unsigned char>(80 + ((h >> 8) & 0xFF) % 176);
    rgb[2] = static_cast<unsigned char>(80 + ((h >> 16) & 0xFF) % 176);
}

void runMorphology(demo::Demo& d) {
    const auto& volume = d.phantom().volume;
    const unsigned int X = volume.getSizeX(), Y = volume.getSizeY(), Z = volume.getSizeZ();
    const std::string size = demo::sizeOf(volume);

    // The spheres stand well above the gradient and its noise.
    Image<unsigned char> mask(X, Y, Z);
    for (std::size_t i = 0; i < mask.getNumberOfVoxels(); ++i) {
        mask[i] = volume[i] > 90 ? 1 : 0;
    }
    Image<unsigned char> eroded(X, Y, Z), dilated(X, Y, Z);
    nvf::CnErosionFilter<unsigned char> erosion;
    nvf::CnDilationFilter<unsigned char> dilation;
    d.run("CnErosionFilter", "uint8", size, size, [&] {
        erosion.execute(mask, eroded);
        return demo::checksum(eroded);
    });
    d.run("CnDilationFilter", "uint8", size, size, [&] {
        dilation.execute(mask, dilated);
        return demo::checksum(dilated);
    });

    // Mid slice: eroded core white, the layer erosion removes green, the layer
    // dilation adds blue.
    const unsigned int mid = Z / 2;
    std::vector<unsigned char> rgb(static_cast<std::size_t>(X) * Y * 3, 0);
    for (unsigned int y = 0; y < Y; ++y) {
        for (unsigned int x = 0; x < X; ++x) {
            unsigned char* p = &rgb[(static_cast<std::size_t>(y) * X + x) * 3];
            if (eroded(x, y, mid) != 0) {
                p[0] = p[1] = p[2] = 255;
            } else if (mask(x, y, mid) != 0) {
                p[1] = 200;
            } else if (dilated(x, y, mid) != 0) {
                p[2] = 255;
            }
        }
    }
    d.writeRgb("morphology_mask", rgb.data(), X, Y);

    // Components of the mask, ranked by size; fragments under 20 voxels removed.
    Image<std::uint32_t> labels(X, Y, Z);
    nvf::CnConnectedComponentFilter<unsigned char> components;
    components.SetMinimumComponentSize(20);
    d.run("CnConnectedComponentFilter", "uint8 -> uint32", size, size, [&] {
        components.execute(mask, labels);
        return demo::checksum(labels);
    });
    const std::int32_t n = components.GetNumberOfComponents();
    std::vector<std::size_t> sizes(static_cast<std::size_t>(n) + 1, 0);
    for (std::size_t i = 0; i < labels.getNumberOfVoxels(); ++i) {
        ++sizes[labels[i]];
    }
    std::ostringstream table;
    table << "morphology: " << n << " components of at least 20 voxels; largest:";
    for (std::int32_t l = 1; l <= std::min<std::int32_t>(n, 5); ++l) {
        table << "  #" << l << " " << sizes[static_cast<std::size_t>(l)] << " voxels";
    }
    d.note(table.str());
    for (unsigned int y = 0; y < Y; ++y) {
        for (unsigned int x = 0; x < X; ++x) {
            labelColour(labels(x, y, mid), &rgb[(static_cast<std::size_t>(y) * X + x) * 3]);
        }
    }
    d.writeRgb("morphology_labels", rgb.data(), X, Y);

    // Regional maxima of the smoothed test picture, marked red on its grey.
    const auto& picture = d.phantom().image;
    const unsigned int W = picture.getSizeX(), H = picture.getSizeY();
    const Image<float> smooth = boxSmooth(picture, 6, 3);
    Image<unsigned char> maxima(W, H, 1);
    nvf::CnRegionalMaximumFilter<float> regional;
    d.run("CnRegionalMaximumFilter", "float -> uint8", demo::sizeOf(smooth), demo::sizeOf(maxima), [&] {
        regional.execute(smooth, maxima);
        return demo::checksum(maxima);
    });
    std::size_t marked = 0;
    std::vector<unsigned char> overlay(static_cast<std::size_t>(W) * H * 3);
    for (unsigned int y = 0; y < H; ++y) {
        for (unsigned int x = 0; x < W; ++x) {
            unsigned char* p = &overlay[(static_cast<std::size_t>(y) * W + x) * 3];
            p[0] = p[1] = p[2] = static_cast<unsigned char>(smooth(x, y, 0) * 0.8f);
        }
    }
    // Each maximum as a small red cross, so that single pixels stay visible.
    for (unsigned int y = 0; y < H; ++y) {
        for (unsigned int x = 0; x < W; ++x) {
            if (maxima(x, y, 0) == 0) {
                continue;
            }
            ++marked;
            for (int k = -3; k <= 3; ++k) {
                const long long cx = static_cast<long long>(x) + k, cy = static_cast<long long>(y) + k;
                for (const auto& q :
                     {std::make_pair(cx, static_cast<long long>(y)), std::make_pair(static_cast<long long>(x), cy)}) {
                    if (q.first < 0 || q.second < 0 || q.first >= W || q.second >= H) {
                        continue;
                    }
                    unsigned char* p =
                        &overlay[(static_cast<std::size_t>(q.second) * W + static_cast<std::size_t>(q.first)) * 3];
                    p[0] = 255;
                    p[1] = p[2] = 0;
                }
            }
        }
    }
    d.note("morphology: " + std::to_string(marked) + " regional maxima on the smoothed " + demo::sizeOf(smooth) +
           " picture");
    d.writeRgb("morphology_maxima", overlay.data(), W, H);
}

demo::RegisterSection reg(30, "morphology", &runMorphology);

}  // namespace
