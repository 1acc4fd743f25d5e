// Every filter that takes an executor, on random inputs of odd and thin shapes:
// with CnThreadPoolExecutor of 1, 2, 3 and 7 threads, and with an executor that
// records the calls, the outputs (and the library exceptions a run ends with)
// are bit for bit those of the run without an executor. Each filter of the
// table must hand several tasks at once to the executor for at least one of
// its inputs; where it does, a task that throws reaches the caller as the
// exception it threw, in the caller's thread and through a pool, and the next
// run is whole. Then filters share one pool from several threads at once and
// run inside the tasks of that same pool.
//
// The pools live as long as the program: every filter of the table runs on the
// same four pools.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <complex>
#include <vector>

#include <nvcore/Throwable.h>
#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/CnSeparableFilter.h>
#include <nvfiltering/fft/CnComplexFftFilter.h>
#include <nvfiltering/fft/CnRealFftFilter.h>
#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/morphology/CnErosionFilter.h>
#include <nvfiltering/morphology/CnRegionalMaximumFilter.h>
#include <nvfiltering/recursive/CnImageGradient.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvimage/Volume.h>

#include "convolution/ConvolutionTestSupport.h"
#include "fft/FftTestSupport.h"
#include "support/TestExecutors.h"
#include "support/TestImages.h"

namespace {

namespace nvf = com::norvane::filtering;
using namespace nvftest;
using com::norvane::imaging::Volume;
using nvftest::describe;
using Executor = nvf::CnExecutor;
using Factory = nvf::CnKernelFactory<float>;

// ---------------------------------------------------------------------------
// What a run leaves behind, and how two runs are compared.

// The outputs of a run and the message of the library exception it ended
// with ("" when it ended normally).
template <class Output>
struct Outcome {
    Output output;
    std::string failure;
};

// Runs body(output) on the given output, keeping what a com::norvane::Throwable
// says. Any other exception (a failing task's) passes through.
template <class Output, class Body>
Outcome<Output> capture(Output output, Body body) {
    Outcome<Output> outcome{std::move(output), ""};
    try {
        body(outcome.output);
    } catch (const com::norvane::Throwable& e) {
        outcome.failure = e.getMessage();
    }
    return outcome;
}

// Labels and the number of components.
struct Labels {
    Image<std::uint32_t> image;
    std::int32_t count = 0;
};

// Both arrays of a complex transform.
template <class T>
struct Spectrum {
    std::vector<T> re, im;
};

template <class T>
::testing::AssertionResult same(const Image<T>& a, const Image<T>& b) {
    return sameBits(a, b);
}

// Interleaved complex arrays as their real and imaginary parts one after another.
template <class T>
::testing::AssertionResult same(const std::vector<T>& a, const std::vector<T>& b) {
    return sameBits(a, b);
}

::testing::AssertionResult same(const Labels& a, const Labels& b) {
    if (a.count != b.count) {
        return ::testing::AssertionFailure() << a.count << " components against " << b.count;
    }
    return sameBits(a.image, b.image);
}

template <class T>
::testing::AssertionResult same(const Spectrum<T>& a, const Spectrum<T>& b) {
    ::testing::AssertionResult re = sameBits(a.re, b.re);
    if (!re) {
        return re << " (real parts)";
    }
    ::testing::AssertionResult im = sameBits(a.im, b.im);
    if (!im) {
        return im << " (imaginary parts)";
    }
    return ::testing::AssertionSuccess();
}

template <class Output>
::testing::AssertionResult same(const Outcome<Output>& a, const Outcome<Output>& b) {
    if (a.failure != b.failure) {
        return ::testing::AssertionFailure() << "ended with \"" << a.failure << "\" against \"" << b.failure << "\"";
    }
    return same(a.output, b.output);
}

template <class Output>
using Run = std::function<Outcome<Output>(Executor*)>;

// ---------------------------------------------------------------------------
// The check every input of every filter goes through.

class EveryExecutor {
public:
    // Whether every input's run is to end with a library exception.
    explicit EveryExecutor(bool failing = false) : m_failing(failing) {}

    // split: the input is large enough that the run must hand several tasks
    // at once to the executor.
    template <class Output>
    void expectSameBits(const std::string& what, const Run<Output>& run, bool split = false) {
        SCOPED_TRACE(what);
        const Outcome<Output> reference = run(nullptr);
        if (m_failing) {
            EXPECT_NE(reference.failure, "") << "the run was to fail";
        } else {
            EXPECT_EQ(reference.failure, "") << "the run was not to fail";
        }
        for (const unsigned threads : threadCounts()) {
            EXPECT_TRUE(same(run(&sharedPool(threads)), reference)) << threads << " threads";
        }
        CountingExecutor counting(&sharedPool(3));
        EXPECT_TRUE(same(run(&counting), reference)) << "the counting executor";
        if (split) {
            EXPECT_GT(counting.widest(), 1u) << "the work was not cut into several tasks";
        }
        if (counting.widest() > m_widest) {
            m_widest = counting.widest();
        }
        if (counting.calls() == 0) {
            return;
        }
        for (Executor* inner : {static_cast<Executor*>(nullptr), static_cast<Executor*>(&sharedPool(3))}) {
            FailingExecutor failing(inner, 1);
            EXPECT_THROW(run(&failing), std::runtime_error) << (inner ? "through a pool" : "in the caller's thread");
        }
        EXPECT_TRUE(same(run(&sharedPool(3)), reference)) << "after a failed run";
    }

