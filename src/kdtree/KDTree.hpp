#pragma once
// Balanced k-d tree over a fixed list of points, for nearest-point queries.

#include <vector>

namespace shapescale {

/// A k-d tree with one point per leaf. Every inner node splits its points at
/// the median along one axis, the axes taken in turn (0, 1, ..., 0, ...) from
/// the root down; the left subtree takes ceil(n/2) of the node's n points.
/// Nodes are numbered in pre-order, the root at 0. Immutable once built, so
/// nearest_point may be called from several threads at once.
class KDTree {
  public:
    /// One node of the tree. A leaf has point_index >= 0, split_value 0.0 and
    /// no children; an inner node has point_index -1.
    struct Node {
        double split_value = -1.0;  ///< inner: median coordinate along the node's axis
        int left_child = -1;        ///< position in the node list, -1 for a leaf
        int right_child = -1;       ///< position in the node list, -1 for a leaf
        int point_index = -1;       ///< leaf: position of its point in the point list

        bool isLeaf() const { return point_index >= 0; }
    };

    /// Builds the tree over a copy of `input`.
    /// @param[in] input  the points, all with the same number (>= 1) of coordinates;
    ///                   a point's position in this list identifies it in results
    /// @throw std::invalid_argument when `input` is empty, holds more than 2^30
    ///        points, or its points have no coordinate or unequal lengths
    explicit KDTree(std::vector<std::vector<double> > const& input);

    /// Position of the point nearest to `q` (squared Euclidean distance). The
    /// comparisons of the search are made on distances rounded to single
    /// precision; among equally near points the first one met wins (see the
    /// implementation for the exact rule).
    /// @param[in] q  query point with axisCount() coordinates
    /// @throw std::invalid_argument when q has another number of coordinates
    int nearest_point(const std::vector<double>& q) const;

    /// Every node in pre-order; the root at position 0.
    const std::vector<Node>& nodeList() const { return nodes; }
    /// The tree's copy of point `index` (axisCount() coordinates).
    const double* point(int index) const {
        return points.data() +
               static_cast<std::size_t>(index) * static_cast<std::size_t>(axis_count);
    }
    int axisCount() const { return axis_count; }
    int pointCount() const { return point_count; }

  private:
    int build_recursively(const std::vector<std::vector<int> >& rank, std::vector<int>& subset,
                          int axis);
    void heapSortAlongAxis(std::vector<int>& subset, int axis) const;
    void check_border_distance(int node, int axis, const std::vector<double>& q, double& best,
                               int& best_index) const;
    double squaredDistance(const std::vector<double>& q, int index) const;
    // (axis + 1) mod axis_count, without a division on the query path.
    int nextAxis(int axis) const { return axis + 1 == axis_count ? 0 : axis + 1; }

    // The tree's copy of the input points, flat: coordinate a of point j at
    // j * axis_count + a. One block keeps the leaf distances cache-friendly.
    std::vector<double> points;
    std::vector<Node> nodes;
    int axis_count = 0;
    int point_count = 0;
    // Construction scratch: the point holding each rank along the current
    // axis, -1 for none. Released once the tree is built.
    std::vector<int> rank_slots;
};

}  // namespace shapescale
