// The library's FFTs against FFTW's best plans, single thread, on the same
// shapes: ours split (Cn1d/2d/3dFftFilter), ours interleaved (CnComplexFftFilter),
// ours real (CnRealFftFilter, forward and inverse), FFTW split (guru split),
// FFTW interleaved and FFTW r2c / c2r, every FFTW plan made with FFTW_MEASURE once
// per shape outside the timed loop.
//
// Every case times one forward transform per iteration, out of place, from a
// fixed input into an output buffer (for the inverse real transforms: from a
// fixed half spectrum into a real array), so that every contender does the
// same work on the same data and nothing grows from one iteration to the next.
// FFTW's c2r plans may overwrite their input (FFTW_DESTROY_INPUT, the only
// choice FFTW offers for multi-dimensional c2r); they read whatever is left of
// it, which changes the values but not the work.
//
// Names: fft/<family>/<shape>/<contender>. Run as (one run, medians):
//   bench_fft_peers --benchmark_enable_random_interleaving=true
//       --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// and compare the median CPU times of the same run (docs/performance.md).
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <complex>
#include <cstddef>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <nvfiltering/fft/Cn1dFftFilter.h>
#include <nvfiltering/fft/Cn2dFftFilter.h>
#include <nvfiltering/fft/Cn3dFftFilter.h>
#include <nvfiltering/fft/CnComplexFftFilter.h>
#include <nvfiltering/fft/CnRealFftFilter.h>

namespace {

namespace nvf = com::norvane::filtering;

// FFTW's float and double interfaces behind one name.
template <class T>
struct Fftw;

template <>
struct Fftw<double> {
    using Plan = fftw_plan;
    using Cx = fftw_complex;
    static void run(Plan p) { fftw_execute(p); }
    static void destroy(Plan p) { fftw_destroy_plan(p); }
    static Plan split(int rank, const fftw_iodim* dims, int howRank, const fftw_iodim* how, double* ri, double* ii,
                      double* ro, double* io) {
        return fftw_plan_guru_split_dft(rank, dims, howRank, how, ri, ii, ro, io, FFTW_MEASURE);
    }
    static Plan interleaved(int rank, const int* n, int howMany, Cx* in, Cx* out, int dist) {
        return fftw_plan_many_dft(rank, n, howMany, in, nullptr, 1, dist, out, nullptr, 1, dist, FFTW_FORWARD,
                                  FFTW_MEASURE);
    }
    static Plan r2c(int rank, const int* n, int howMany, double* in, int idist, Cx* out, int odist) {
        return fftw_plan_many_dft_r2c(rank, n, howMany, in, nullptr, 1, idist, out, nullptr, 1, odist, FFTW_MEASURE);
    }
    static Plan c2r(int rank, const int* n, int howMany, Cx* in, int idist, double* out, int odist) {
        return fftw_plan_many_dft_c2r(rank, n, howMany, in, nullptr, 1, idist, out, nullptr, 1, odist, FFTW_MEASURE);
    }
};

template <>
struct Fftw<float> {
    using Plan = fftwf_plan;
    using Cx = fftwf_complex;
    static void run(Plan p) { fftwf_execute(p); }
    static void destroy(Plan p) { fftwf_destroy_plan(p); }
    static Plan split(int rank, const fftwf_iodim* dims, int howRank, const fftwf_iodim* how, float* ri, float* ii,
                      float* ro, float* io) {
        return fftwf_plan_guru_split_dft(rank, dims, howRank, how, ri, ii, ro, io, FFTW_MEASURE);
    }
    static Plan interleaved(int rank, const int* n, int howMany, Cx* in, Cx* out, int dist) {
        return fftwf_plan_many_dft(rank, n, howMany, in, nullptr, 1, dist, out, nullptr, 1, dist, FFTW_FORWARD,
                                   FFTW_MEASURE);
    }
    static Plan r2c(int rank, const int* n, int howMany, float* in, int idist, Cx* out, int odist) {
        return fftwf_plan_many_dft_r2c(rank, n, howMany, in, nullptr, 1, idist, out, nullptr, 1, odist,
                                       FFTW_MEASURE);
    }
    static Plan c2r(int rank, const int* n, int howMany, Cx* in, int idist, float* out, int odist) {
        return fftwf_plan_many_dft_c2r(rank, n, howMany, in, nullptr, 1, idist, out, nullptr, 1, odist,
                                       FFTW_MEASURE);
    }
};

// A buffer from FFTW's allocator (aligned as its plans like it), for any type.
template <class T>
struct Buffer {
    explicit Buffer(std::size_t count) : size(count) {
        data = static_cast<T*>(fftw_malloc(sizeof(T) * (count == 0 ? 1 : count)));
    }
    ~Buffer() { fftw_free(data); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    T* data;
    std::size_t size;
};

template <class T>
void fillNoise(T* v, std::size_t m, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (std::size_t i = 0; i < m; ++i) v[i] = static_cast<T>(dist(gen));
}

// A case: a row-major shape, transformed over its last `rank` axes (the others
// are a batch; only 1-D batches have one).
struct Shape {
    std::vector<std::size_t> sizes;
    int rank;
    std::string name;

