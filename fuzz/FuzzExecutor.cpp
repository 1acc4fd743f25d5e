// Every filter driven by a thread pool of 1 to 4 threads: the results (and the
// failures) must be bit for bit those of the same filter without an executor,
// whatever the sizes, including empty and one-voxel images.
#include <FuzzSupport.h>

#include <functional>
#include <memory>

using namespace nvf_fuzz;
using com::norvane::math::CnVector3D;

namespace {

flt::CnExecutor& pool(unsigned int threads) {
    static std::unique_ptr<flt::CnThreadPoolExecutor> pools[4];
    if (!pools[threads - 1]) {
        pools[threads - 1] = std::make_unique<flt::CnThreadPoolExecutor>(threads);
    }
    return *pools[threads - 1];
}

// The split arrays of the FFT runs, in both precisions.
struct Fft {
    img::Image<float> re, im;
    img::Image<double> dre, dim;
};

template <class T>
bool equal(const img::Image<T>& a, const img::Image<T>& b) {
    return nvf_fuzz::sameResult(a, b);
}

bool equal(const Fft& a, const Fft& b) {
    return nvf_fuzz::sameResult(a.re, b.re) && nvf_fuzz::sameResult(a.im, b.im) &&
           nvf_fuzz::sameResult(a.dre, b.dre) && nvf_fuzz::sameResult(a.dim, b.dim);
}

// Runs body(executor) with no executor and with the pool; both must throw or
// not, and leave equal outputs.
template <class Output, class Body>
void compare(const Output& initial, flt::CnExecutor& executor, Body body) {
    Output serial(initial), parallel(initial);
    const bool serialThrew = throws([&] { body(static_cast<flt::CnExecutor*>(nullptr), serial); });
    const bool parallelThrew = throws([&] { body(&executor, parallel); });
    NVF_FUZZ_CHECK_MSG(serialThrew == parallelThrew, "fails differently with an executor");
    NVF_FUZZ_CHECK_MSG(equal(serial, parallel), "differs with an executor");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned int which = in.ConsumeIntegralInRange<unsigned int>(0, 8);
    const unsigned int threads = in.ConsumeIntegralInRange<unsigned int>(1, 4);
    const unsigned int x = dimension(in), y = dimension(in), z = in.ConsumeIntegralInRange<unsigned int>(0, 40);
    const double s = sigma(in);
    const unsigned int option = in.ConsumeIntegral<std::uint8_t>();
    const Encoding enc = encoding(in);
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();
    if (!fits(x, y, z, 64) || std::size_t(x) * y * z > (1u << 18)) {
        return 0;
    }
    flt::CnExecutor& executor = ::pool(threads);

    switch (which) {
        case 0: {  // separable filter, the pyramid kernel, halved or equal sizes
            img::Image<unsigned char> input(x, y, z);
            fill(input, pool, enc, false);
            const unsigned int ox = option & 1 ? (x + 1) / 2 : x, oy = option & 2 ? (y + 1) / 2 : y,
                               oz = option & 4 ? (z + 1) / 2 : z;
            compare(img::Image<unsigned char>(ox, oy, oz), executor, [&](flt::CnExecutor* e, auto& out) {
                flt::CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>,
                                       std::plus<float>>
                    f;
                f.setKernel(flt::CnKernelFactory<float>::smooth(option & 8 ? 0.375f : 0.4f),
                            static_cast<flt::CnCoord::Axis>(7));
                f.setExecutor(e);
                f.execute(input, out);
            });
            break;
        }
        case 1: {  // recursive volume filter, every derivative
            img::Image<float> input(x, y, z);
            fill(input, pool, enc, false);
            compare(img::Image<float>(x, y, z), executor, [&](flt::CnExecutor* e, auto& out) {
                flt::CnRecursiveFilter<float, float> f;
                f.setSigma(s, s * 0.5, s * 2);
                f.setDerivative(static_cast<flt::CnRecursiveFilter<float, float>::EnDerivativeType>(option % 7));
                f.setExecutor(e);
                f.execute(input, out);
            });
            break;
        }
        case 2: {  // gradient
            img::Volume<unsigned char> input(x, y, z);
            input.setVoxelSize(CnVector3D<double>(1.0, 0.5 + (option & 3), 2.0));
            fill(input, pool, enc, false);
            compare(img::Volume<Vec3f>(input), executor, [&](flt::CnExecutor* e, auto& out) {
                flt::CnImageGradient<unsigned char> g;
                g.setSigma(s);
                g.setExecutor(e);
                g.execute(input, out);
            });
            break;
        }
        case 3: {  // FFTs: 1-D batches, 2-D and 3-D arrays, both precisions
            const std::int32_t lengths[] = {1, 2, 3, 4, 5, 6, 8, 9, 12, 15, 16, 30, 32, 45, 60, 64};
            const std::int32_t nx = lengths[x % 16], ny = lengths[y % 16], nz = lengths[z % 16];
            const unsigned int dims = option % 3 + 1;
            const std::size_t total = std::size_t(nx) * ny * (dims == 3 ? std::size_t(nz) : 1);
            Fft initial{img::Image<float>(unsigned(total), 1, 1), img::Image<float>(unsigned(total), 1, 1),
                        img::Image<double>(unsigned(total), 1, 1), img::Image<double>(unsigned(total), 1, 1)};
            fill(initial.re, pool, enc, false);
            fill(initial.dre, pool, enc, false);
            fill(initial.im.data(), total, std::vector<std::uint8_t>(pool.rbegin(), pool.rend()), enc, false);
            fill(initial.dim.data(), total, std::vector<std::uint8_t>(pool.rbegin(), pool.rend()), enc, false);
            const int dir = option & 8 ? -1 : 1;
            compare(initial, executor, [&](flt::CnExecutor* e, Fft& a) {
                flt::Cn1dFftFilter<float> f1;
                flt::Cn1dFftFilter<double> d1;
                flt::Cn2dFftFilter<float> f2;
                flt::Cn2dFftFilter<double> d2;
                flt::Cn3dFftFilter<float> f3;
                flt::Cn3dFftFilter<double> d3;
                for (flt::Cn1dFftFilter<float>* f : {&f1, static_cast<flt::Cn1dFftFilter<float>*>(&f2),
                                                     static_cast<flt::Cn1dFftFilter<float>*>(&f3)}) {
                    f->setExecutor(e);
                }
                for (flt::Cn1dFftFilter<double>* f : {&d1, static_cast<flt::Cn1dFftFilter<double>*>(&d2),
                                                      static_cast<flt::Cn1dFftFilter<double>*>(&d3)}) {
                    f->setExecutor(e);
                }
                if (dims == 1) {
                    f1.executeWith(a.re.data(), a.im.data(), a.re.data(), a.im.data(), nx, ny, dir);
                    d1.executeWith(a.dre.data(), a.dim.data(), a.dre.data(), a.dim.data(), nx, ny, dir);
                } else if (dims == 2) {
                    f2.executeWith(a.re.data(), a.im.data(), a.re.data(), a.im.data(), nx, ny, dir);
                    d2.executeWith(a.dre.data(), a.dim.data(), a.dre.data(), a.dim.data(), nx, ny, dir);
                } else {
                    f3.executeWith(a.re.data(), a.im.data(), a.re.data(), a.im.data(), nx, ny, nz, dir);
                    d3.executeWith(a.dre.data(), a.dim.data(), a.dre.data(), a.dim.data(), nx, ny, nz, dir);
                }
            });
            break;
        }
        case 4: {  // labelling
            img::Image<unsigned char> input(x, y, z);
            fill(input, pool, enc, false);
            for (std::size_t i = 0; i < input.getNumberOfVoxels(); ++i) {
                input[i] = static_cast<unsigned char>(input[i] % 3);
            }
            compare(img::Image<std::uint32_t>(x, y, z), executor, [&](flt::CnExecutor* e, auto& out) {
                flt::CnConnectedComponentFilter<unsigned char> f;
                f.SetMinimumComponentSize(option % 4);
                if (option & 4) f.SetComponentNumber(option % 5);
                if (option & 8) f.Set8PointConnectivity();
                f.setExecutor(e);
                f.execute(input, out);
                if (out.getNumberOfVoxels() > 0) {  // the count is compared too
                    out[0] += static_cast<std::uint32_t>(f.GetNumberOfComponents()) << 20;
                }
            });
            break;
        }
        case 5:
        case 6: {  // dilation, erosion
            img::Image<short> input(x, y, z);
            fill(input, pool, enc, false);
            compare(img::Image<short>(x, y, z), executor, [&](flt::CnExecutor* e, auto& out) {
                if (which == 5) {
                    flt::CnDilationFilter<short> f;
                    f.setExecutor(e);
                    f.execute(input, out);
                } else {
                    flt::CnErosionFilter<short> f;
                    f.setExecutor(e);
                    f.execute(input, out);
                }
            });
            break;
        }
        case 7: {  // regional maximum
            img::Image<float> input(x, y, z);
            fill(input, pool, enc, false);
            compare(img::Image<unsigned char>(x, y, z == 0 ? 1 : z), executor, [&](flt::CnExecutor* e, auto& out) {
                flt::CnRegionalMaximumFilter<float> f;
                f.setExecutor(e);
                f.execute(input, out);
            });
            break;
        }
        default: {  // recursive filter of vectors, smoothing
            img::Image<Vec3f> input(x, y, z);
            fill(input, pool, enc, false);
            compare(img::Image<Vec3f>(x, y, z), executor, [&](flt::CnExecutor* e, auto& out) {
                flt::CnRecursiveFilter<Vec3f, Vec3f> f;
                f.setSigma(s, s, s);
                f.setExecutor(e);
                f.execute(input, out);
            });
            break;
        }
    }
    return 0;
}
