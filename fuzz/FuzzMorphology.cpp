// Dilation and erosion for 8-, 16- and 32-bit voxels: any bit patterns, thin and
// empty images, in place, mismatched outputs. Checks: the row-wise path equals
// the voxel-by-voxel reference and the definition (OR / AND over the cross of
// face neighbours inside the image) bit for bit; dilation never clears a set
// bit and erosion never sets one; mismatches are rejected with nothing written.
#include <FuzzSupport.h>

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
                filter.executeStraightforward(input, output);
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
        other.executeStraightforward(inputBefore, again);
    }
    NVF_FUZZ_CHECK_MSG(sameImage(again, expected), "fast path and reference differ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<unsigned int>(0, 5)) {
        case 0: run<unsigned char, flt::CnDilationFilter<unsigned char>>(in, true); break;
        case 1: run<short, flt::CnDilationFilter<short>>(in, true); break;
        case 2: run<std::uint32_t, flt::CnDilationFilter<std::uint32_t>>(in, true); break;
        case 3: run<unsigned char, flt::CnErosionFilter<unsigned char>>(in, false); break;
        case 4: run<short, flt::CnErosionFilter<short>>(in, false); break;
        default: run<std::uint32_t, flt::CnErosionFilter<std::uint32_t>>(in, false); break;
    }
    return 0;
}
