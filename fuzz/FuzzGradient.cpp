// The gradient: sigma (tiny, huge, not a number, infinite, negative), voxel
// sizes (0, negative, not a number, infinite, denormal, huge), thin, single-slice
// and one-voxel volumes, empty and mismatched destinations. Valid calls must
// equal the three first-derivative runs of the volume filter scaled by the
// inverse voxel size, bit for bit, with a Z component of exactly 0 for a single
// slice; rejected calls must be the documented ones and write nothing.
#include <FuzzSupport.h>

#include <cmath>

using namespace nvf_fuzz;
using com::norvane::math::CnVector3D;

namespace {

double voxelSize(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<unsigned int>(0, 11)) {
        case 0: return 0.0;
        case 1: return -1.0;
        case 2: return std::numeric_limits<double>::quiet_NaN();
        case 3: return HUGE_VAL;
        case 4: return -0.0;
        case 5: return std::numeric_limits<double>::denorm_min();
        case 6: return 1e-39;
        case 7: return 1e300;
        case 8: {
            const std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            return v;
        }
        default: return 0.25 + in.ConsumeIntegral<std::uint8_t>() / 16.0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned int x = dimension(in), y = dimension(in), z = dimension(in);
    const double s = sigma(in);
    const double vx = voxelSize(in), vy = voxelSize(in), vz = voxelSize(in);
    const unsigned int destination = in.ConsumeIntegralInRange<unsigned int>(0, 15);
    const Encoding enc = encoding(in);
    const bool constant = in.ConsumeBool();
    const std::vector<std::uint8_t> pool = in.ConsumeRemainingBytes<std::uint8_t>();
    if (!fits(x, y, z, 64) || std::size_t(x) * y * z > (1u << 18)) {
        return 0;
    }

    img::Volume<unsigned char> src(x, y, z);
    src.setVoxelSize(CnVector3D<double>(vx, vy, vz));
    fill(src, pool, enc, constant);
    const img::Volume<unsigned char> srcBefore(src);
    // Destination: the source's size, or one voxel more along one axis, or none.
    img::Volume<Vec3f> dst(x + (destination == 1 ? 1u : 0u), y + (destination == 2 ? 1u : 0u),
                           destination == 3 ? 0u : z);
    fill(dst, pool, Encoding::Raw, false);
    const img::Image<Vec3f> dstBefore(dst);

    flt::CnImageGradient<unsigned char> gradient;
    gradient.setSigma(s);
    NVF_FUZZ_CHECK(gradient.getSigma() == s || std::isnan(s));
    const bool threw = throwsLeavingUntouched([&] { gradient.execute(src, dst); }, static_cast<img::Image<Vec3f>&>(dst));
    NVF_FUZZ_CHECK_MSG(sameImage<unsigned char>(src, srcBefore), "the source is not written");

    const double largestScale = static_cast<double>(std::numeric_limits<float>::max());
    const bool badVoxelSize = !(std::isfinite(vx) && vx > 0 && std::isfinite(vy) && vy > 0 && std::isfinite(vz) &&
                                vz > 0) ||
                              1.0 / vx > largestScale || 1.0 / vy > largestScale || 1.0 / vz > largestScale;
    const bool noVoxels = dst.getNumberOfVoxels() == 0;
    const bool mismatch = destination >= 1 && destination <= 3;
    if (noVoxels || mismatch || badVoxelSize) {
        NVF_FUZZ_CHECK_MSG(threw, "an empty or mismatched destination or an invalid voxel size is rejected");
        return 0;
    }

    // The reference: three runs of the volume filter, scaled per axis.
    flt::CnRecursiveFilter<unsigned char, float> filter;
    filter.setSigma(s / vx, s / vy, s / vz);
    img::Image<float> parts[3] = {img::Image<float>(x, y, z), img::Image<float>(x, y, z), img::Image<float>(x, y, z)};
    bool referenceThrew = false;
    try {
        for (int a = 0; a < 3; ++a) {
            filter.setDerivative(static_cast<flt::CnRecursiveFilter<unsigned char, float>::EnDerivativeType>(a + 1));
            filter.execute(src, parts[a]);
        }
    } catch (const com::norvane::Throwable&) {
        referenceThrew = true;
    }
    NVF_FUZZ_CHECK_MSG(threw == referenceThrew, "fails exactly where the volume filter fails");
    if (threw) {
        return 0;
    }
    NVF_FUZZ_CHECK_MSG(!(s / vx > 110.0 || s / vy > 110.0 || (z > 1 && s / vz > 110.0)) || kRelaxKnownFaults,
                       "a sigma past the convergence limit (about 107) is rejected");
    const float scale[3] = {static_cast<float>(1.0 / vx), static_cast<float>(1.0 / vy), static_cast<float>(1.0 / vz)};
    for (std::size_t i = 0; i < dst.getNumberOfVoxels(); ++i) {
        const Vec3f want(parts[0][i] * scale[0], parts[1][i] * scale[1], parts[2][i] * scale[2]);
        NVF_FUZZ_CHECK_MSG(sameValue(dst[i], want),
                           "differs from the volume filter's derivatives");
        if (z == 1) {
            NVF_FUZZ_CHECK_MSG(dst[i].z == 0.0f, "a single slice has a Z component of 0");
        }
    }
    return 0;
}
