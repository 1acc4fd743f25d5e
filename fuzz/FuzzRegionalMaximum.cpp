// Regional maxima of 16-bit, float and double images: any values (not a number,
// infinities, plateaus), thin and empty images, outputs with deeper slices, with
// no slice or of the wrong size. Checks: the row-wise path equals the
// pixel-by-pixel reference and the definition bit for bit; deeper output slices
// and the input are untouched; wrong outputs are rejected with nothing written.
//
// The same for 8- and 16-bit unsigned images, and the volume mode (setVolume)
// for all five types: every voxel against its 26 neighbours, the output of the
// input's three dimensions or rejected. The first byte read selects the run;
// values below 240 keep their earlier meaning, so older inputs run as before.
#include <FuzzSupport.h>
#include <nvfiltering/morphology/detail/ReferencePaths.h>

#include <cmath>

using namespace nvf_fuzz;

namespace {

// 1 where the pixel of slice 0 is positive and not smaller than any neighbour
// inside the image; a pixel that does not compare, or has such a neighbour, is 0.
template <class T>
std::vector<unsigned char> definition(const img::Image<T>& in) {
    const long long sx = in.getSizeX(), sy = in.getSizeY();
    std::vector<unsigned char> out(static_cast<std::size_t>(sx * sy), 0);
    for (long long y = 0; y < sy; ++y) {
        for (long long x = 0; x < sx; ++x) {
            const T v = in(unsigned(x), unsigned(y), 0);
            bool maximum = v > T(0);
            for (long long dy = -1; dy <= 1; ++dy) {
                for (long long dx = -1; dx <= 1; ++dx) {
                    const long long nx = x + dx, ny = y + dy;
                    if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= sx || ny >= sy) {
                        continue;
                    }
                    const T w = in(unsigned(nx), unsigned(ny), 0);
                    maximum = maximum && v >= w;
                }
            }
            out[static_cast<std::size_t>(x + sx * y)] = maximum ? 1 : 0;
        }
    }
    return out;
}

template <class T>
void run(FuzzedDataProvider& in) {
    const unsigned int x = dimension(in), y = dimension(in), z = in.ConsumeIntegralInRange<unsigned int>(0, 3);
    const unsigned int shape = in.ConsumeIntegralInRange<unsigned int>(0, 12);  // 9: deeper, 10-12: wrong
    const unsigned int oz = shape == 12 ? 0 : shape != 9 ? 1 : in.ConsumeIntegralInRange<unsigned int>(1, 3);
    const unsigned int ox = shape == 10 ? x + 1 : x, oy = shape == 11 ? (y == 0 ? 1 : y - 1) : y;
    const bool straightforward = in.ConsumeBool();
    const Encoding enc = encoding(in);
    const bool constant = in.ConsumeBool();
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();
    if (!fits(x, y, z, 2 * sizeof(T)) || !fits(ox, oy, oz, 2) || std::size_t(x) * y * z > (1u << 20) ||
        std::size_t(ox) * oy * oz > (1u << 20)) {
        return;
    }
    img::Image<T> input(x, y, z);
    fill(input, pool, enc, constant);
    const img::Image<T> inputBefore(input);
    img::Image<unsigned char> output(ox, oy, oz);
    fill(output, pool, Encoding::Raw, false);
    const img::Image<unsigned char> outputBefore(output);

    flt::CnRegionalMaximumFilter<T> filter;
    const bool threw = throwsLeavingUntouched(
        [&] {
            if (straightforward) {
                com::norvane::filtering::detail::executeStraightforward(filter, input, output);
            } else {
                filter.execute(input, output);
            }
        },
        output);
    NVF_FUZZ_CHECK_MSG(sameImage(input, inputBefore), "the input is not written");
    // An input without voxels writes nothing, so its output may have no slice.
    const bool empty = x * std::size_t(y) * z == 0;
    const bool wrongShape = ox != x || oy != y || (oz == 0 && !empty);
    NVF_FUZZ_CHECK_MSG(threw == wrongShape,
                       "rejects exactly an output without the input's X and Y, or without a slice for a non-empty input");
    if (threw) {
        return;
    }
    const std::size_t plane = std::size_t(x) * y;
    if (z == 0) {
        NVF_FUZZ_CHECK_MSG(sameImage(output, outputBefore), "an input without pixels writes nothing");
        return;
    }
    const std::vector<unsigned char> expected = definition(inputBefore);
    NVF_FUZZ_CHECK_MSG(sameBytes(output.data(), expected.data(), plane), "differs from the definition");
    NVF_FUZZ_CHECK_MSG(sameBytes(output.data() + plane, outputBefore.data() + plane, output.getNumberOfVoxels() - plane),
                       "a deeper output slice changed");
    img::Image<unsigned char> again(x, y, 1);
    flt::CnRegionalMaximumFilter<T> other;
    if (straightforward) {
        other.execute(inputBefore, again);
    } else {
        com::norvane::filtering::detail::executeStraightforward(other, inputBefore, again);
    }
    NVF_FUZZ_CHECK_MSG(sameBytes(again.data(), expected.data(), plane), "fast path and reference differ");
}

