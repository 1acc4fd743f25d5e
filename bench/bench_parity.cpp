// The C++ side of the Python package's parity check (bench/python,
// --parity): the calls the Python package makes for smoothing, labelling and
// dilation of 256^3 volumes, on one thread, on the volumes the Python script
// wrote as raw files into the folder NVF_PARITY_DIR (f32.raw, u8.raw, mask.raw:
// 256^3 float32, uint8 and a 0/1 uint8 mask). Outputs are allocated once, as
// the script passes output= (labelling: per call, as label() returns a new array).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>

#include <nvfiltering/morphology/CnConnectedComponentFilter.h>
#include <nvfiltering/morphology/CnDilationFilter.h>
#include <nvfiltering/recursive/CnRecursiveFilter.h>
#include <nvimage/Image.h>

namespace {

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;

constexpr unsigned int kSide = 256;

template <class T>
Image<T> load(const char* name) {
    Image<T> image(kSide, kSide, kSide);
    const char* dir = std::getenv("NVF_PARITY_DIR");
    if (dir == nullptr) {
        return image;
    }
    const std::string path = std::string(dir) + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) {
        const std::size_t got = std::fread(image.data(), sizeof(T), image.getNumberOfVoxels(), f);
        std::fclose(f);
        if (got != image.getNumberOfVoxels()) {
            image.fill(T());
        }
    }
    return image;
}

template <class In>
void smooth(benchmark::State& state, const char* name) {
    const Image<In> in = load<In>(name);
    Image<float> out(kSide, kSide, kSide);
    nvf::CnRecursiveFilter<In, float> f;
    f.setSigma(2.0, 2.0, 2.0);
    for (auto _ : state) {
        f.execute(in, out);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_ParitySmoothFloat(benchmark::State& state) { smooth<float>(state, "f32.raw"); }
void BM_ParitySmoothUChar(benchmark::State& state) { smooth<unsigned char>(state, "u8.raw"); }

void BM_ParityLabel(benchmark::State& state) {
    const Image<unsigned char> in = load<unsigned char>("mask.raw");
    nvf::CnConnectedComponentFilter<unsigned char> f;
    f.SetClassNumber(1);
    for (auto _ : state) {
        Image<std::uint32_t> out(kSide, kSide, kSide);
        f.execute(in, out);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_ParityDilate(benchmark::State& state) {
    const Image<unsigned char> in = load<unsigned char>("u8.raw");
    Image<unsigned char> out(kSide, kSide, kSide);
    nvf::CnDilationFilter<unsigned char> f;
    for (auto _ : state) {
        f.execute(in, out);
        benchmark::DoNotOptimize(out.data());
    }
}

}  // namespace

BENCHMARK(BM_ParitySmoothFloat)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParitySmoothUChar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParityLabel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParityDilate)->Unit(benchmark::kMillisecond)->UseRealTime();