    // The most tasks one call of any input handed to the executor.
    std::size_t widest() const { return m_widest; }

private:
    bool m_failing;
    std::size_t m_widest = 0;
};

// One row of the table: a filter (with its voxel type and settings) and the
// inputs it runs on, checked with an EveryExecutor.
struct FilterCase {
    std::string name;
    std::function<void(EveryExecutor&)> inputs;
    bool failing = false;
    // Whether some input is cut into several tasks (not so for a run that
    // fails before its first pass).
    bool split = true;
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

// ---------------------------------------------------------------------------
// Convolution.

using ByteSeparable =
    nvf::CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>, std::plus<float>>;
using VecSeparable = nvf::CnSeparableFilter<Vec3f, Vec3f, float, Vec3f, std::multiplies<float>, std::plus<float>>;
template <class T>
using ScalarSeparable = nvf::CnSeparableFilter<T, T, float, float, std::multiplies<float>, std::plus<float>>;

struct Resampling {
    Size3 in, out;
};

std::string describe(const Resampling& r) { return describe(r.in) + " -> " + describe(r.out); }

// Thin shapes (one voxel along each axis in turn), odd sizes, halved, kept and
// doubled axes, and pyramid levels large enough to be cut into several tasks.
std::vector<Resampling> separableShapes() {
    return {{{1, 37, 23}, {1, 19, 12}},   {{41, 1, 19}, {41, 1, 19}},     {{29, 33, 1}, {58, 66, 1}},
            {{1, 1, 45}, {1, 1, 90}},     {{1, 2101, 1}, {1, 1051, 1}},   {{2101, 1, 1}, {4202, 1, 1}},
            {{1100, 7, 5}, {550, 4, 3}},  {{23, 9, 31}, {46, 18, 62}},    {{13, 27, 7}, {7, 14, 4}},
            {{67, 45, 39}, {67, 45, 39}}, {{1501, 301, 1}, {751, 151, 1}}};
}

// The fused sweep in several rounds of output slices, with input slices shared
// between rounds and slices wider than one piece of the Z sums.
std::vector<Resampling> fusedSweepShapes() {
    return {{{131, 71, 61}, {66, 36, 31}}, {{9, 11, 70}, {5, 6, 35}}, {{21, 17, 13}, {42, 34, 26}}};
}

// The kernel of an axis: `taps` if the axis is long enough, else the identity.
nvf::CnKernel<float> kernelFor(const nvf::CnKernel<float>& taps, unsigned int n) {
    return n >= taps.size() ? taps : Factory::id();
}

// An input of more than `splitFrom` voxels is cut into several tasks.
template <class Filter, class T>
FilterCase separableCase(const std::string& name, const nvf::CnKernel<float>& kernel,
                         const std::vector<Resampling>& shapes, std::size_t splitFrom) {
    return {name, [kernel, shapes, splitFrom](EveryExecutor& check) {
                std::uint32_t seed = 100;
                for (const Resampling& r : shapes) {
                    const Image<T> in = randomImage<T>(r.in, seed++);
                    const Run<Image<T>> run = [&](Executor* e) {
                        return capture(Image<T>(r.out.x, r.out.y, r.out.z), [&](Image<T>& out) {
                            Filter f;
                            f.setExecutor(e);
                            f.setKernel(kernelFor(kernel, r.in.x), nvf::CnCoord::X);
                            f.setKernel(kernelFor(kernel, r.in.y), nvf::CnCoord::Y);
                            f.setKernel(kernelFor(kernel, r.in.z), nvf::CnCoord::Z);
                            f.execute(in, out);
                        });
                    };
                    check.expectSameBits(describe(r), run, in.getNumberOfVoxels() > splitFrom);
                }
            }};
}

// Long lines are cut into pieces; the output is written with stride 2.
template <class In, class Out, class Acc>
FilterCase lineCase(const std::string& name) {
    return {name, [](EveryExecutor& check) {
                std::uint32_t seed = 200;
                for (const unsigned int n : {1u, 5u, 40001u, 70001u}) {
                    const Image<In> in = randomImage<In>({n, 1, 1}, seed++);
                    for (const unsigned int m : {n, (n + 1) / 2, 2 * n}) {
                        const Run<Image<Out>> run = [&](Executor* e) {
                            return capture(Image<Out>(2 * m, 1, 1), [&](Image<Out>& out) {
                                convtest::LineFilter<In, Out, Acc> f;
                                f.setExecutor(e);
                                f.setKernel(n >= 5 ? Factory::smooth(0.375f) : Factory::id());
                                f.setInputData(in.begin(), n, 1);
                                f.setOutputData(out.begin(), m, 2);
                                f.execute();
                            });
                        };
                        check.expectSameBits(std::to_string(n) + " -> " + std::to_string(m), run, m > 40000);
                    }
                }
            }};
}

// ---------------------------------------------------------------------------
// Recursive filters.

// Odd sizes with full blocks of lanes and remainders, and volumes one voxel
// (or a few voxels) thick along each axis; then volumes large enough for each
// kind of pass to be cut into tasks (a task takes at least 2^15 samples): X and
// Y slice by slice, X alone over rows of a single slice, and lines too short
// for the blocked kernels.
std::vector<Size3> recursiveSizes() {
    return {{37, 29, 23}, {71, 9, 13}, {5, 67, 19}, {19, 17, 70}, {1, 45, 33},  {41, 1, 27},   {43, 31, 1},
            {2, 3, 39},   {1, 1, 77},  {3, 80, 1},  {67, 2, 2},   {48, 40, 36}, {181, 190, 1}, {2, 2, 8193}};
}

// The volume of enough slices for X and Y to run slice by slice, in several tasks.
bool isSlabOfSlices(const Size3& s) { return s.x == 48 && s.y == 40 && s.z == 36; }

const char* const kDerivativeNames[] = {"Smoothing",        "FirstDerivativeX",  "FirstDerivativeY",
                                        "FirstDerivativeZ", "SecondDerivativeX", "SecondDerivativeY",
                                        "SecondDerivativeZ"};

template <class In, class Out>
FilterCase recursiveCase(const std::string& type, int derivative) {
    using Filter = nvf::CnRecursiveFilter<In, Out>;
    return {"Recursive" + type + kDerivativeNames[derivative], [derivative](EveryExecutor& check) {
                std::uint32_t seed = 300;
                for (const Size3& s : recursiveSizes()) {
                    const Image<In> in = randomImage<In>(s, seed++);
                    const Run<Image<Out>> run = [&](Executor* e) {
                        return capture(Image<Out>(s.x, s.y, s.z), [&](Image<Out>& out) {
                            Filter f;
                            f.setExecutor(e);
                            f.setSigma(0.7 + 0.4 * derivative, 2.3, 1.6);
                            f.setDerivative(static_cast<typename Filter::EnDerivativeType>(derivative));
                            f.execute(in, out);
                        });
                    };
                    check.expectSameBits(describe(s), run, isSlabOfSlices(s));
                }
            }};
}

// A border mode other than the continuation by zeros (line by line in double
// precision), with one derivative, on thin, single-slice and split volumes.
template <class In, class Out>
FilterCase recursiveBorderCase(const std::string& type, typename nvf::CnRecursiveFilter<In, Out>::EnBorderMode mode,
                               double value, int derivative) {
    using Filter = nvf::CnRecursiveFilter<In, Out>;
    const char* const modeNames[] = {"Constant", "Nearest", "Reflect", "Mirror", "Wrap"};
    return {"Recursive" + type + modeNames[mode] + "Border" + kDerivativeNames[derivative],
            [mode, value, derivative](EveryExecutor& check) {
                std::uint32_t seed = 450;
                for (const Size3& s : {Size3{37, 29, 23}, Size3{1, 45, 33}, Size3{43, 31, 1}, Size3{2, 3, 39},
                                       Size3{48, 40, 36}}) {
                    const Image<In> in = randomImage<In>(s, seed++);
                    const Run<Image<Out>> run = [&](Executor* e) {
                        return capture(Image<Out>(s.x, s.y, s.z), [&](Image<Out>& out) {
                            Filter f;
                            f.setExecutor(e);
                            f.setSigma(1.4, 0.8, 2.2);
                            f.setDerivative(static_cast<typename Filter::EnDerivativeType>(derivative));
                            f.setBorderMode(mode, value);
                            f.execute(in, out);
                        });
                    };
                    check.expectSameBits(describe(s), run, isSlabOfSlices(s));
                }
            }};
}

// The output is the input image itself.
template <class T>
FilterCase recursiveInPlaceCase(const std::string& type) {
    return {"Recursive" + type + "InPlace", [](EveryExecutor& check) {
                std::uint32_t seed = 400;
                for (const Size3& s : {Size3{33, 21, 17}, Size3{41, 1, 27}, Size3{43, 31, 1}, Size3{48, 40, 36}}) {
                    const Image<T> in = randomImage<T>(s, seed++);
                    check.expectSameBits<Image<T>>(describe(s), [&](Executor* e) {
                        return capture(in, [&](Image<T>& image) {
                            nvf::CnRecursiveFilter<T, T> f;
                            f.setExecutor(e);
                            f.setSigma(1.2, 3.0, 0.9);
                            f.execute(image, image);
                        });
                    });
                }
            }};
}

// Failures part way: a sigma whose series does not converge fails when the Z
// pass starts, a derivative of vectors when its pass starts, after the earlier
// passes have written the output.
FilterCase recursiveSigmaBeyondConvergenceCase() {
    return {"RecursiveFloatSigmaBeyondConvergenceAlongZ",
            [](EveryExecutor& check) {
                const Size3 s{48, 40, 36};
                const Image<float> in = randomImage<float>(s, 500);
                check.expectSameBits<Image<float>>(describe(s), [&](Executor* e) {
                    return capture(Image<float>(s.x, s.y, s.z), [&](Image<float>& out) {
                        nvf::CnRecursiveFilter<float, float> f;
                        f.setExecutor(e);
                        f.setSigma(1.0, 1.5, 300.0);
                        f.execute(in, out);
                    });
                });
            },
            true};
}

FilterCase recursiveVectorDerivativeCase() {
    using Filter = nvf::CnRecursiveFilter<Vec3f, Vec3f>;
    return {"RecursiveVectorDerivatives",
            [](EveryExecutor& check) {
                const Size3 s{29, 23, 19};
                const Image<Vec3f> in = randomImage<Vec3f>(s, 501);
                for (int d = 1; d < 7; ++d) {
                    check.expectSameBits<Image<Vec3f>>(kDerivativeNames[d], [&](Executor* e) {
                        return capture(Image<Vec3f>(s.x, s.y, s.z), [&](Image<Vec3f>& out) {
                            Filter f;
                            f.setExecutor(e);
                            f.setDerivative(static_cast<Filter::EnDerivativeType>(d));
                            f.execute(in, out);
                        });
                    });
                }
            },
            true};
}

Volume<unsigned char> randomVolume(const Size3& s, std::uint32_t seed) {
    Volume<unsigned char> v(s.x, s.y, s.z);
    std::mt19937 rng(seed);
    fillRandom(v, rng);
    v.setVoxelSize(com::norvane::math::CnVector3D<double>(0.9, 1.3, 2.1));
    return v;
}

// The gradient of 8-bit volumes with voxels of three sizes. A sigma beyond
// convergence is refused before anything runs, so that run hands no tasks out.
FilterCase gradientCase(const std::string& name, double sigma, bool failing = false) {
    return {name,
            [sigma, failing](EveryExecutor& check) {
                std::uint32_t seed = 600;
                for (const Size3& s : recursiveSizes()) {
                    const Volume<unsigned char> src = randomVolume(s, seed++);
                    const Run<Volume<Vec3f>> run = [&](Executor* e) {
                        return capture(Volume<Vec3f>(s.x, s.y, s.z), [&](Volume<Vec3f>& dst) {
                            nvf::CnImageGradient<unsigned char> g;
                            g.setExecutor(e);
                            g.setSigma(sigma);
                            g.execute(src, dst);
                        });
                    };
                    check.expectSameBits(describe(s), run, !failing && isSlabOfSlices(s));
                }
            },
            failing, !failing};
}

// ---------------------------------------------------------------------------
// Fourier transforms.

enum class Layout { Contiguous, Interleaved };

// A batch of `count` vectors of length n holds about 2^16 values, enough for
// several pieces of work, and ends in partial chunks and bands.
template <class T>
FilterCase fft1dCase(const std::string& name, Layout layout, bool gpfaOnly) {
    return {name, [layout, gpfaOnly](EveryExecutor& check) {
                const std::vector<int> lengths =
                    gpfaOnly ? std::vector<int>{64, 1024} : std::vector<int>{1, 3, 15, 45, 75, 64, 1024};
                for (const int n : lengths) {
                    const int count = ((1 << 16) / n) | 1;
                    const std::size_t m = static_cast<std::size_t>(n) * static_cast<std::size_t>(count);
                    const Spectrum<T> in{randomArray<T>(m, static_cast<std::uint32_t>(n), -1.0, 1.0),
                                         randomArray<T>(m, static_cast<std::uint32_t>(7 * n), -1.0, 1.0)};
                    for (const int dir : {1, -1}) {
                        const Run<Spectrum<T>> run = [&](Executor* e) {
                            return capture(in, [&](Spectrum<T>& a) {
                                fft_test::Probe1d<T> f;
                                f.setExecutor(e);
                                f.setGpfaOnly(gpfaOnly);
                                if (layout == Layout::Contiguous) {
                                    f.executeWith(a.re.data(), a.im.data(), a.re.data(), a.im.data(), n, count, dir);
                                } else {
                                    f.setFields(a.re.data(), a.im.data(), a.re.data(), a.im.data(), n, count);
                                    f.SetDataJump(count);
                                    f.SetVectorJump(1);
                                    f.SetDirection(dir);
                                    f.execute();
                                }
                            });
                        };
                        check.expectSameBits(
                            std::to_string(n) + " x " + std::to_string(count) + " direction " + std::to_string(dir),
                            run);
                    }
                }
            }};
}

// Out of place, n1 rows of n2.
template <class T>
FilterCase fft2dCase(const std::string& name) {
    return {
        name, [](EveryExecutor& check) {
            const int shapes[][2] = {{1, 1},    {3, 1},    {1, 75},  {15, 45},   {45, 75},  {75, 3},
                                     {64, 128}, {256, 32}, {64, 45}, {375, 405}, {512, 256}};
            for (const auto& s : shapes) {
                const std::size_t m = static_cast<std::size_t>(s[0]) * static_cast<std::size_t>(s[1]);
                const Spectrum<T> in{randomArray<T>(m, static_cast<std::uint32_t>(3 * s[0] + s[1]), -1.0, 1.0),
                                     randomArray<T>(m, 5, -1.0, 1.0)};
                for (const int dir : {1, -1}) {
                    const Run<Spectrum<T>> run = [&](Executor* e) {
                        return capture(Spectrum<T>{std::vector<T>(m), std::vector<T>(m)}, [&](Spectrum<T>& out) {
                            fft_test::Cn2dFftFilter<T> f;
                            f.setExecutor(e);
                            f.executeWith(in.re.data(), in.im.data(), out.re.data(), out.im.data(), s[0], s[1], dir);
                        });
                    };
                    check.expectSameBits(
                        std::to_string(s[0]) + "x" + std::to_string(s[1]) + " direction " + std::to_string(dir), run);
                }
            }
        }};
}

// In place, nx by ny by nz.
template <class T>
FilterCase fft3dCase(const std::string& name) {
    return {name, [](EveryExecutor& check) {
                const int shapes[][3] = {{1, 1, 1},   {3, 5, 1},   {15, 3, 45},  {45, 15, 3}, {5, 75, 9},
                                         {16, 8, 32}, {32, 16, 2}, {75, 45, 27}, {64, 64, 32}};
                for (const auto& s : shapes) {
                    const Size3 size{static_cast<unsigned int>(s[0]), static_cast<unsigned int>(s[1]),
                                     static_cast<unsigned int>(s[2])};
                    const std::size_t m = static_cast<std::size_t>(size.x) * size.y * size.z;
                    const Spectrum<T> in{
                        randomArray<T>(m, static_cast<std::uint32_t>(s[0] + 5 * s[1] + 17 * s[2]), -1.0, 1.0),
                        randomArray<T>(m, 9, -1.0, 1.0)};
                    for (const int dir : {1, -1}) {
                        const Run<Spectrum<T>> run = [&](Executor* e) {
                            return capture(in, [&](Spectrum<T>& a) {
                                fft_test::Cn3dFftFilter<T> f;
                                f.setExecutor(e);
                                f.executeWith(a.re.data(), a.im.data(), a.re.data(), a.im.data(), s[0], s[1], s[2],
                                              dir);
                            });
                        };
                        check.expectSameBits(describe(size) + " direction " + std::to_string(dir), run);
                    }
                }
            }};
}

// The interleaved complex transforms over every axis of row-major arrays (in
// place and out of place), and the real ones over the last axes, forward then
// inverse; sizes with prime factors above 13 take the chirp-z path.
template <class T>
FilterCase interleavedFftCase(const std::string& name) {
    return {name, [](EveryExecutor& check) {
                const std::size_t shapes[][3] = {{1, 1, 1}, {3, 5, 7}, {64, 60, 45}, {9, 101, 40}, {2, 3, 4099},
                                                 {17, 256, 12}, {6, 37, 1031}};
                for (const auto& s : shapes) {
                    const std::size_t m = s[0] * s[1] * s[2];
                    const bool split = m >= 100000;
                    const std::vector<T> in = randomArray<T>(2 * m, static_cast<std::uint32_t>(m), -1.0, 1.0);
                    for (const int dir : {1, -1}) {
                        for (const bool inPlace : {false, true}) {
                            const Run<std::vector<T>> run = [&](Executor* e) {
                                return capture(inPlace ? in : std::vector<T>(2 * m), [&](std::vector<T>& out) {
                                    nvf::CnComplexFftFilter<T> f;
                                    f.setExecutor(e);
                                    auto* o = reinterpret_cast<std::complex<T>*>(out.data());
                                    const auto* i = inPlace ? o : reinterpret_cast<const std::complex<T>*>(in.data());
                                    f.execute3d(i, o, s[0], s[1], s[2], dir);
                                });
                            };
                            check.expectSameBits(std::to_string(s[0]) + "x" + std::to_string(s[1]) + "x" +
                                                     std::to_string(s[2]) + " direction " + std::to_string(dir) +
                                                     (inPlace ? " in place" : ""),
                                                 run, split);
                        }
                    }
                    for (const int rank : {1, 2, 3}) {
                        const Run<std::vector<T>> run = [&](Executor* e) {
                            const std::size_t half = s[0] * s[1] * (s[2] / 2 + 1);
                            return capture(std::vector<T>(2 * half + 3 * m), [&](std::vector<T>& out) {
                                nvf::CnRealFftFilter<T> f;
                                f.setExecutor(e);
                                auto* spectrum = reinterpret_cast<std::complex<T>*>(out.data());
                                f.executeForward(in.data(), spectrum, s, 3, rank);
                                f.executeInverse(spectrum, out.data() + 2 * half, s, 3, rank);
                                f.executeForwardFull(in.data(),
                                                     reinterpret_cast<std::complex<T>*>(out.data() + 2 * half + m),
                                                     s, 3, rank, rank == 2);
                            });
                        };
                        check.expectSameBits("real " + std::to_string(s[0]) + "x" + std::to_string(s[1]) + "x" +
                                                 std::to_string(s[2]) + " rank " + std::to_string(rank),
                                             run, m >= 100000 && rank == 3);
                    }
                }
            }};
}

// ---------------------------------------------------------------------------
// Morphology.

// Odd sizes, thin volumes (one voxel along each axis in turn) and sizes that
// are cut into several bands or slabs.
std::vector<Size3> morphologySizes() {
    std::vector<Size3> sizes = {{1, 1, 1},    {1, 37, 45},  {43, 1, 39},   {41, 47, 1},  {1, 1, 3001},  {1, 3001, 1},
                                {3001, 1, 1}, {67, 53, 41}, {301, 257, 1}, {700, 5, 31}, {2, 181, 101}, {9, 7, 900}};
    std::mt19937 rng(700);
    std::uniform_int_distribution<unsigned int> half(1, 20);
    for (int t = 0; t < 4; ++t) {
        const unsigned int x = 2 * half(rng) + 1, y = 2 * half(rng) + 1, z = 2 * half(rng) + 1;
        sizes.push_back({x, y, z});
    }
    return sizes;
}

// Bands of rows hold about 2^16 voxels: an image of twice that many is cut
// into several, unless its rows alone are that long.
bool inSeveralBands(std::size_t voxels, unsigned int x) { return voxels >= 2 * 65536 && x < 65536; }

// Sparse bits, so that the combinations of neighbours vary.
template <template <class> class Filter, class T>
FilterCase crossCase(const std::string& name) {
    return {name, [](EveryExecutor& check) {
                std::mt19937 rng(701);
                for (const Size3& s : morphologySizes()) {
                    const Image<T> in = randomImage<T>(s, rng, [](std::mt19937& r) {
                        return randomVoxel<T>(r) & randomVoxel<T>(r) & randomVoxel<T>(r);
                    });
                    const Run<Image<T>> run = [&](Executor* e) {
                        return capture(Image<T>(s.x, s.y, s.z), [&](Image<T>& out) {
                            Filter<T> f;
                            f.setExecutor(e);
                            f.execute(in, out);
                        });
                    };
                    check.expectSameBits(describe(s), run, inSeveralBands(in.getNumberOfVoxels(), s.x));
                }
            }};
}

// Few values, so that flat tops and equal neighbours are common.
template <class T>
FilterCase regionalMaximumCase(const std::string& name) {
    return {name, [](EveryExecutor& check) {
                std::mt19937 rng(702);
                std::uniform_int_distribution<int> level(-1, 3);
                for (const Size3& volume : morphologySizes()) {
                    const Size3 s{volume.x, volume.y, 1};
                    const Image<T> in = randomImage<T>(s, rng, [&](std::mt19937& r) { return T(level(r)); });
                    const Run<Image<unsigned char>> run = [&](Executor* e) {
                        return capture(Image<unsigned char>(s.x, s.y, 1), [&](Image<unsigned char>& out) {
                            nvf::CnRegionalMaximumFilter<T> f;
                            f.setExecutor(e);
                            f.execute(in, out);
                        });
                    };
                    check.expectSameBits(describe(s), run, inSeveralBands(in.getNumberOfVoxels(), s.x));
                }
            }};
}

struct LabellingSettings {
    nvf::CnConnectivity connectivity;
    std::uint32_t minimumSize;
    std::uint32_t componentNumber;
};

std::string describe(const LabellingSettings& l) {
    return std::to_string(static_cast<int>(l.connectivity)) + " neighbours, minimum size " +
           std::to_string(l.minimumSize) + ", component number " + std::to_string(l.componentNumber);
}

template <class T>
Run<Labels> labelling(const Image<T>& in, const LabellingSettings& l) {
    return [&in, l](Executor* e) {
        return capture(Labels{Image<std::uint32_t>(in.getSizeX(), in.getSizeY(), in.getSizeZ()), 0}, [&](Labels& out) {
            nvf::CnConnectedComponentFilter<T> f;
            f.setExecutor(e);
            f.SetMinimumComponentSize(l.minimumSize);
            f.SetComponentNumber(l.componentNumber);
            f.setConnectivity(l.connectivity);
            f.execute(in, out.image);
            out.count = f.GetNumberOfComponents();
        });
    };
}

// Masks of the class number 1. Densities around the percolation threshold give
// components that cross many slab faces; sparse masks give many components of
// equal size, whose order must not change.
template <class T>
FilterCase labellingCase(const std::string& name, const std::vector<Size3>& sizes,
                         const std::vector<LabellingSettings>& settings, const std::vector<double>& densities,
                         bool failing = false) {
    return {name,
            [sizes, settings, densities, failing](EveryExecutor& check) {
                std::mt19937 rng(703);
                for (const Size3& s : sizes) {
                    for (const double density : densities) {
                        const Image<T> in = randomMask<T>(s, rng, density, T(1));
                        for (const LabellingSettings& l : settings) {
                            // Slabs hold at least 2^14 voxels; 8-point images are cut by rows.
                            const bool split = l.connectivity == nvf::CnConnectivity::Eight
                                                   ? s.y > 1
                                                   : in.getNumberOfVoxels() >= 2 * 16384;
                            check.expectSameBits(
                                describe(s) + " density " + std::to_string(density) + ", " + describe(l),
                                labelling(in, l), !failing && split);
                        }
                    }
                }
            },
            failing};
}

std::vector<Size3> eightPointSizes() { return {{301, 257, 1}, {1, 40001, 1}, {40001, 1, 1}, {17, 3001, 1}}; }

// The wider class types on fewer inputs, with selections by size and by rank.
template <class T>
void addLabellingOf(std::vector<FilterCase>& table, const std::string& type) {
    const std::vector<Size3> sizes = {{41, 47, 1}, {301, 257, 1}, {67, 53, 41}, {2, 181, 101}, {1, 3001, 1}};
    const nvf::CnConnectivity six = nvf::CnConnectivity::Six, eight = nvf::CnConnectivity::Eight;
    table.push_back(labellingCase<T>("Labelling" + type, sizes, {{six, 2, 0}, {six, 0, 3}}, {0.3}));
    table.push_back(labellingCase<T>("Labelling" + type + "EightPoint", {{301, 257, 1}, {17, 3001, 1}},
                                     {{eight, 0, 0}, {eight, 0, 2}}, {0.4}));
    // Edge and corner neighbours across the slab faces.
    table.push_back(labellingCase<T>("Labelling" + type + "EdgesAndCorners", {{67, 53, 41}, {2, 181, 101}},
                                     {{nvf::CnConnectivity::Eighteen, 0, 0}, {nvf::CnConnectivity::TwentySix, 0, 2}},
                                     {0.2}));
}

// ---------------------------------------------------------------------------
// The table.

std::vector<FilterCase> everyFilter() {
    std::vector<FilterCase> table;
    // Separable filter: the pyramid kernel runs as the fused sweep, smooth(0.4)
    // pass by pass in float where that is exact, other taps pass by pass in double.
    // 8-bit images of more than 200000 voxels are cut into tasks on every path,
    // and so is every volume of the fused sweep's rounds; vector images of more
    // than 100000 voxels.
    table.push_back(separableCase<ByteSeparable, unsigned char>("SeparablePyramid", Factory::smooth(0.375f),
                                                                separableShapes(), 200000));
    table.push_back(separableCase<ByteSeparable, unsigned char>("SeparablePyramidRounds", Factory::smooth(0.375f),
                                                                fusedSweepShapes(), 0));
    table.push_back(separableCase<ByteSeparable, unsigned char>("SeparableSmooth", Factory::smooth(0.4f),
                                                                separableShapes(), 200000));
    table.push_back(separableCase<ByteSeparable, unsigned char>(
        "SeparableOtherTaps", nvf::CnKernel<float>(std::vector<float>{0.3183099f, -0.4142136f, 1.0958904f}),
        separableShapes(), 200000));
    table.push_back(
        separableCase<VecSeparable, Vec3f>("SeparableVector", Factory::smooth(0.4f), separableShapes(), 100000));
    // 16-bit and real images: every pass multi-line in double.
    table.push_back(separableCase<ScalarSeparable<unsigned short>, unsigned short>(
        "SeparableUnsignedShortPyramid", Factory::smooth(0.375f), separableShapes(), 200000));
    table.push_back(separableCase<ScalarSeparable<short>, short>(
        "SeparableShortOtherTaps", nvf::CnKernel<float>(std::vector<float>{0.3183099f, -0.4142136f, 1.0958904f}),
        separableShapes(), 200000));
    table.push_back(separableCase<ScalarSeparable<float>, float>("SeparableFloat", Factory::smooth(0.4f),
                                                                 separableShapes(), 200000));
    table.push_back(separableCase<ScalarSeparable<double>, double>("SeparableDouble", Factory::smooth(0.375f),
                                                                   separableShapes(), 200000));

    table.push_back(lineCase<unsigned char, unsigned char, float>("LineByteToByte"));
    table.push_back(lineCase<unsigned char, float, float>("LineByteToFloat"));
    table.push_back(lineCase<float, unsigned char, float>("LineFloatToByte"));
    table.push_back(lineCase<float, float, float>("LineFloatToFloat"));
    table.push_back(lineCase<Vec3f, Vec3f, Vec3f>("LineVector"));

    for (int d = 0; d < 7; ++d) {
        table.push_back(recursiveCase<unsigned char, float>("ByteToFloat", d));
        table.push_back(recursiveCase<float, float>("Float", d));
        table.push_back(recursiveCase<double, double>("Double", d));
    }
    for (int d : {0, 1, 5}) {
        table.push_back(recursiveCase<unsigned short, float>("UnsignedShortToFloat", d));
        table.push_back(recursiveCase<short, float>("ShortToFloat", d));
    }
    table.push_back(recursiveCase<Vec3f, Vec3f>("Vector", 0));
    table.push_back(recursiveInPlaceCase<float>("Float"));
    table.push_back(recursiveInPlaceCase<double>("Double"));
    table.push_back(recursiveInPlaceCase<Vec3f>("Vector"));
    using FloatModes = nvf::CnRecursiveFilter<float, float>;
    table.push_back(recursiveBorderCase<float, float>("Float", FloatModes::Constant, 2.5, 0));
    table.push_back(recursiveBorderCase<float, float>("Float", FloatModes::Nearest, 0.0, 1));
    table.push_back(recursiveBorderCase<float, float>("Float", FloatModes::Reflect, 0.0, 5));
    table.push_back(recursiveBorderCase<float, float>("Float", FloatModes::Mirror, 0.0, 3));
    table.push_back(recursiveBorderCase<float, float>("Float", FloatModes::Wrap, 0.0, 0));
    table.push_back(recursiveBorderCase<unsigned char, float>(
        "ByteToFloat", nvf::CnRecursiveFilter<unsigned char, float>::Reflect, 0.0, 4));
    table.push_back(recursiveBorderCase<double, double>("Double", nvf::CnRecursiveFilter<double, double>::Wrap, 0.0, 6));
    table.push_back(recursiveBorderCase<Vec3f, Vec3f>("Vector", nvf::CnRecursiveFilter<Vec3f, Vec3f>::Mirror, 0.0, 0));
    table.push_back(recursiveSigmaBeyondConvergenceCase());
    table.push_back(recursiveVectorDerivativeCase());
    table.push_back(gradientCase("ImageGradientCentralDifferences", 0.0));
    table.push_back(gradientCase("ImageGradientSmoothed", 1.7));
    table.push_back(gradientCase("ImageGradientSigmaBeyondConvergence", 500.0, true));

    table.push_back(fft1dCase<float>("Fft1dFloatContiguous", Layout::Contiguous, false));
    table.push_back(fft1dCase<float>("Fft1dFloatInterleaved", Layout::Interleaved, false));
    table.push_back(fft1dCase<float>("Fft1dFloatGpfaContiguous", Layout::Contiguous, true));
    table.push_back(fft1dCase<float>("Fft1dFloatGpfaInterleaved", Layout::Interleaved, true));
    table.push_back(fft1dCase<double>("Fft1dDoubleContiguous", Layout::Contiguous, false));
    table.push_back(fft1dCase<double>("Fft1dDoubleInterleaved", Layout::Interleaved, false));
    table.push_back(fft1dCase<double>("Fft1dDoubleGpfaContiguous", Layout::Contiguous, true));
    table.push_back(fft1dCase<double>("Fft1dDoubleGpfaInterleaved", Layout::Interleaved, true));
    table.push_back(fft2dCase<float>("Fft2dFloat"));
    table.push_back(fft2dCase<double>("Fft2dDouble"));
    table.push_back(fft3dCase<float>("Fft3dFloat"));
    table.push_back(fft3dCase<double>("Fft3dDouble"));
    table.push_back(interleavedFftCase<float>("FftInterleavedFloat"));
    table.push_back(interleavedFftCase<double>("FftInterleavedDouble"));

    table.push_back(crossCase<nvf::CnDilationFilter, unsigned char>("DilationByte"));
    table.push_back(crossCase<nvf::CnDilationFilter, short>("DilationShort"));
    table.push_back(crossCase<nvf::CnDilationFilter, std::uint32_t>("DilationUInt32"));
    table.push_back(crossCase<nvf::CnDilationFilter, unsigned short>("DilationUnsignedShort"));
    table.push_back(crossCase<nvf::CnErosionFilter, unsigned char>("ErosionByte"));
    table.push_back(crossCase<nvf::CnErosionFilter, short>("ErosionShort"));
    table.push_back(crossCase<nvf::CnErosionFilter, std::uint32_t>("ErosionUInt32"));
    table.push_back(crossCase<nvf::CnErosionFilter, unsigned short>("ErosionUnsignedShort"));
    table.push_back(regionalMaximumCase<short>("RegionalMaximumShort"));
    table.push_back(regionalMaximumCase<float>("RegionalMaximumFloat"));
    table.push_back(regionalMaximumCase<double>("RegionalMaximumDouble"));

    // Labelling in two dimensions (4-point) and three (face neighbours), with
    // and without a minimum size; 8-point in two dimensions with selections.
    const nvf::CnConnectivity six = nvf::CnConnectivity::Six, eightPoint = nvf::CnConnectivity::Eight;
    const std::vector<LabellingSettings> faces = {{six, 0, 0}, {six, 3, 0}};
    const std::vector<LabellingSettings> eight = {{eightPoint, 0, 0}, {eightPoint, 0, 1}, {eightPoint, 0, 5}};
    table.push_back(labellingCase<unsigned char>("LabellingByte", morphologySizes(), faces, {0.05, 0.3, 0.6}));
    table.push_back(labellingCase<unsigned char>("LabellingByteEightPoint", eightPointSizes(), eight, {0.4}));
    // Edge neighbours (18) and every neighbour (26): densities below and
    // around the lower percolation thresholds of these neighbourhoods.
    for (const nvf::CnConnectivity c : {nvf::CnConnectivity::Eighteen, nvf::CnConnectivity::TwentySix}) {
        table.push_back(labellingCase<unsigned char>("LabellingByte" + std::to_string(static_cast<int>(c)),
                                                     morphologySizes(), {{c, 0, 0}, {c, 3, 0}},
                                                     {0.05, 0.15, 0.3}));
    }
    addLabellingOf<short>(table, "Short");
    addLabellingOf<std::uint32_t>(table, "UInt32");
    // A component number beyond the count throws after the output holds the
    // components in raster order; that output does not depend on the executor.
    table.push_back(labellingCase<unsigned char>("LabellingMissingComponent", {{61, 59, 23}, {301, 257, 1}},
                                                 {{six, 0, 1000000}, {nvf::CnConnectivity::TwentySix, 0, 1000000}},
                                                 {0.2}, true));
    return table;
}

class FilterThreads : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterThreads, SameBitsWithEveryThreadCount) {
    EveryExecutor check(GetParam().failing);
    GetParam().inputs(check);
    if (GetParam().split) {
        EXPECT_GT(check.widest(), 1u) << "no input was cut into several tasks";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFilter, FilterThreads, ::testing::ValuesIn(everyFilter()),
                         [](const ::testing::TestParamInfo<FilterCase>& row) { return row.param.name; });

// ---------------------------------------------------------------------------
// Filters on one pool at once.

// A run with its result without an executor; called with an executor, it
// says whether the result is the same.
using Job = std::function<::testing::AssertionResult(Executor*)>;

template <class Output>
Job job(const Run<Output>& run) {
    const auto reference = std::make_shared<const Outcome<Output>>(run(nullptr));
    return [run, reference](Executor* e) { return same(run(e), *reference); };
}

// Every family: pyramid levels of an image and of a volume, dilation and
// labelling of a mask, smoothing and the gradient of a volume, 2-D and 3-D
// transforms in both precisions.
std::vector<Job> mixedJobs() {
    std::vector<Job> jobs;
    const auto image = std::make_shared<const Image<unsigned char>>(randomImage<unsigned char>({301, 257, 1}, 801));
    const auto volume = std::make_shared<const Image<unsigned char>>(randomImage<unsigned char>({65, 63, 61}, 802));
    for (const auto& in : {image, volume}) {
        jobs.push_back(job<Image<unsigned char>>([in](Executor* e) {
            return capture(
                Image<unsigned char>((in->getSizeX() + 1) / 2, (in->getSizeY() + 1) / 2, (in->getSizeZ() + 1) / 2),
                [&](Image<unsigned char>& out) {
                    ByteSeparable f;
                    f.setExecutor(e);
                    f.setKernel(Factory::smooth(0.375f), static_cast<nvf::CnCoord::Axis>(7));
                    f.execute(*in, out);
                });
        }));
    }
    std::mt19937 rng(803);
    const auto mask =
        std::make_shared<const Image<unsigned char>>(randomMask<unsigned char>({67, 61, 59}, rng, 0.3, 1));
    jobs.push_back(job<Image<unsigned char>>([mask](Executor* e) {
        return capture(Image<unsigned char>(67, 61, 59), [&](Image<unsigned char>& out) {
            nvf::CnDilationFilter<unsigned char> f;
            f.setExecutor(e);
            f.execute(*mask, out);
        });
    }));
    jobs.push_back(job<Labels>([mask](Executor* e) { return labelling(*mask, {nvf::CnConnectivity::Six, 0, 0})(e); }));
    const auto smooth = std::make_shared<const Image<float>>(randomImage<float>({45, 37, 29}, 804));
    jobs.push_back(job<Image<float>>([smooth](Executor* e) {
        return capture(Image<float>(45, 37, 29), [&](Image<float>& out) {
            nvf::CnRecursiveFilter<float, float> f;
            f.setExecutor(e);
            f.setSigma(1.8, 1.1, 2.6);
            f.execute(*smooth, out);
        });
    }));
    const auto src = std::make_shared<const Volume<unsigned char>>(randomVolume({45, 37, 29}, 805));
    jobs.push_back(job<Volume<Vec3f>>([src](Executor* e) {
        return capture(Volume<Vec3f>(45, 37, 29), [&](Volume<Vec3f>& dst) {
            nvf::CnImageGradient<unsigned char> g;
            g.setExecutor(e);
            g.setSigma(1.3);
            g.execute(*src, dst);
        });
    }));
    const auto addFft = [&jobs](auto zero) {
        using T = decltype(zero);
        const auto in = std::make_shared<const Spectrum<T>>(
            Spectrum<T>{randomArray<T>(45 * 75, 806, -1.0, 1.0), randomArray<T>(45 * 75, 807, -1.0, 1.0)});
        jobs.push_back(job<Spectrum<T>>([in](Executor* e) {
            return capture(*in, [&](Spectrum<T>& a) {
                fft_test::Cn2dFftFilter<T> f;
                f.setExecutor(e);
                f.executeWith(a.re.data(), a.im.data(), a.re.data(), a.im.data(), 45, 75, 1);
            });
        }));
        jobs.push_back(job<Spectrum<T>>([in](Executor* e) {
            return capture(*in, [&](Spectrum<T>& a) {
                fft_test::Cn3dFftFilter<T> f;
                f.setExecutor(e);
                f.executeWith(a.re.data(), a.im.data(), a.re.data(), a.im.data(), 15, 9, 25, -1);
            });
        }));
    };
    addFft(0.0f);
    addFft(0.0);
    return jobs;
}

// Each filter runs several times from its own thread, all on one pool.
TEST(FiltersOnOneThreadPool, FromSeveralThreadsAtOnce) {
    const std::vector<Job> jobs = mixedJobs();
    Executor& pool = sharedPool(3);
    constexpr int kRounds = 4;
    std::vector<std::vector<::testing::AssertionResult>> results(
        jobs.size(), std::vector<::testing::AssertionResult>(kRounds, ::testing::AssertionSuccess()));
    std::vector<std::thread> threads;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        threads.emplace_back([&, j] {
            for (int round = 0; round < kRounds; ++round) {
                results[j][static_cast<std::size_t>(round)] = jobs[j](&pool);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        for (int round = 0; round < kRounds; ++round) {
            EXPECT_TRUE(results[j][static_cast<std::size_t>(round)]) << "filter " << j << ", round " << round;
        }
    }
}

// The filters run as the tasks of one call of the pool they are given: their
// own calls come from inside its tasks.
TEST(FiltersOnOneThreadPool, InsideTasksOfThatPool) {
    const std::vector<Job> jobs = mixedJobs();
    for (const unsigned threads : threadCounts()) {
        Executor& pool = sharedPool(threads);
        std::vector<::testing::AssertionResult> results(jobs.size(), ::testing::AssertionSuccess());
        pool.parallelFor(jobs.size(), [&](std::size_t j) { results[j] = jobs[j](&pool); });
        for (std::size_t j = 0; j < jobs.size(); ++j) {
            EXPECT_TRUE(results[j]) << "filter " << j << ", " << threads << " threads";
        }
    }
}

}  // namespace