// 1 where the voxel is positive and not smaller than any of its 26 neighbours
// inside the volume; a voxel that does not compare, or has such a neighbour, is 0.
template <class T>
img::Image<unsigned char> volumeDefinition(const img::Image<T>& in) {
    const long long sx = in.getSizeX(), sy = in.getSizeY(), sz = in.getSizeZ();
    img::Image<unsigned char> out(in.getSizeX(), in.getSizeY(), in.getSizeZ());
    for (long long z = 0; z < sz; ++z) {
        for (long long y = 0; y < sy; ++y) {
            for (long long x = 0; x < sx; ++x) {
                const T v = in(unsigned(x), unsigned(y), unsigned(z));
                bool maximum = v > T(0);
                for (long long n = 0; n < 27; ++n) {
                    const long long nx = x + n % 3 - 1, ny = y + n / 3 % 3 - 1, nz = z + n / 9 - 1;
                    if (nx >= 0 && ny >= 0 && nz >= 0 && nx < sx && ny < sy && nz < sz) {
                        maximum = maximum && v >= in(unsigned(nx), unsigned(ny), unsigned(nz));
                    }
                }
                out(unsigned(x), unsigned(y), unsigned(z)) = maximum ? 1 : 0;
            }
        }
    }
    return out;
}

template <class T>
void runVolume(FuzzedDataProvider& in) {
    const unsigned int x = dimension(in), y = dimension(in), z = dimension(in);
    const unsigned int shape = in.ConsumeIntegralInRange<unsigned int>(0, 12);  // 10-12: wrong
    const unsigned int ox = shape == 10 ? x + 1 : x, oy = shape == 11 ? (y == 0 ? 1 : y - 1) : y;
    const unsigned int oz = shape == 12 ? z + 1 : z;
    const bool straightforward = in.ConsumeBool();
    const Encoding enc = encoding(in);
    const bool constant = in.ConsumeBool();
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();
    if (!fits(x, y, z, 2 * sizeof(T)) || !fits(ox, oy, oz, 2) || std::size_t(x) * y * z > (1u << 20) ||
        std::size_t(ox) * oy * oz > (1u << 20)) {
        return;
    }
    img::Image<T> input(x, y, z);
    fill(input, pool, enc, constant);
    const img::Image<T> inputBefore(input);
    img::Image<unsigned char> output(ox, oy, oz);
    fill(output, pool, Encoding::Raw, false);

    flt::CnRegionalMaximumFilter<T> filter;
    filter.setVolume(true);
    const bool threw = throwsLeavingUntouched(
        [&] {
            if (straightforward) {
                com::norvane::filtering::detail::executeStraightforward(filter, input, output);
            } else {
                filter.execute(input, output);
            }
        },
        output);
    NVF_FUZZ_CHECK_MSG(sameImage(input, inputBefore), "the input is not written");
    NVF_FUZZ_CHECK_MSG(threw == (ox != x || oy != y || oz != z), "rejects exactly an output of other dimensions");
    if (threw) {
        return;
    }
    const img::Image<unsigned char> expected = volumeDefinition(inputBefore);
    NVF_FUZZ_CHECK_MSG(sameImage(output, expected), "differs from the volume definition");
    img::Image<unsigned char> again(x, y, z);
    flt::CnRegionalMaximumFilter<T> other;
    other.setVolume(true);
    if (straightforward) {
        other.execute(inputBefore, again);
    } else {
        com::norvane::filtering::detail::executeStraightforward(other, inputBefore, again);
    }
    NVF_FUZZ_CHECK_MSG(sameImage(again, expected), "volume fast path and reference differ");
}

// 240 ... 244: the first slice of each type in turn; 245 ... 255: the volume mode.
template <template <class> class Run>
void byType(FuzzedDataProvider& in, unsigned int type) {
    switch (type % 5) {
        case 0: Run<unsigned char>::go(in); break;
        case 1: Run<unsigned short>::go(in); break;
        case 2: Run<short>::go(in); break;
        case 3: Run<float>::go(in); break;
        default: Run<double>::go(in); break;
    }
}

template <class T>
struct Slice {
    static void go(FuzzedDataProvider& in) { run<T>(in); }
};

template <class T>
struct Volume {
    static void go(FuzzedDataProvider& in) { runVolume<T>(in); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::uint8_t selector = in.ConsumeIntegral<std::uint8_t>();
    if (selector >= 245) {
        byType<Volume>(in, selector - 245u);
        return 0;
    }
    if (selector >= 240) {
        byType<Slice>(in, selector - 240u);
        return 0;
    }
    switch (selector % 3) {
        case 0: run<short>(in); break;
        case 1: run<float>(in); break;
        default: run<double>(in); break;
    }
    return 0;
}
