#include "kdtree/FastNearest.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace shapescale {

namespace {

// The tree's distance: ((q0 - p0)^2 + (q1 - p1)^2) + (q2 - p2)^2 in double,
// the same operations in the same order, so the same bits.
double squaredDistance(const double* q, double x, double y, double z) {
    double t = q[0] - x;
    double s = t * t;
    t = q[1] - y;
    s += t * t;
    t = q[2] - z;
    s += t * t;
    return s;
}

// Rounded to single precision: the tree compares these.
float rounded(double value) {
    return static_cast<float>(value);
}

// A lower bound of the rounded distance of every point in the box. Each
// per-axis gap |fl(lo - q)| is at most the point's |fl(c - q)| (rounding is
// monotone), and so are the squares, their sums and the final rounding: a box
// whose bound exceeds the best rounded distance cannot hold a tie with it.
float boxBound(const double* lo, const double* hi, const double* q) {
    double s = 0.0;
    for (int a = 0; a < 3; ++a) {
        // The gap below, above, or 0 inside the box (without branches).
        const double t = std::max(std::max(lo[a] - q[a], q[a] - hi[a]), 0.0);
        s += t * t;
    }
    return rounded(s);
}

// Candidates beyond which a block's points are searched one by one: a scan
// costs about a nanosecond per candidate, a pruned search about a microsecond.
constexpr std::size_t SCAN_LIMIT = 1500;

// Deep enough for 2^30 points: one pending sibling per level.
constexpr int STACK_DEPTH = 64;

}  // namespace

FastNearest::FastNearest(const KDTree& kdTree) : tree(kdTree) {
    if (tree.axisCount() != 3)
        throw std::invalid_argument("FastNearest: the points have " +
                                    std::to_string(tree.axisCount()) + " coordinates, not 3");
    const int n = tree.pointCount();
    leafOrder.assign(static_cast<std::size_t>(n), 0);
    // The tree numbers its nodes in pre-order, so its leaves come in the
    // order in which its full search meets them.
    int order = 0;
    for (const KDTree::Node& node : tree.nodeList()) {
        if (node.isLeaf()) leafOrder[static_cast<std::size_t>(node.point_index)] = order++;
    }
    std::vector<int> ids(static_cast<std::size_t>(n));
    for (int j = 0; j < n; ++j) ids[static_cast<std::size_t>(j)] = j;
    for (auto* list : {&xs, &ys, &zs}) list->reserve(static_cast<std::size_t>(n));
    indices.reserve(static_cast<std::size_t>(n));
    orders.reserve(static_cast<std::size_t>(n));
    boxes.reserve(static_cast<std::size_t>(n / BUCKET_SIZE * 4 + 1));
    build(ids, 0, n);
}

int FastNearest::build(std::vector<int>& ids, int begin, int end) {
    Box box{};
    for (int a = 0; a < 3; ++a) {
        box.lo[a] = std::numeric_limits<double>::infinity();
        box.hi[a] = -std::numeric_limits<double>::infinity();
    }
    for (int k = begin; k < end; ++k) {
        const double* p = tree.point(ids[static_cast<std::size_t>(k)]);
        for (int a = 0; a < 3; ++a) {
            box.lo[a] = std::min(box.lo[a], p[a]);
            box.hi[a] = std::max(box.hi[a], p[a]);
        }
    }
    const int position = static_cast<int>(boxes.size());
    if (end - begin <= BUCKET_SIZE) {
        box.first = static_cast<int>(indices.size());
        box.count = end - begin;
        box.right = -1;
        for (int k = begin; k < end; ++k) {
            const int j = ids[static_cast<std::size_t>(k)];
            const double* p = tree.point(j);
            xs.push_back(p[0]);
            ys.push_back(p[1]);
            zs.push_back(p[2]);
            indices.push_back(j);
            orders.push_back(leafOrder[static_cast<std::size_t>(j)]);
        }
        boxes.push_back(box);
        return position;
    }
    // Split the widest extent at the median; the index breaks equal
    // coordinates so that the layout is the same on every run.
    int axis = 0;
    for (int a = 1; a < 3; ++a) {
        if (box.hi[a] - box.lo[a] > box.hi[axis] - box.lo[axis]) axis = a;
    }
    const int mid = begin + (end - begin) / 2;
    std::nth_element(ids.begin() + begin, ids.begin() + mid, ids.begin() + end, [&](int i, int j) {
        const double ci = tree.point(i)[axis];
        const double cj = tree.point(j)[axis];
        return ci < cj || (ci == cj && i < j);
    });
    box.first = -1;
    box.count = 0;
    boxes.push_back(box);
    build(ids, begin, mid);
    const int right = build(ids, mid, end);
    boxes[static_cast<std::size_t>(position)].right = right;
    return position;
}

