// Connected-component labelling of one class of voxels, with ranking by size.
#pragma once

#include <nvfiltering/framework/CnFilter.h>
#include <nvfiltering/nvfiltering_export.h>
#include <nvimage/Image.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace com {
namespace norvane {
namespace filtering {

// The neighbours that join a voxel to its component, named by their number.
// A voxel's neighbours differ from it by at most one along every axis; the
// setting bounds along how many axes they may differ:
// - Six, the default: the 6 sharing a face (one axis); an image of one slice
//   has 4 of them, the pixels sharing an edge.
// - Eighteen: faces and edges (one or two axes); in one slice these are the 8
//   around a pixel.
// - TwentySix: faces, edges and corners (every neighbour); in one slice the 8.
// - Four and Eight, for images of one slice only: the 4 sharing an edge, or
//   all 8 around a pixel.
// A volume is labelled with 6, 18 or 26 neighbours; an image of one slice with 4
// or 8, as the slice of a volume would be: Six and Four give 4, Eight, Eighteen
// and TwentySix give 8.
enum class CnConnectivity : int {
    Four = 4,
    Six = 6,
    Eight = 8,
    Eighteen = 18,
    TwentySix = 26,
};

// Labels the connected regions of the voxels whose value equals the class
// number (default 1). Connectivity is 6-point (face neighbours) in three
// dimensions and 4-point in two unless setConnectivity() chooses other
// neighbours (see CnConnectivity); Set8PointConnectivity() selects 8-point,
// which is only available for images with a single slice.
//
// After execute(input, output) the output holds 0 for the background and for
// removed components, and 1..m for the kept components numbered by size, 1
// being the largest (components of equal size in the raster order of their
// first voxels); GetNumberOfComponents() returns m.
// getComponentSizes() and getFirstVoxels() then hold m entries each, entry
// k - 1 for the component numbered k: its number of voxels (so the sizes do not
// increase), and the raster index of its first voxel, x + X (y + Y z) with X and
// Y the output's dimensions. Both are found with the ranking, one step per
// component and per row of the image, with no pass over the voxels.
// - A component smaller than the minimum component size is removed.
// - A component number k in 1..n (n the number of components found) keeps the
//   k largest components together with any others of the k-th size: the
//   minimum component size is overwritten with the size of the k-th component
//   and keeps that value for later runs until SetMinimumComponentSize() is
//   called. The component number is read as a signed 32-bit value: 0 and every
//   value of 2^31 or more select nothing.
//
// execute() labels slabs of the image as tasks on the executor (setExecutor),
// merges the faces between slabs, then numbers and ranks; labels, ranking and
// the order of equal sizes do not depend on the executor.
//
// Requirements and failures:
// - 8-point connectivity on an image whose Z dimension is not 1 throws
//   EightPointConnectivityIn3DException before anything is written; 4-point
//   connectivity there throws com::norvane::Throwable, also before anything is
//   written.
// - The output must have the input's dimensions; otherwise a
//   com::norvane::Throwable is thrown before anything is written. Its earlier
//   content does not matter: the filter clears it. For T = std::uint32_t the
//   output may be the input image itself.
// - Without any foreground voxel (an empty image included) the output is all 0
//   and the number of components 0 (the sizes and first voxels empty).
// - A component number larger than n throws com::norvane::Throwable; the output
//   then holds the n components numbered 1..n in the raster order of their
//   first voxel, and the number of components, the sizes, the first voxels and
//   the minimum size keep their earlier values.
namespace detail {
struct LabellingReference;
}  // namespace detail

template <class T>
class NVFILTERING_EXPORT CnConnectedComponentFilter : public CnFilter<T, std::uint32_t> {
public:
    CnConnectedComponentFilter();
    ~CnConnectedComponentFilter() override;

    virtual void SetMinimumComponentSize(std::uint32_t size);
    virtual void SetClassNumber(T value);
    // Number of components kept by the last completed run (0 before any run).
    virtual std::int32_t GetNumberOfComponents();
    virtual void SetComponentNumber(std::uint32_t k);
    // Selects 8-point connectivity for two-dimensional images: the same as
    // setConnectivity(CnConnectivity::Eight).
    void Set8PointConnectivity();
    // The neighbours that join voxels (CnConnectivity; Six by default). A value
    // that is not one of the enumerators throws com::norvane::Throwable and
    // leaves the setting as it was. Whether the setting suits the image is
    // checked by execute().
    void setConnectivity(CnConnectivity connectivity);
    CnConnectivity getConnectivity() const;
    // Of the components kept by the last completed run, in the order of their
    // numbers (entry k - 1 for component k; empty before any run): the number
    // of voxels, and the raster index of the first voxel (X fastest, then Y,
    // then Z). The references stay valid until the next run or the filter's end.
    const std::vector<std::uint64_t>& getComponentSizes() const;
    const std::vector<std::uint64_t>& getFirstVoxels() const;

protected:
    void v_execute() override;

private:
    // The straightforward path the fast one is tested against
    // (detail/ReferencePaths.h): the defining sweeps, with this class's chain
    // resolution and ranking.
    friend struct detail::LabellingReference;

    // Root of label: follows the chain from chain[label] until a label points at
    // itself; raises *maxDepth to the number of steps taken. Changes no entry.
    std::int32_t FirstInChain(std::uint32_t* chain, std::uint32_t label, std::int32_t* maxDepth);

    // The connectivity's check against the image and the output's dimensions;
    // throws as documented.
    void checkImages() const;
    // Along how many axes at most two joined voxels may differ: 1 for Four and
    // Six, 2 for Eight and Eighteen, 3 for TwentySix.
    unsigned int neighbourAxes() const;
    void labelFast(const imaging::Image<T>& input, imaging::Image<std::uint32_t>& output);
    // Ranking, selection and removal, shared by both paths. sizes has n + 1
    // entries (entry 0 unused). Returns the final number of every label 1..n
    // (0 for removed ones) in labelToRank; throws for a missing component.
    void rankComponents(const std::vector<std::uint32_t>& sizes, std::vector<std::uint32_t>& labelToRank,
                        std::int32_t& kept);
    // Keeps the results of a completed run: sizes and firstVoxels have an entry
    // for every label 1..n (entry 0 unused), labelToRank as rankComponents
    // gives it, kept the number of kept components.
    void recordComponents(const std::vector<std::uint32_t>& sizes, const std::vector<std::uint64_t>& firstVoxels,
                          const std::vector<std::uint32_t>& labelToRank, std::int32_t kept);

    std::uint32_t m_minimumComponentSize;
    T m_classNumber;
    std::int32_t m_numberOfComponents;
    std::uint32_t m_componentNumber;
    CnConnectivity m_connectivity;
    std::vector<std::uint64_t> m_componentSizes;
    std::vector<std::uint64_t> m_firstVoxels;
};

extern template class CnConnectedComponentFilter<unsigned char>;
extern template class CnConnectedComponentFilter<short>;
extern template class CnConnectedComponentFilter<unsigned short>;
extern template class CnConnectedComponentFilter<std::uint32_t>;

}  // namespace filtering
}  // namespace norvane
}  // namespace com