    std::size_t total() const {
        std::size_t m = 1;
        for (std::size_t s : sizes) m *= s;
        return m;
    }
    std::size_t batch() const {
        std::size_t m = 1;
        for (std::size_t i = 0; i + rank < sizes.size(); ++i) m *= sizes[i];
        return m;
    }
    std::vector<int> dims() const {
        std::vector<int> out;
        for (std::size_t i = sizes.size() - rank; i < sizes.size(); ++i) out.push_back(static_cast<int>(sizes[i]));
        return out;
    }
    std::size_t halfTotal() const { return total() / sizes.back() * (sizes.back() / 2 + 1); }
};

void setCounters(benchmark::State& state, const Shape& s) {
    state.counters["values"] = static_cast<double>(s.total());
}

template <class T>
void oursSplit(benchmark::State& state, const Shape& s) {
    const std::size_t m = s.total();
    Buffer<T> ri(m), ii(m), ro(m), io(m);
    fillNoise(ri.data, m, 1);
    fillNoise(ii.data, m, 2);
    if (s.rank == 3) {
        nvf::Cn3dFftFilter<T> f;
        const int nx = static_cast<int>(s.sizes[2]), ny = static_cast<int>(s.sizes[1]);
        const int nz = static_cast<int>(s.sizes[0]);
        for (auto _ : state) {
            f.executeWith(ri.data, ii.data, ro.data, io.data, nx, ny, nz, +1);
            benchmark::ClobberMemory();
        }
    } else if (s.rank == 2) {
        nvf::Cn2dFftFilter<T> f;
        const int n1 = static_cast<int>(s.sizes[0]), n2 = static_cast<int>(s.sizes[1]);
        for (auto _ : state) {
            f.executeWith(ri.data, ii.data, ro.data, io.data, n1, n2, +1);
            benchmark::ClobberMemory();
        }
    } else {
        nvf::Cn1dFftFilter<T> f;
        const int n = static_cast<int>(s.sizes.back()), count = static_cast<int>(s.batch());
        for (auto _ : state) {
            f.executeWith(ri.data, ii.data, ro.data, io.data, n, count, +1);
            benchmark::ClobberMemory();
        }
    }
    setCounters(state, s);
}

template <class T>
void oursInterleaved(benchmark::State& state, const Shape& s) {
    const std::size_t m = s.total();
    Buffer<std::complex<T>> in(m), out(m);
    fillNoise(reinterpret_cast<T*>(in.data), 2 * m, 1);
    nvf::CnComplexFftFilter<T> f;
    const int axes3[3] = {2, 1, 0};
    const int axes2[2] = {1, 0};
    const int axes1[1] = {static_cast<int>(s.sizes.size()) - 1};
    const int* axes = s.rank == 3 ? axes3 : (s.rank == 2 ? axes2 : axes1);
    for (auto _ : state) {
        f.executeAxes(in.data, out.data, s.sizes.data(), static_cast<int>(s.sizes.size()), axes, s.rank, +1);
        benchmark::ClobberMemory();
    }
    setCounters(state, s);
}

template <class T>
void oursReal(benchmark::State& state, const Shape& s) {
    Buffer<T> in(s.total());
    Buffer<std::complex<T>> out(s.halfTotal());
    fillNoise(in.data, s.total(), 1);
    nvf::CnRealFftFilter<T> f;
    for (auto _ : state) {
        f.executeForward(in.data, out.data, s.sizes.data(), static_cast<int>(s.sizes.size()), s.rank);
        benchmark::ClobberMemory();
    }
    setCounters(state, s);
}

template <class T>
void oursRealInverse(benchmark::State& state, const Shape& s) {
    Buffer<std::complex<T>> in(s.halfTotal());
    Buffer<T> out(s.total());
    fillNoise(reinterpret_cast<T*>(in.data), 2 * s.halfTotal(), 1);
    nvf::CnRealFftFilter<T> f;
    for (auto _ : state) {
        f.executeInverse(in.data, out.data, s.sizes.data(), static_cast<int>(s.sizes.size()), s.rank);
        benchmark::ClobberMemory();
    }
    setCounters(state, s);
}

template <class T>
void fftwSplit(benchmark::State& state, const Shape& s) {
    using F = Fftw<T>;
    using Dim = std::conditional_t<std::is_same_v<T, double>, fftw_iodim, fftwf_iodim>;
    const std::size_t m = s.total();
    Buffer<T> ri(m), ii(m), ro(m), io(m);
    std::vector<Dim> dims(s.rank);
    int stride = 1;
    for (int d = s.rank - 1; d >= 0; --d) {
        const int n = static_cast<int>(s.sizes[s.sizes.size() - s.rank + d]);
        dims[d] = Dim{n, stride, stride};
        stride *= n;
    }
    const Dim how{static_cast<int>(s.batch()), stride, stride};
    typename F::Plan plan = F::split(s.rank, dims.data(), 1, &how, ri.data, ii.data, ro.data, io.data);
    fillNoise(ri.data, m, 1);
    fillNoise(ii.data, m, 2);
    for (auto _ : state) {
        F::run(plan);
        benchmark::ClobberMemory();
    }
    F::destroy(plan);
    setCounters(state, s);
}

template <class T>
void fftwInterleaved(benchmark::State& state, const Shape& s) {
    using F = Fftw<T>;
    const std::size_t m = s.total();
    Buffer<typename F::Cx> in(m), out(m);
    const std::vector<int> n = s.dims();
    const int dist = static_cast<int>(m / s.batch());
    typename F::Plan plan = F::interleaved(s.rank, n.data(), static_cast<int>(s.batch()), in.data, out.data, dist);
    fillNoise(reinterpret_cast<T*>(in.data), 2 * m, 1);
    for (auto _ : state) {
        F::run(plan);
        benchmark::ClobberMemory();
    }
    F::destroy(plan);
    setCounters(state, s);
}

template <class T>
void fftwR2c(benchmark::State& state, const Shape& s) {
    using F = Fftw<T>;
    Buffer<T> in(s.total());
    Buffer<typename F::Cx> out(s.halfTotal());
    const std::vector<int> n = s.dims();
    const int batch = static_cast<int>(s.batch());
    typename F::Plan plan = F::r2c(s.rank, n.data(), batch, in.data, static_cast<int>(s.total() / s.batch()),
                                   out.data, static_cast<int>(s.halfTotal() / s.batch()));
    fillNoise(in.data, s.total(), 1);
    for (auto _ : state) {
        F::run(plan);
        benchmark::ClobberMemory();
    }
    F::destroy(plan);
    setCounters(state, s);
}

template <class T>
void fftwC2r(benchmark::State& state, const Shape& s) {
    using F = Fftw<T>;
    Buffer<typename F::Cx> in(s.halfTotal());
    Buffer<T> out(s.total());
    const std::vector<int> n = s.dims();
    const int batch = static_cast<int>(s.batch());
    typename F::Plan plan = F::c2r(s.rank, n.data(), batch, in.data, static_cast<int>(s.halfTotal() / s.batch()),
                                   out.data, static_cast<int>(s.total() / s.batch()));
    fillNoise(reinterpret_cast<T*>(in.data), 2 * s.halfTotal(), 1);
    for (auto _ : state) {
        F::run(plan);
        benchmark::ClobberMemory();
    }
    F::destroy(plan);
    setCounters(state, s);
}

template <class T>
void registerFamily(const std::string& family, const std::vector<Shape>& shapes) {
    using Runner = void (*)(benchmark::State&, const Shape&);
    const std::pair<const char*, Runner> contenders[] = {
        {"ours_split", &oursSplit<T>},       {"ours_interleaved", &oursInterleaved<T>},
        {"ours_r2c", &oursReal<T>},          {"ours_c2r", &oursRealInverse<T>},
        {"fftw_split", &fftwSplit<T>},       {"fftw_interleaved", &fftwInterleaved<T>},
        {"fftw_r2c", &fftwR2c<T>},           {"fftw_c2r", &fftwC2r<T>},
    };
    for (const Shape& s : shapes) {
        for (const auto& c : contenders) {
            const Runner run = c.second;
            const Shape shape = s;
            benchmark::RegisterBenchmark(("fft/" + family + "/" + s.name + "/" + c.first).c_str(),
                                         [run, shape](benchmark::State& st) { run(st, shape); })
                ->Unit(benchmark::kMillisecond);
        }
    }
}

const bool kRegistered = [] {
    registerFamily<float>("3d_float", {{{256, 256, 256}, 3, "256x256x256"},
                                       {{240, 240, 240}, 3, "240x240x240"},
                                       {{180, 200, 216}, 3, "180x200x216"}});
    registerFamily<double>("2d_double", {{{1024, 1024}, 2, "1024x1024"}, {{1000, 1000}, 2, "1000x1000"}});
    registerFamily<float>("2d_float", {{{2048, 2048}, 2, "2048x2048"}});
    registerFamily<double>("1d_batch_double", {{{4096, 1000}, 1, "4096x1000"}, {{10000, 360}, 1, "10000x360"}});
    return true;
}();

}  // namespace
