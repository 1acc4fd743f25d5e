// Convolution section of the demo: one pyramid level of the phantom's image and
// volume, and a same-size smoothing of the volume.
#include <string>

#include <nvfiltering/convolution/CnCoord.h>
#include <nvfiltering/convolution/CnKernelFactory.h>
#include <nvfiltering/convolution/CnSeparableFilter.h>

#include "DemoSupport.h"

namespace {

namespace nvf = com::norvane::filtering;
using ByteSeparable =
    nvf::CnSeparableFilter<unsigned char, unsigned char, float, float, std::multiplies<float>, std::plus<float>>;

const nvf::CnCoord::Axis kAllAxes = static_cast<nvf::CnCoord::Axis>(nvf::CnCoord::X | nvf::CnCoord::Y | nvf::CnCoord::Z);

void runConvolution(demo::Demo& d) {
    const demo::Phantom& p = d.phantom();
    ByteSeparable pyramid;
    pyramid.setKernel(nvf::CnKernelFactory<float>::smooth(0.375f), kAllAxes);
    const std::string types = "uint8 -> uint8";

    demo::Image<unsigned char> imageLevel(p.image.getSizeX() / 2, p.image.getSizeY() / 2, 1);
    d.run("separable pyramid level (2-D)", types, demo::sizeOf(p.image), demo::sizeOf(imageLevel), [&] {
        pyramid.execute(p.image, imageLevel);
        return demo::checksum(imageLevel);
    });
    d.writeGray("convolution_image_level1", demo::midSlice(imageLevel).data(), imageLevel.getSizeX(),
                imageLevel.getSizeY());

    demo::Image<unsigned char> volumeLevel(p.volume.getSizeX() / 2, p.volume.getSizeY() / 2, p.volume.getSizeZ() / 2);
    d.run("separable pyramid level (3-D)", types, demo::sizeOf(p.volume), demo::sizeOf(volumeLevel), [&] {
        pyramid.execute(p.volume, volumeLevel);
        return demo::checksum(volumeLevel);
    });
    d.writeGray("convolution_volume_level1", demo::midSlice(volumeLevel).data(), volumeLevel.getSizeX(),
                volumeLevel.getSizeY());

    demo::Image<unsigned char> smoothed(p.volume.getSizeX(), p.volume.getSizeY(), p.volume.getSizeZ());
    d.run("separable smoothing (same size)", types, demo::sizeOf(p.volume), demo::sizeOf(smoothed), [&] {
        pyramid.execute(p.volume, smoothed);
        return demo::checksum(smoothed);
    });
    d.writeGray("convolution_volume_smoothed", demo::midSlice(smoothed).data(), smoothed.getSizeX(),
                smoothed.getSizeY());
}

demo::RegisterSection reg(10, "convolution", &runConvolution);

}  // namespace
