#pragma once
// A fast nearest-point search that answers exactly as KDTree::nearest_point,
// rounding and ties included.

#include <utility>
#include <vector>

#include "kdtree/KDTree.hpp"

namespace shapescale {

/// Bucketed tree with tight bounding boxes over the points of a 3-D KDTree.
///
/// KDTree::nearest_point compares squared distances rounded to single
/// precision and keeps, of equally near points, its descent leaf or else the
/// first leaf met left to right; its search from the root visits far more
/// nodes than needed. This search finds the smallest rounded distance m with
/// near-first order and box pruning, keeps the point of m that comes first in
/// the tree's leaf order, and consults the tree's descent leaf only when
/// several points share m. The answer is the tree's, bit for bit.
///
/// Immutable once built: `nearest` may be called from several threads at once.
class FastNearest {
  public:
    /// Points of up to this many share one bucket.
    static constexpr int BUCKET_SIZE = 16;

    /// Indexes the points of `tree`, which must outlive this object.
    /// @throw std::invalid_argument when the tree's points do not have 3 coordinates
    explicit FastNearest(const KDTree& tree);

    /// The same index as tree.nearest_point({q[0], q[1], q[2]}).
    /// @param[in] q     query point, 3 doubles, the tree's units
    /// @param[in] hint  a point index (0 .. pointCount-1) believed to be near q, for
    ///                  example the answer for a neighbouring query, or -1. It changes
    ///                  only the speed, never the answer.
    int nearest(const double* q, int hint = -1) const;

    /// Working lists of nearestOnBlock, owned by the caller so that a loop over
    /// many blocks allocates nothing once they have grown.
    struct BlockScratch {
        std::vector<double> x, y, z;
        std::vector<int> index, order;
        std::vector<std::pair<int, int> > sorted;
        std::vector<float> distance;
    };

    /// nearest() for every point of a small block of a grid: the points
    /// (xs[i], ys[j], zs[k]), answers at out[i + nx * (j + ny * k)]. The
    /// candidates that can be nearest somewhere in the block are gathered
    /// once, then each point scans only them.
    /// @param[in]  xs, ys, zs  ascending coordinates along each axis (nx, ny, nz of them)
    /// @param[out] out         nx * ny * nz point indices, caller-owned
    void nearestOnBlock(const double* xs, int nx, const double* ys, int ny, const double* zs,
                        int nz, int* out, BlockScratch& scratch) const;

    int pointCount() const { return static_cast<int>(leafOrder.size()); }

  private:
    struct Box {
        double lo[3], hi[3];
        int first;  ///< bucket: first entry; inner: -1
        int count;  ///< bucket: number of entries
        int right;  ///< inner: the right child (the left one follows the node)
    };

    int build(std::vector<int>& ids, int begin, int end);
    int descentLeaf(const double* q) const;
    int resolveTie(const double* q, float best, int bestIndex) const;

    const KDTree& tree;
    std::vector<int> leafOrder;  ///< per point index
    // The points grouped by bucket, one array per coordinate so that a bucket's
    // distances are computed side by side.
    std::vector<double> xs, ys, zs;
    std::vector<int> indices;  ///< position in the tree's point list
    std::vector<int> orders;   ///< place of the point's leaf in the tree's leaf order
    std::vector<Box> boxes;    ///< pre-order, the root at 0
};

}  // namespace shapescale