int FastNearest::descentLeaf(const double* q) const {
    const std::vector<KDTree::Node>& nodes = tree.nodeList();
    std::size_t node = 0;
    int axis = 0;
    while (!nodes[node].isLeaf()) {
        node = static_cast<std::size_t>(
            nodes[node].split_value >= q[axis] ? nodes[node].left_child : nodes[node].right_child);
        axis = axis == 2 ? 0 : axis + 1;
    }
    return nodes[node].point_index;
}

int FastNearest::nearest(const double* q, int hint) const {
    if (hint < 0 || hint >= pointCount()) hint = descentLeaf(q);
    const double* h = tree.point(hint);
    // The smallest rounded distance so far, and of the points at it the one
    // first in leaf order; `tie` tells whether another point shares it.
    float best = rounded(squaredDistance(q, h[0], h[1], h[2]));
    int bestIndex = hint;
    int bestOrder = leafOrder[static_cast<std::size_t>(hint)];
    bool tie = false;

    struct Pending {
        int box;
        float bound;
    };
    Pending stack[STACK_DEPTH];
    int top = 0;
    stack[top++] = {0, boxBound(boxes[0].lo, boxes[0].hi, q)};
    while (top > 0) {
        const Pending pending = stack[--top];
        if (pending.bound > best) continue;
        int b = pending.box;
        // Down to a bucket, nearer child first; the farther one waits.
        while (boxes[static_cast<std::size_t>(b)].first < 0) {
            const int left = b + 1;
            const int right = boxes[static_cast<std::size_t>(b)].right;
            const Box& l = boxes[static_cast<std::size_t>(left)];
            const Box& r = boxes[static_cast<std::size_t>(right)];
            const float boundL = boxBound(l.lo, l.hi, q);
            const float boundR = boxBound(r.lo, r.hi, q);
            const bool leftFirst = boundL <= boundR;
            const int nearBox = leftFirst ? left : right;
            const float nearBound = leftFirst ? boundL : boundR;
            const int farBox = leftFirst ? right : left;
            const float farBound = leftFirst ? boundR : boundL;
            if (farBound <= best) stack[top++] = {farBox, farBound};
            if (nearBound > best) {
                b = -1;
                break;
            }
            b = nearBox;
        }
        if (b < 0) continue;
        const Box& bucket = boxes[static_cast<std::size_t>(b)];
        const auto first = static_cast<std::size_t>(bucket.first);
        const double* x = xs.data() + first;
        const double* y = ys.data() + first;
        const double* z = zs.data() + first;
        // All distances of the bucket first (a loop the compiler vectorises);
        // most buckets hold nothing at or below the best and end here.
        float d[BUCKET_SIZE];
        float nearest = std::numeric_limits<float>::infinity();
        for (int k = 0; k < bucket.count; ++k) {
            d[k] = rounded(squaredDistance(q, x[k], y[k], z[k]));
            nearest = std::min(nearest, d[k]);
        }
        if (nearest > best) continue;
        for (int k = 0; k < bucket.count; ++k) {
            const int index = indices[first + static_cast<std::size_t>(k)];
            const int order = orders[first + static_cast<std::size_t>(k)];
            if (d[k] < best) {
                best = d[k];
                bestIndex = index;
                bestOrder = order;
                tie = false;
            } else if (d[k] == best && index != bestIndex) {
                tie = true;
                if (order < bestOrder) {
                    bestIndex = index;
                    bestOrder = order;
                }
            }
        }
    }
    return tie ? resolveTie(q, best, bestIndex) : bestIndex;
}

int FastNearest::resolveTie(const double* q, float best, int bestIndex) const {
    // Several points share the smallest rounded distance m. The tree's full
    // search starts from its descent leaf at the unrounded distance d0 and
    // replaces it only by a strictly smaller rounded distance: the descent
    // leaf stays when its own rounded distance is m and rounding did not make
    // it smaller than d0; otherwise the first point of m in leaf order wins.
    const int descent = descentLeaf(q);
    const double* p = tree.point(descent);
    const double d0 = squaredDistance(q, p[0], p[1], p[2]);
    if (rounded(d0) == best && static_cast<double>(rounded(d0)) >= d0) return descent;
    return bestIndex;
}

