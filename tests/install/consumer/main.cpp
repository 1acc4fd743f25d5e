// An outside program that links the installed library through its package and
// runs one filter of every family: a missing export fails its link, a broken
// install fails its build.
#include <nvfiltering/nvfiltering.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <vector>

namespace nvf = com::norvane::filtering;
namespace img = com::norvane::imaging;
namespace nvm = com::norvane::math;

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::cerr << "consumer: " << what << " failed\n";
        ++failures;
    }
}

void convolution() {
    img::Image<unsigned char> in(8, 8, 1), out(4, 4, 1);
    in.fill(100);
    nvf::CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>, std::plus<float>> f;
    f.setKernel(nvf::CnKernelFactory<float>::smooth(0.375f), static_cast<nvf::CnCoord::Axis>(7));
    f.execute(in, out);
    check(out(1, 2, 0) == 100, "pyramid level of a constant image");
}

void fft() {
    std::vector<double> re(6 * 4, 0.0), im(6 * 4, 0.0);
    re[0] = 1.0;
    nvf::Cn2dFftFilter<double> f;
    f.executeWith(re.data(), im.data(), re.data(), im.data(), 6, 4, 1);
    check(std::abs(re[13] - 1.0) < 1e-12 && std::abs(im[13]) < 1e-12, "2-D transform of an impulse");
    try {
        nvf::Cn1dFftFilter<float> g;
        std::vector<float> r(7), i(7);
        g.executeWith(r.data(), i.data(), r.data(), i.data(), 7, 1, 1);
        check(false, "length 7 rejected");
    } catch (const com::norvane::Exception& e) {
        check(e.getClassPath() == "com/norvane/filtering/FftDimensionNotImplementedException", "FFT class path");
    }
}

void recursive() {
    img::Image<float> in(16, 16, 16), out(16, 16, 16);
    in.fill(1.0f);
    nvf::CnRecursiveFilter<float, float> f;
    f.setSigma(0.0, 0.0, 0.0);
    f.execute(in, out);
    check(out(8, 8, 8) == 1.0f, "recursive smoothing with sigma 0");

    img::Volume<unsigned char> src(6, 6, 6);
    for (unsigned int z = 0; z < 6; ++z)
        for (unsigned int y = 0; y < 6; ++y)
            for (unsigned int x = 0; x < 6; ++x) src(x, y, z) = static_cast<unsigned char>(x);
    img::Volume<nvm::CnVector3D<float>> dst(6, 6, 6);
    nvf::CnImageGradient<unsigned char> g;
    g.execute(src, dst);
    check(std::abs(dst(2, 2, 2).x - 1.0f) < 1e-6f && dst(2, 2, 2).y == 0.0f, "gradient of a ramp");
}

void morphology() {
    img::Image<unsigned char> mask(5, 5, 1), grown(5, 5, 1), shrunk(5, 5, 1);
    mask(2, 2, 0) = 1;
    nvf::CnDilationFilter<unsigned char> d;
    d.execute(mask, grown);
    check(grown(2, 1, 0) == 1 && grown(1, 1, 0) == 0, "dilation with the cross");
    nvf::CnErosionFilter<unsigned char> e;
    e.execute(grown, shrunk);
    check(shrunk(2, 2, 0) == 1 && shrunk(2, 1, 0) == 0, "erosion of the cross");

    img::Image<unsigned char> blobs(6, 1, 1);
    blobs[0] = blobs[1] = blobs[3] = blobs[4] = blobs[5] = 1;
    img::Image<std::uint32_t> labels(6, 1, 1);
    nvf::CnConnectedComponentFilter<unsigned char> cc;
    cc.execute(blobs, labels);
    check(cc.GetNumberOfComponents() == 2 && labels[3] == 1 && labels[0] == 2, "labelling ranked by size");

    img::Image<float> field(3, 3, 1);
    field(1, 1, 0) = 2.0f;
    img::Image<unsigned char> peaks(3, 3, 1);
    nvf::CnRegionalMaximumFilter<float> rm;
    rm.execute(field, peaks);
    check(peaks(1, 1, 0) == 1 && peaks(0, 0, 0) == 0, "regional maximum");
}

}  // namespace

int main() {
    convolution();
    fft();
    morphology();
    recursive();
    std::cout << (failures == 0 ? "consumer: ok" : "consumer: FAILED") << std::endl;
    return failures == 0 ? 0 : 1;
}
