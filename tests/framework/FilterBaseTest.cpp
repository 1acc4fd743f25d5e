#include <gtest/gtest.h>

#include <nvfiltering/framework/Cn1dFilter.h>
#include <nvfiltering/framework/CnFilter.h>
#include <nvfiltering/framework/CnMessages.h>
#include <nvfiltering/framework/EightPointConnectivityIn3DException.h>
#include <nvfiltering/framework/FftDimensionNotImplementedException.h>

namespace nvf = com::norvane::filtering;
using com::norvane::imaging::Image;

namespace {

// Records the images each run sees; throws on request.
class RecordingFilter : public nvf::CnFilter<float, float> {
public:
    const Image<float>* seenInput = nullptr;
    Image<float>* seenOutput = nullptr;
    bool fail = false;

protected:
    void v_execute() override {
        seenInput = getInputImage();
        seenOutput = getOutputImage();
        if (fail) {
            nvf::throwThrowable("RecordingFilter: asked to fail.");
        }
        for (std::size_t i = 0; i < seenInput->getNumberOfVoxels(); ++i) {
            (*seenOutput)[i] = (*seenInput)[i] * 2.0f;
        }
    }
};

// Copies its input line into its output line; output samples past the end of
// the input line become -1.
class CopyLine : public nvf::Cn1dFilter<float, float, nvf::ImageConstIt<float>, nvf::ImageIt<float>> {
public:
    void execute() override {
        for (unsigned int k = 0; k < m_outputLength; ++k) {
            m_outputStart[k * m_outputStride] = k < m_inputLength ? m_inputStart[k * m_inputStride] : -1.0f;
        }
    }
};

}  // namespace

TEST(CnFilter, SecondExecuteUsesSecondPairOfImages) {
    RecordingFilter f;
    Image<float> a(2, 1, 1), b(2, 1, 1), c(3, 1, 1), d(3, 1, 1);
    a[0] = 1.0f;
    c[2] = 5.0f;
    f.execute(a, b);
    EXPECT_EQ(f.seenInput, &a);
    EXPECT_EQ(f.seenOutput, &b);
    EXPECT_FLOAT_EQ(b[0], 2.0f);
    f.execute(c, d);
    EXPECT_EQ(f.seenInput, &c);
    EXPECT_EQ(f.seenOutput, &d);
    EXPECT_FLOAT_EQ(d[2], 10.0f);
    EXPECT_FLOAT_EQ(b[0], 2.0f);
}

TEST(CnFilter, ExceptionReachesCallerAndFilterStaysUsable) {
    RecordingFilter f;
    Image<float> a(1, 1, 1), b(1, 1, 1);
    a[0] = 3.0f;
    f.fail = true;
    try {
        f.execute(a, b);
        FAIL() << "expected a throw";
    } catch (const com::norvane::Throwable& e) {
        EXPECT_STREQ(e.what(), "RecordingFilter: asked to fail.");
        EXPECT_EQ(e.getClassPath(), "java/lang/Throwable");
    }
    f.fail = false;
    f.execute(a, b);
    EXPECT_FLOAT_EQ(b[0], 6.0f);
}

TEST(Cn1dFilter, StartsUninitialised) {
    const CopyLine line;
    EXPECT_FALSE(line.getInputStart());
    EXPECT_EQ(line.getInputLength(), 0u);
    EXPECT_EQ(line.getInputStride(), 0u);
    EXPECT_FALSE(line.getOutputStart());
    EXPECT_EQ(line.getOutputLength(), 0u);
    EXPECT_EQ(line.getOutputStride(), 0u);
}

// A copy, and a filter assigned from another, run on the lines of their source:
// the same samples read and written, with lengths that differ (legal at this
// level).
TEST(Cn1dFilter, CopiesRunOnTheLinesOfTheirSource) {
    Image<float> in(4, 2, 1), out(4, 2, 1);
    in[1] = 7.0f;
    in[5] = 8.0f;
    CopyLine line;
    line.setInputData(in.begin() + 1, 2, 4);
    line.setOutputData(out.begin() + 3, 3, 2);
    const auto expectLineWritten = [&](const char* what) {
        const float expected[8] = {0, 0, 0, 7, 0, 8, 0, -1};
        for (std::size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(out[i], expected[i]) << what << " sample " << i;
        }
    };
    line.execute();
    expectLineWritten("source");
    out.fill(0.0f);
    CopyLine copy(line);
    copy.execute();
    expectLineWritten("copy");
    out.fill(0.0f);
    CopyLine assigned;
    Image<float> other(2, 1, 1);
    assigned.setInputData(other.begin(), 1, 1);
    assigned.setOutputData(other.begin() + 1, 1, 1);
    assigned = line;
    assigned.execute();
    expectLineWritten("assigned");
    EXPECT_EQ(other[1], 0.0f);
}

TEST(Cn1dFilter, PointerInstantiationStartsNull) {
    struct Plain : nvf::Cn1dFilter<double, double, double*, double*> {
        void execute() override {}
    } p;
    EXPECT_EQ(p.getInputStart(), nullptr);
    double buf[3] = {0, 0, 0};
    p.setInputData(buf, 3, 1);
    EXPECT_EQ(p.getInputStart(), buf);
}

TEST(LibraryExceptions, CarryMessageAndClassPathThroughTheBases) {
    try {
        throw nvf::FftDimensionNotImplementedException(nvf::messages::kFftDimensionNotImplemented,
                                                       nvf::messages::kFftDimensionClassPath);
    } catch (const com::norvane::Exception& e) {
        EXPECT_STREQ(e.what(), "FFT dimensions must be a power of 2, 3 or 5");
        EXPECT_EQ(e.getClassPath(), "com/norvane/filtering/FftDimensionNotImplementedException");
    }
    try {
        throw nvf::EightPointConnectivityIn3DException(nvf::messages::kEightPointIn3D,
                                                       nvf::messages::kEightPointClassPath);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "8-point connectivity in 3D (really 27-point) is not currently implemented");
        const auto* t = dynamic_cast<const com::norvane::Throwable*>(&e);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->getClassPath(), "com/norvane/david/EightPointConnectivityIn3DException");
        EXPECT_EQ(t->getMessage(), e.what());
    }
}