void FastNearest::nearestOnBlock(const double* bx, int nx, const double* by, int ny,
                                 const double* bz, int nz, int* out, BlockScratch& scratch) const {
    const double* axes[3] = {bx, by, bz};
    const int counts[3] = {nx, ny, nz};
    double centre[3], half[3];
    for (int a = 0; a < 3; ++a) {
        const auto [lo, hi] = std::minmax_element(axes[a], axes[a] + counts[a]);
        centre[a] = 0.5 * (*lo + *hi);
        half[a] = std::max(*hi - centre[a], centre[a] - *lo);
    }
    // A point p can be nearest at a block point q only if, rounding aside,
    // |q - p| <= |q - pc| for the centre's nearest point pc. Rounding to
    // single precision can tie distances that differ by a relative 2^-23;
    // SLACK covers that many times over, and FLOOR the subnormal range.
    constexpr double SLACK = 1e-5;
    constexpr double FLOOR = 1e-30;
    const int pc = nearest(centre);
    double pcRel[3];
    double reach = 0.0;  // the largest |q - pc|^2 over the block
    for (int a = 0; a < 3; ++a) {
        pcRel[a] = tree.point(pc)[a] - centre[a];
        const double t = std::abs(pcRel[a]) + half[a];
        reach += t * t;
    }
    const double pcNorm = pcRel[0] * pcRel[0] + pcRel[1] * pcRel[1] + pcRel[2] * pcRel[2];
    const double ballLimit = reach * (1.0 + 2.0 * SLACK) + FLOOR;
    const double bisectorLimit = reach * SLACK + FLOOR;

    scratch.sorted.clear();
    int stack[STACK_DEPTH];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const int b = stack[--top];
        const Box& box = boxes[static_cast<std::size_t>(b)];
        // Squared gap between the box and the block.
        double gap = 0.0;
        for (int a = 0; a < 3; ++a) {
            const double t = std::max(
                std::max(box.lo[a] - (centre[a] + half[a]), (centre[a] - half[a]) - box.hi[a]),
                0.0);
            gap += t * t;
        }
        if (gap > ballLimit) continue;
        if (box.first < 0) {
            stack[top++] = box.right;
            stack[top++] = b + 1;
            continue;
        }
        for (int k = 0; k < box.count; ++k) {
            const auto e = static_cast<std::size_t>(box.first + k);
            const double rel[3] = {xs[e] - centre[0], ys[e] - centre[1], zs[e] - centre[2]};
            // min over the block of |q - p|^2 - |q - pc|^2, linear in q: at
            // the corner that moves q towards p and away from pc.
            double lean = 0.0;
            for (int a = 0; a < 3; ++a) lean += half[a] * std::abs(rel[a] - pcRel[a]);
            const double norm = rel[0] * rel[0] + rel[1] * rel[1] + rel[2] * rel[2];
            if (norm - pcNorm - 2.0 * lean <= bisectorLimit)
                scratch.sorted.push_back({orders[e], static_cast<int>(e)});
        }
    }
    const std::size_t m = scratch.sorted.size();
    if (m > SCAN_LIMIT) {
        // Where many points are nearly equidistant (deep inside a round
        // shape), the pruned search per point is cheaper than the long scan.
        int hint = pc;
        for (int k3 = 0; k3 < nz; ++k3) {
            for (int j = 0; j < ny; ++j) {
                for (int i = 0; i < nx; ++i) {
                    const double q[3] = {bx[i], by[j], bz[k3]};
                    hint = nearest(q, hint);
                    out[i + nx * (j + ny * k3)] = hint;
                }
            }
        }
        return;
    }
    // In the tree's leaf order: then the first of equal distances is the
    // tree's first met.
    std::sort(scratch.sorted.begin(), scratch.sorted.end());
    scratch.x.resize(m);
    scratch.y.resize(m);
    scratch.z.resize(m);
    scratch.index.resize(m);
    scratch.distance.resize(m);
    for (std::size_t k = 0; k < m; ++k) {
        const auto e = static_cast<std::size_t>(scratch.sorted[k].second);
        scratch.x[k] = xs[e];
        scratch.y[k] = ys[e];
        scratch.z[k] = zs[e];
        scratch.index[k] = indices[e];
    }
    const double* cx = scratch.x.data();
    const double* cy = scratch.y.data();
    const double* cz = scratch.z.data();
    float* d = scratch.distance.data();
    for (int k3 = 0; k3 < nz; ++k3) {
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                const double q[3] = {bx[i], by[j], bz[k3]};
                float best = std::numeric_limits<float>::infinity();
                for (std::size_t k = 0; k < m; ++k) {
                    d[k] = rounded(squaredDistance(q, cx[k], cy[k], cz[k]));
                    best = std::min(best, d[k]);
                }
                std::size_t first = 0;
                while (d[first] != best) ++first;
                std::size_t other = first + 1;
                while (other < m && d[other] != best) ++other;
                const int index = scratch.index[first];
                out[i + nx * (j + ny * k3)] = other < m ? resolveTie(q, best, index) : index;
            }
        }
    }
}

}  // namespace shapescale
