// Dilation and erosion for 8-, 16- and 32-bit voxels: any bit patterns, thin and
// empty images, in place, mismatched outputs. Checks: the row-wise path equals
// the voxel-by-voxel reference and the definition (OR / AND over the cross of
// face neighbours inside the image) bit for bit; dilation never clears a set
// bit and erosion never sets one; mismatches are rejected with nothing written.
//
// Grey dilation, erosion, opening and closing for all their types, with 0 to 4
// iterations or the most there are: any values (not-a-numbers of any payload,
// both zeros, infinities), the same shapes. Checks: both paths equal the
// definition (iterated maximum / minimum over the cross, -0 below +0, the quiet
// not-a-number wherever the cross holds one) bit for bit, with the same
// rejections. The first byte read selects the filter; values below 246 keep
// the bitwise filters' meaning, so older inputs run as before.
#include <FuzzSupport.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <climits>
#include <type_traits>

using namespace nvf_fuzz;

namespace {

// OR (dilate) or AND (erode) of the voxel and its face neighbours inside the image.
template <class T>
img::Image<T> definition(const img::Image<T>& in, bool dilate) {
    img::Image<T> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    const long long sx = in.getSizeX(), sy = in.getSizeY(), sz = in.getSizeZ();
    for (long long z = 0; z < sz; ++z) {
        for (long long y = 0; y < sy; ++y) {
            for (long long x = 0; x < sx; ++x) {
                T v = in(unsigned(x), unsigned(y), unsigned(z));
                const long long d[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
                for (const auto& o : d) {
                    const long long nx = x + o[0], ny = y + o[1], nz = z + o[2];
                    if (nx < 0 || ny < 0 || nz < 0 || nx >= sx || ny >= sy || nz >= sz) {
                        continue;
                    }
                    const T w = in(unsigned(nx), unsigned(ny), unsigned(nz));
                    v = static_cast<T>(dilate ? (v | w) : (v & w));
                }
                out(unsigned(x), unsigned(y), unsigned(z)) = v;
            }
        }
    }
    return out;
}

template <class T, class Filter>
void run(FuzzedDataProvider& in, bool dilate) {
    const unsigned int x = dimension(in), y = dimension(in), z = dimension(in);
    const unsigned int mode = in.ConsumeIntegralInRange<unsigned int>(0, 9);  // 9: mismatch, 6-8: in place
    const bool straightforward = in.ConsumeBool();
    const Encoding enc = encoding(in);
    const bool constant = in.ConsumeBool();
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();
    if (!fits(x, y, z, 6 * sizeof(T)) || std::size_t(x) * y * z > (1u << 20)) {
        return;
    }
    img::Image<T> input(x, y, z);
    fill(input, pool, enc, constant);
    const img::Image<T> inputBefore(input);
    img::Image<T> separate(x, mode == 9 ? y + 1 : y, z);
    fill(separate, pool, Encoding::Raw, false);
    const bool inPlace = mode >= 6 && mode <= 8;
    img::Image<T>& output = inPlace ? input : separate;

    Filter filter;
    const bool threw = throwsLeavingUntouched(
        [&] {
            if (straightforward) {
                com::norvane::filtering::detail::executeStraightforward(filter, input, output);
            } else {
                filter.execute(input, output);
            }
        },
        output, input);
    NVF_FUZZ_CHECK_MSG(threw == (mode == 9), "rejects exactly a mismatched output");
    if (threw) {
        return;
    }
    if (!inPlace) {
        NVF_FUZZ_CHECK_MSG(sameImage(input, inputBefore), "the input is not written");
    }
    const img::Image<T> expected = definition(inputBefore, dilate);
    NVF_FUZZ_CHECK_MSG(sameImage(output, expected), "differs from the definition");
    for (std::size_t i = 0; i < expected.getNumberOfVoxels(); ++i) {
        if (dilate) {
            NVF_FUZZ_CHECK_MSG((output[i] & inputBefore[i]) == inputBefore[i], "dilation cleared a set bit");
        } else {
            NVF_FUZZ_CHECK_MSG((output[i] & static_cast<T>(~inputBefore[i])) == 0, "erosion set a bit");
        }
    }
    // The other path from a fresh filter gives the same bits.
    img::Image<T> again(x, y, z);
    Filter other;
    if (straightforward) {
        other.execute(inputBefore, again);
    } else {
        com::norvane::filtering::detail::executeStraightforward(other, inputBefore, again);
    }
    NVF_FUZZ_CHECK_MSG(sameImage(again, expected), "fast path and reference differ");
}

template <class T>
bool notANumber(T v) {
    if constexpr (std::is_floating_point<T>::value) {
        return std::isnan(v);
    } else {
        return false;
    }
}

// Whether w is the better extreme than v: the larger (dilate) or smaller, -0 below +0.
template <class T>
bool better(T w, T v, bool dilate) {
    if constexpr (std::is_floating_point<T>::value) {
        if (w == 0 && v == 0) {
            return dilate ? (std::signbit(v) && !std::signbit(w)) : (!std::signbit(v) && std::signbit(w));
        }
    }
    return dilate ? w > v : w < v;
}

// One grey pass by the definition: the maximum (dilate) or minimum of the voxel
// and its face neighbours inside the image; the quiet NaN if any of them is
// not a number.
template <class T>
img::Image<T> greyPass(const img::Image<T>& in, bool dilate) {
    img::Image<T> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    const long long sx = in.getSizeX(), sy = in.getSizeY(), sz = in.getSizeZ();
    const long long d[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
    for (long long z = 0; z < sz; ++z) {
        for (long long y = 0; y < sy; ++y) {
            for (long long x = 0; x < sx; ++x) {
                T v = in(unsigned(x), unsigned(y), unsigned(z));
                bool nan = notANumber(v);
                for (const auto& o : d) {
                    const long long nx = x + o[0], ny = y + o[1], nz = z + o[2];
                    if (nx < 0 || ny < 0 || nz < 0 || nx >= sx || ny >= sy || nz >= sz) {
                        continue;
                    }
                    const T w = in(unsigned(nx), unsigned(ny), unsigned(nz));
                    nan = nan || notANumber(w);
                    v = better(w, v, dilate) ? w : v;
                }
                out(unsigned(x), unsigned(y), unsigned(z)) = nan ? std::numeric_limits<T>::quiet_NaN() : v;
            }
        }
    }
    return out;
}

// kind: 0 dilation, 1 erosion, 2 opening, 3 closing.
template <class T>
void runGrey(FuzzedDataProvider& in, unsigned int kind) {
    const unsigned int x = dimension(in), y = dimension(in), z = dimension(in);
    const std::uint8_t count = in.ConsumeIntegral<std::uint8_t>();
    const unsigned int iterations = count == 255 ? UINT_MAX : count % 5u;
    const unsigned int mode = in.ConsumeIntegralInRange<unsigned int>(0, 9);  // 9: mismatch, 6-8: in place
    const bool straightforward = in.ConsumeBool();
    const Encoding enc = encoding(in);
    const bool constant = in.ConsumeBool();
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();
    // The definition runs every pass up to X + Y + Z of each kind, beyond which nothing changes;
    // an image without voxels has nothing to pass over (its other two sides may be long).
    const std::size_t voxels = std::size_t(x) * y * z;
    const unsigned int passes = voxels == 0 ? 0 : iterations < x + y + z ? iterations : x + y + z;
    if (!fits(x, y, z, 6 * sizeof(T)) || voxels > (1u << 20) || voxels * (passes + 1) > (1u << 22)) {
        return;
    }
    img::Image<T> input(x, y, z);
    fill(input, pool, enc, constant);
    const img::Image<T> inputBefore(input);
    img::Image<T> separate(x, mode == 9 ? y + 1 : y, z);
    fill(separate, pool, Encoding::Raw, false);
    const bool inPlace = mode >= 6 && mode <= 8;
    img::Image<T>& output = inPlace ? input : separate;

    const auto execute = [&](const img::Image<T>& source, img::Image<T>& target, bool reference) {
        const auto go = [&](auto& filter) {
            filter.setIterations(iterations);
            if (reference) {
                com::norvane::filtering::detail::executeStraightforward(filter, source, target);
            } else {
                filter.execute(source, target);
            }
        };
        if (kind == 0) {
            flt::CnGreyDilationFilter<T> f;
            go(f);
        } else if (kind == 1) {
            flt::CnGreyErosionFilter<T> f;
            go(f);
        } else if (kind == 2) {
            flt::CnGreyOpeningFilter<T> f;
            go(f);
        } else {
            flt::CnGreyClosingFilter<T> f;
            go(f);
        }
    };
    const bool threw = throwsLeavingUntouched([&] { execute(input, output, straightforward); }, output, input);
    NVF_FUZZ_CHECK_MSG(threw == (mode == 9), "rejects exactly a mismatched output");
    if (threw) {
        return;
    }
    if (!inPlace) {
        NVF_FUZZ_CHECK_MSG(sameImage(input, inputBefore), "the input is not written");
    }
    const bool dilateFirst = kind == 0 || kind == 3;
    img::Image<T> expected(inputBefore);
    for (unsigned int i = 0; i < passes; ++i) {
        expected = greyPass(expected, dilateFirst);
    }
    for (unsigned int i = 0; kind >= 2 && i < passes; ++i) {
        expected = greyPass(expected, !dilateFirst);
    }
    NVF_FUZZ_CHECK_MSG(sameImage(output, expected), "differs from the grey definition");
    img::Image<T> again(x, y, z);
    execute(inputBefore, again, !straightforward);
    NVF_FUZZ_CHECK_MSG(sameImage(again, expected), "grey fast path and reference differ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::uint8_t selector = in.ConsumeIntegral<std::uint8_t>();
    if (selector >= 246) {
        const unsigned int kind = (selector - 246u) % 4u;
        switch (in.ConsumeIntegralInRange<unsigned int>(0, 4)) {
            case 0: runGrey<unsigned char>(in, kind); break;
            case 1: runGrey<unsigned short>(in, kind); break;
            case 2: runGrey<short>(in, kind); break;
            case 3: runGrey<float>(in, kind); break;
            default: runGrey<double>(in, kind); break;
        }
        return 0;
    }
    switch (selector % 6) {
        case 0: run<unsigned char, flt::CnDilationFilter<unsigned char>>(in, true); break;
        case 1: run<short, flt::CnDilationFilter<short>>(in, true); break;
        case 2: run<std::uint32_t, flt::CnDilationFilter<std::uint32_t>>(in, true); break;
        case 3: run<unsigned char, flt::CnErosionFilter<unsigned char>>(in, false); break;
        case 4: run<short, flt::CnErosionFilter<short>>(in, false); break;
        default: run<std::uint32_t, flt::CnErosionFilter<std::uint32_t>>(in, false); break;
    }
    return 0;
}
